#include "vklothrd.h"

#include <libusb.h>

#include <algorithm>
#include <new>

namespace {

constexpr std::chrono::milliseconds THREAD_LOOP_DELAY{250};
constexpr int PAUSES_WITHOUT_BOARD = 4;

int reasonOf(int aOpenError) {
  switch (aOpenError) {
    case LIBUSB_ERROR_ACCESS: return HW_REASON_NO_PERMISSION;
    case LIBUSB_ERROR_BUSY: return HW_REASON_IN_USE;
    default: return HW_REASON_NONE;
  }
}

}  // namespace

TloThread::TloThread() {
  // A flash erase waits up to seconds for the FPGA: destruction must not.
  lo.pLo()->setCancel(&quit);
  thread = std::make_unique<std::thread>(&TloThread::threadFunc, this);
}

TloThread::~TloThread() {
  quit.store(true, std::memory_order_release);
  if (thread && thread->joinable()) thread->join();
  thread.reset();
}

void TloThread::setConnect(bool aConnect) {
  std::lock_guard<std::mutex> guard(FboardLock);
  // The second write reloads the counter and disarms a run, which would then never
  // end. Under the lock no run can be armed between this look and the writes.
  if (isCapturing()) return;
  lo.wrFpgaReg(TlibVkLow::REG_CONTROL, aConnect ? 0x24 : 0x20);
  lo.wrFpgaReg(TlibVkLow::REG_CONTROL, 1);
}

void TloThread::setRun(bool aRun) {
  // A stop left over from an earlier run must not end the new one, nor a done
  // flag of an abandoned run pass for the end of the new one.
  if (aRun) {
    stopRequest.store(false, std::memory_order_release);
    done.store(false, std::memory_order_release);
  }
  runRequest.store(aRun, std::memory_order_release);
}

void TloThread::setNeeded(unsigned aBytes) {
  rawData.clear();
  setCaptureCount(0);
  needed.store(aBytes, std::memory_order_release);
}

std::string TloThread::getSerial() const {
  std::lock_guard<std::mutex> guard(FserialLock);
  return serial;
}

bool TloThread::getString(std::string& aText, int aSelector) {
  std::lock_guard<std::mutex> guard(FboardLock);
  return lo.getString(aText, aSelector);
}

bool TloThread::doThreadInit(bool aAfterFault) {
  const int before = hardwareStatus.load(std::memory_order_relaxed);
  const int reasonBefore = hardwareReason.load(std::memory_order_relaxed);
  const bool ok = doThreadInitX();
  // A board that stays unusable for another reason is a change as well.
  if (aAfterFault || hardwareStatus.load(std::memory_order_relaxed) != before ||
      hardwareReason.load(std::memory_order_relaxed) != reasonBefore)
    setHardwareChanged();
  return ok;
}

bool TloThread::doThreadInitX() {
  std::string newSerial;
  bool opened;
  bool ok = false;
  int reason = HW_REASON_NONE;
  {
    std::lock_guard<std::mutex> guard(FboardLock);
    opened = lo.snifferOpen();
    if (opened) {
      ok = lo.getString(newSerial, 3);
      if (ok) ok = lo.updateFPGA(false);
    } else {
      reason = reasonOf(lo.pLo()->getOpenError());
    }
  }
  // The serial and the reason are in place before the status (and the
  // hardware-changed flag) move.
  {
    std::lock_guard<std::mutex> guard(FserialLock);
    serial = opened ? newSerial : std::string("unavailable");
  }
  hardwareReason.store(reason, std::memory_order_release);
  if (!opened) {
    hardwareStatus.store(HW_NOT_FOUND, std::memory_order_release);
    return false;
  }
  hardwareStatus.store(ok ? HW_OK : HW_INIT_FAILED, std::memory_order_release);
  return ok;
}

bool TloThread::probe() {
  std::lock_guard<std::mutex> guard(FboardLock);
  uint8_t version[2] = {0, 0};
  const bool answered = lo.pLo()->get_readonly_version(version);
  return answered && lo.isOpen();
}

