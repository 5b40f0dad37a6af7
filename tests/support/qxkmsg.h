// /proc/kmsg passes for a regular file but its reads wait for kernel messages.
// A load must refuse it at once; should one wait all the same, signals break
// the read after a generous wait, so that the test fails instead of hanging.
#pragma once

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qxtest {

constexpr const char* KMSG = "/proc/kmsg";

class TkmsgWatch {
 public:
  // Watches the thread that makes it; drains the messages pending, so that a
  // load that waits does so at once.
  TkmsgWatch() : Fwatched(pthread_self()) {
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
    Fthread = std::thread([this, deadline = std::chrono::steady_clock::now() + PATIENCE] {
      for (; !Fstop.load(std::memory_order_acquire); std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        FranOut.store(true, std::memory_order_release);
        pthread_kill(Fwatched, SIGUSR1);
      }
    });
  }
  ~TkmsgWatch() {
    Fstop.store(true, std::memory_order_release);
    Fthread.join();
    sigaction(SIGUSR1, &Fold, nullptr);
  }
  // False where /proc/kmsg cannot be opened (not root, or no such file).
  bool usable() const { return Fusable; }
  // True once the wait ran out before the watch ended: a load was still waiting.
  bool ranOut() const { return FranOut.load(std::memory_order_acquire); }

 private:
  static constexpr std::chrono::seconds PATIENCE{60};
  pthread_t Fwatched;
  bool Fusable = false;
  struct sigaction Fold {};
  std::atomic<bool> Fstop{false};
  std::atomic<bool> FranOut{false};
  std::thread Fthread;
};

}  // namespace qxtest
