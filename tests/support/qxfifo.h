// A FIFO that loads must refuse without waiting. Should a load wait on it all
// the same, a writer comes after a generous wait and leaves at once, so that
// the load reads nothing and ends: the test then fails instead of hanging.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace qxtest {

class TfifoWatch {
 public:
  // With holdWriter, a writer that never writes keeps it open until the wait is over.
  explicit TfifoWatch(const std::string& path, bool holdWriter = false) {
    if (mkfifo(path.c_str(), 0666) == 0 && holdWriter) Fheld = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    Fthread = std::thread([this, path, deadline = std::chrono::steady_clock::now() + PATIENCE] {
      for (; !Fstop.load(std::memory_order_acquire); std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        FranOut.store(true, std::memory_order_release);
        if (Fheld >= 0) close(Fheld);  // a load waiting in read() sees the end
        Fheld = -1;
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // frees one waiting in open()
        if (fd >= 0) close(fd);
      }
    });
  }
  ~TfifoWatch() {
    Fstop.store(true, std::memory_order_release);
    Fthread.join();
    if (Fheld >= 0) close(Fheld);
  }
  // True once the wait ran out before the watch ended: a load was still waiting.
  bool ranOut() const { return FranOut.load(std::memory_order_acquire); }

 private:
  static constexpr std::chrono::seconds PATIENCE{60};
  int Fheld = -1;
  std::atomic<bool> Fstop{false};
  std::atomic<bool> FranOut{false};
  std::thread Fthread;
};

}  // namespace qxtest