bool TloThread::doThreadRun() {
  setCaptureCount(0);
  uint32_t n = getNeeded();
  n = std::min<uint32_t>(n, CAPTURE_MEMORY - frontPad());
  n = std::max<uint32_t>(n, MIN_CAPTURE);

  bool ok;
  {
    std::lock_guard<std::mutex> guard(FboardLock);
    ok = lo.doRun(n);
  }
  setDone(false);
  uint64_t captured = 0;
  bool countFailed = false;
  while (ok && captured < n) {
    uint32_t v = 0;
    {
      std::lock_guard<std::mutex> guard(FboardLock);
      ok = lo.sniffGetCount(v);
    }
    if (!ok) {
      countFailed = true;
      break;
    }
    const uint32_t remaining = v & 0x1FFFF;
    const bool full = (v & 0x20000) != 0;
    // A counter above n + 1 (a confused board) means nothing yet, not a wrap to
    // "complete"; a counter at 0 gives n + 1, so progress never passes n.
    if (full)
      captured = n;
    else if (remaining > static_cast<uint64_t>(n) + 1)
      captured = 0;
    else
      captured = std::min<uint64_t>(static_cast<uint64_t>(n) - remaining + 1, n);
    setCaptureCount(captured);
    if (consumeStop()) break;
    // Destruction ends a capture on a quiet bus rather than waiting for it to fill.
    if (quit.load(std::memory_order_acquire)) break;
  }

  if (ok) {
    std::lock_guard<std::mutex> guard(FboardLock);
    ok = lo.doIdle(static_cast<uint32_t>(captured));
  }
  FrunFault = !ok;
  // A failed count read leaves nothing trustworthy in memory: hand over no bytes.
  if (countFailed || captured == 0) {
    rawData.clear();
    setCaptureCount(0);
    return false;
  }

  try {
    rawData.resize(captured + frontPad());
  } catch (const std::bad_alloc&) {
    rawData.clear();
    rawData.shrink_to_fit();
    hardwareStatus.store(HW_NO_MEMORY, std::memory_order_release);
    setHardwareChanged();
    return false;
  }
  // The buffer is had again: only a shortage status is cleared, never a board fault.
  int shortage = HW_NO_MEMORY;
  hardwareStatus.compare_exchange_strong(shortage, HW_OK, std::memory_order_release, std::memory_order_relaxed);

  bool readOk = false;
  {
    std::lock_guard<std::mutex> guard(FboardLock);
    if (ok) {
      readOk = lo.appRead(rawData.data(), static_cast<uint32_t>(rawData.size()));
      ok = readOk;
    }
    if (ok) ok = lo.doIdle(0);
  }
  if (!readOk) {
    // Zeros where the capture should be would pass for a capture without its magic.
    rawData.clear();
    setCaptureCount(0);
    FrunFault = true;
    return true;
  }
  FrunFault = !ok;
  rawData.erase(rawData.begin(), rawData.begin() + 3);
  return true;
}

void TloThread::pause() {
  int pauses;
  {
    std::lock_guard<std::mutex> guard(FboardLock);
    pauses = lo.isOpen() ? 1 : PAUSES_WITHOUT_BOARD;
  }
  for (int i = 0; i < pauses && !quit.load(std::memory_order_acquire); ++i)
    std::this_thread::sleep_for(THREAD_LOOP_DELAY);
}

void TloThread::threadFunc() {
  while (!quit.load(std::memory_order_acquire)) {
    loopCount.fetch_add(1, std::memory_order_release);
    switch (threadState.load(std::memory_order_relaxed)) {
      case LO_INIT:
        if (doThreadInit()) threadState.store(LO_ARMED, std::memory_order_release);
        break;
      case LO_ARMED:
        if (getRun()) {
          // The state moves first, so isCapturing() never sees neither flag nor state.
          threadState.store(LO_RUN, std::memory_order_release);
          consumeRun();
        } else if (!probe())
          threadState.store(LO_INIT, std::memory_order_release);
        break;
      case LO_RUN:
        doThreadRun();
        threadState.store(LO_FINISHED, std::memory_order_release);
        break;
      case LO_FINISHED: {
        // A failed transfer is a board fault: the board is opened afresh and the
        // change is raised before done, so the caller sees both together.
        const bool armed = !FrunFault || doThreadInit(true);
        FrunFault = false;
        // The run is over before done says so: a caller that has seen done finds
        // no capture under way, and its setNeeded and decode are honoured.
        threadState.store(armed ? LO_ARMED : LO_INIT, std::memory_order_release);
        setDone(true);
        if (FdoneHook) FdoneHook();
        break;
      }
      default: badStateCount.fetch_add(1, std::memory_order_release); break;
    }
    pause();
  }
}
