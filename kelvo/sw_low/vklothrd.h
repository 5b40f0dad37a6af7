// The capture thread object: owns the board interface and one thread that
// opens and initialises the board, probes it while idle and runs a capture when
// asked. Callers talk to it only through atomic flags and counters; the result
// is the raw capture buffer, "VARNOKE." followed by the captured stream.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libvklow.h"
#include "vkboard.h"

enum ThwStatus : int { HW_OK = 0, HW_NOT_FOUND = -1, HW_INIT_FAILED = -2, HW_NO_MEMORY = -5 };

// Why a board that is there cannot be used; with HW_NOT_FOUND only.
enum ThwReason : int { HW_REASON_NONE = 0, HW_REASON_NO_PERMISSION = 1, HW_REASON_IN_USE = 2 };

enum TloState : uint32_t { LO_INIT = 0, LO_ARMED = 1, LO_RUN = 2, LO_FINISHED = 3 };

class TloThread {
 public:
  static constexpr uint32_t CAPTURE_MEMORY = kelvo::CAPTURE_MEMORY;
  static constexpr uint32_t MIN_CAPTURE = 1024;

  TloThread();
  ~TloThread();
  TloThread(const TloThread&) = delete;
  TloThread& operator=(const TloThread&) = delete;

  // Caller side.
  // Ignored during a capture (see isCapturing).
  void setConnect(bool aConnect);
  void setRun(bool aRun);
  void setStop(bool aStop) { stopRequest.store(aStop, std::memory_order_release); }
  bool consumeDone() { return done.exchange(false); }
  bool consumeHardwareChanged() { return hardwareChanged.exchange(false); }
  void setNeeded(unsigned aBytes);
  uint64_t getCaptureCount() const { return captureCount.load(std::memory_order_acquire); }
  int getHardwareStatus() const { return hardwareStatus.load(std::memory_order_acquire); }
  // Published with the status: read it after taking hardware-changed.
  int getHardwareReason() const { return hardwareReason.load(std::memory_order_acquire); }
  std::string getSerial() const;
  std::vector<uint8_t>* pRawData() { return &rawData; }
  bool getRun() const { return runRequest.load(std::memory_order_acquire); }
  bool getStop() const { return stopRequest.load(std::memory_order_acquire); }
  // A run is asked for or under way: rawData belongs to the capture thread.
  bool isCapturing() const {
    const uint32_t state = threadState.load(std::memory_order_acquire);
    return getRun() || state == LO_RUN || state == LO_FINISHED;
  }

  // Diagnostics, written by the capture thread.
  uint32_t getLoopCount() const { return loopCount.load(std::memory_order_acquire); }
  uint32_t getBadStateCount() const { return badStateCount.load(std::memory_order_acquire); }
  uint32_t getThreadState() const { return threadState.load(std::memory_order_acquire); }

  static unsigned frontPad() { return 11; }

  // Test seam: runs on the capture thread right after it raises done, so a test
  // can hold the thread there. Set before the first setRun; programs never set it.
  void setDoneHook(std::function<void()> aHook) { FdoneHook = std::move(aHook); }

 private:
  // Capture-thread side.
  bool consumeRun() { return runRequest.exchange(false); }
  bool consumeStop() { return stopRequest.exchange(false); }
  uint32_t getNeeded() const { return needed.load(std::memory_order_acquire); }
  void setDone(bool aDone) { done.store(aDone, std::memory_order_release); }
  void setHardwareChanged() { hardwareChanged.store(true, std::memory_order_release); }
  void setCaptureCount(uint64_t aCount) { captureCount.store(aCount, std::memory_order_release); }
  bool getString(std::string& aText, int aSelector);
  // aAfterFault raises hardware-changed even when the status comes back the same.
  bool doThreadInit(bool aAfterFault = false);
  bool doThreadInitX();
  bool doThreadRun();
  bool probe();
  void pause();
  void threadFunc();

  std::vector<uint8_t> rawData;
  std::atomic<int> hardwareStatus{HW_NOT_FOUND};
  std::atomic<int> hardwareReason{HW_REASON_NONE};
  std::atomic<bool> quit{false};
  std::atomic<uint32_t> loopCount{0};
  std::atomic<uint32_t> badStateCount{0};
  std::atomic<uint32_t> threadState{LO_INIT};
  TlibVkLow lo;
  // Guards every board operation, so the caller's connect never splits an SPI
  // operation of the capture thread.
  mutable std::mutex FboardLock;
  // Guards the serial, written during initialisation and read by the caller.
  mutable std::mutex FserialLock;
  std::string serial{"unavailable"};
  std::atomic<uint32_t> needed{8192};
  std::atomic<uint64_t> captureCount{0};
  std::atomic<bool> runRequest{false};
  std::atomic<bool> stopRequest{false};
  std::atomic<bool> done{false};
  std::atomic<bool> hardwareChanged{false};
  // Capture thread only: a transfer of the last run failed.
  bool FrunFault = false;
  std::function<void()> FdoneHook;
  std::unique_ptr<std::thread> thread;
};
