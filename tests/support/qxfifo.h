// A FIFO that loads must refuse without waiting. Should a load wait on it all
// the same, a writer comes after a generous wait and leaves at once, so that
// the load reads nothing and ends: the test then fails instead of hanging.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "qxwait.h"

namespace qxtest {

class TfifoWatch {
 public:
  // With holdWriter, a writer that never writes keeps it open until the wait is over.
  explicit TfifoWatch(const std::string& path, bool holdWriter = false) {
    if (mkfifo(path.c_str(), 0666) == 0 && holdWriter) Fheld = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    Fwatch.start([this, path] {
      if (Fheld >= 0) close(Fheld);  // a load waiting in read() sees the end
      Fheld = -1;
      const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // frees one waiting in open()
      if (fd >= 0) close(fd);
    });
  }
  ~TfifoWatch() {
    Fwatch.stop();
    if (Fheld >= 0) close(Fheld);
  }
  bool ranOut() const { return Fwatch.ranOut(); }

 private:
  int Fheld = -1;
  Twatchdog Fwatch;
};

}  // namespace qxtest
