// /proc/kmsg passes for a regular file but its reads wait for kernel messages.
// A load must refuse it at once; should one wait all the same, signals break
// the read after a generous wait, so that the test fails instead of hanging.
#pragma once

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "qxwait.h"

namespace qxtest {

constexpr const char* KMSG = "/proc/kmsg";

class TkmsgWatch {
 public:
  // Watches the thread that makes it; drains the messages pending, so that a
  // load that waits does so at once.
  TkmsgWatch() {
    const int fd = open(KMSG, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Fusable = fd >= 0;
    char buf[4096];
    for (int i = 0; fd >= 0 && i < 100000 && read(fd, buf, sizeof buf) > 0; ++i) {
    }
    if (fd >= 0) close(fd);
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a read that waits returns EINTR
    sigaction(SIGUSR1, &sa, &Fold);
    Fwatch.start([watched = pthread_self()] { pthread_kill(watched, SIGUSR1); });
  }
  ~TkmsgWatch() {
    Fwatch.stop();
    sigaction(SIGUSR1, &Fold, nullptr);
  }
  // False where /proc/kmsg cannot be opened (not root, or no such file).
  bool usable() const { return Fusable; }
  bool ranOut() const { return Fwatch.ranOut(); }

 private:
  bool Fusable = false;
  struct sigaction Fold {};
  Twatchdog Fwatch;
};

}  // namespace qxtest
