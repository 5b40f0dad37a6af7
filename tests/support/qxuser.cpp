#include "qxuser.h"

#include <sys/wait.h>
#include <unistd.h>

namespace qxtest {

namespace {
const uid_t NOBODY = 65534;
}

bool ownAsOrdinaryUser(const std::string& path) { return geteuid() != 0 || chown(path.c_str(), NOBODY, NOBODY) == 0; }

int asOrdinaryUser(const std::function<int()>& fn) {
  if (geteuid() != 0) return fn();
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(NOBODY) != 0 || setuid(NOBODY) != 0) _exit(99);
    _exit(fn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 99 ? WEXITSTATUS(status) : -1;
}

}  // namespace qxtest
