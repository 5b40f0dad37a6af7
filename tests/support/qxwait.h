// Polls a condition of another thread until it holds or a generous limit passes.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace qxtest {

inline bool waitFor(const std::function<bool()>& cond,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return cond();
}

// Once a generous wait has passed, calls rescue every 50 ms until stopped, so
// that a call under watch that waits for ever fails its test instead of hanging it.
class Twatchdog {
 public:
  Twatchdog() = default;
  Twatchdog(const Twatchdog&) = delete;
  Twatchdog& operator=(const Twatchdog&) = delete;
  ~Twatchdog() { stop(); }
  void start(std::function<void()> rescue) {
    Fthread = std::thread([this, rescue, deadline = std::chrono::steady_clock::now() + PATIENCE] {
      for (; !Fstop.load(std::memory_order_acquire); std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        FranOut.store(true, std::memory_order_release);
        rescue();
      }
    });
  }
  void stop() {
    Fstop.store(true, std::memory_order_release);
    if (Fthread.joinable()) Fthread.join();
  }
  // True once the wait ran out before the watch ended: the call was still waiting.
  bool ranOut() const { return FranOut.load(std::memory_order_acquire); }

 private:
  static constexpr std::chrono::seconds PATIENCE{60};
  std::atomic<bool> Fstop{false};
  std::atomic<bool> FranOut{false};
  std::thread Fthread;
};

}  // namespace qxtest
