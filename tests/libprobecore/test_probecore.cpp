// The C interface in-process against the simulated board, so a test can steer
// the board, hold the capture thread and fail the buffer's allocation.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "kelvosim.h"
#include "libprobecore.h"
#include "qxallocfail.h"
#include "qxwait.h"
#include "vkexthrd.h"
#include "vklothrd.h"

namespace {

using namespace std::chrono_literals;

using qxtest::waitFor;

class Probecore : public ::testing::Test {
 protected:
  void SetUp() override {
    kelvosim::reset();
    kelvosim::setLogging(false);
    kelvosim::addDevice(kelvosim::boardConfig());
    // A second of bus time per transfer: the first count read finds the memory full.
    kelvosim::setTicksPerTransfer(12000000ull);
    h = sniffInit();
    ASSERT_NE(h, nullptr);
    lo = static_cast<TloThread*>(loh(h));
    // While the test holds the gate, the capture thread waits right after done.
    lo->setDoneHook([this] { std::lock_guard<std::mutex> wait(gate); });
    ASSERT_TRUE(waitFor([&] { return getHardwareStatus(h) == 0; }));
  }
  void TearDown() override {
    if (held.owns_lock()) held.unlock();
    sniffEnd(h);
    kelvosim::reset();
  }

  bool capture(uint32_t bytes) {
    setNeeded(h, bytes);
    setRun(h, 1);
    return waitFor([&] { return getCaptureDone(h) == 1; });
  }

  std::mutex gate;
  std::unique_lock<std::mutex> held{gate, std::defer_lock};
  void* h = nullptr;
  TloThread* lo = nullptr;
};

// With the thread held just after done, the calls the header allows next are
// honoured: the decode gives the new capture's rows, setNeeded takes effect.
TEST_F(Probecore, CallsRightAfterDoneAreHonoured) {
  ASSERT_TRUE(capture(1024));
  startDecode(h);
  const uint64_t firstCount = getDecodedCount(h);

  held.lock();
  ASSERT_TRUE(capture(8192));
  TexThread reference;
  ASSERT_TRUE(reference.startDecode(lo->pRawData()));
  ASSERT_NE(reference.getDecodedCount(), firstCount) << "the two captures must differ";
  startDecode(h);
  EXPECT_EQ(getDecodeDone(h), 1);
  EXPECT_EQ(getDecodedCount(h), reference.getDecodedCount());
  EXPECT_EQ(getPacketDataRowCount(h), reference.linearRowCount());
  setNeeded(h, 2048);
  EXPECT_EQ(getCaptureCount(h), 0u);
  EXPECT_TRUE(lo->pRawData()->empty());

  held.unlock();
  setRun(h, 1);
  ASSERT_TRUE(waitFor([&] { return getCaptureDone(h) == 1; }));
  EXPECT_EQ(getCaptureCount(h), 2048u);
}

// A decode refused under a running capture does not pass for a finished one.
TEST_F(Probecore, RefusedDecodeLeavesDecodeDoneAtZero) {
  ASSERT_TRUE(capture(4096));
  startDecode(h);
  ASSERT_EQ(getDecodeDone(h), 1);
  ASSERT_GT(getPacketDataRowCount(h), 0u);

  kelvosim::setTrafficQuiet();  // the run never fills: it lasts until stopped
  setNeeded(h, 4096);
  setRun(h, 1);
  startDecode(h);
  EXPECT_EQ(getDecodeDone(h), 0);
  setStop(h, 1);
  ASSERT_TRUE(waitFor([&] { return getCaptureDone(h) == 1; }));
  EXPECT_EQ(getDecodeDone(h), 0);
  startDecode(h);
  EXPECT_EQ(getDecodeDone(h), 1);
}

// A connect while a run is armed is ignored, so the run still ends with every byte
// asked for; after done the connect is honoured.
TEST_F(Probecore, ConnectDuringACaptureLeavesItRunning) {
  kelvosim::setTicksPerTransfer(0);  // no bus time passes: the run cannot fill
  setNeeded(h, 4096);
  setRun(h, 1);
  ASSERT_TRUE(waitFor([&] { return kelvosim::captureState(0).Farmed; }));
  setConnect(h, 1);
  ASSERT_TRUE(kelvosim::captureState(0).Farmed) << "the connect disarmed the run";
  EXPECT_FALSE(kelvosim::captureState(0).FtargetConnected);

  kelvosim::setTicksPerTransfer(12000000ull);  // the next count read finds the memory full
  ASSERT_TRUE(waitFor([&] { return getCaptureDone(h) == 1; }));
  EXPECT_EQ(getCaptureCount(h), 4096u);
  EXPECT_EQ(lo->pRawData()->size(), 4096u + 8);
  setConnect(h, 1);
  EXPECT_TRUE(kelvosim::captureState(0).FtargetConnected);
}

// A failed buffer allocation reports -5 only until a buffer is had again.
TEST_F(Probecore, NoMemoryStatusClearsWithTheNextBuffer) {
  if (!qxalloc::hooked()) GTEST_SKIP() << "no allocation hook under ThreadSanitizer";
  // The capture buffer: the bytes wanted and the front pad.
  qxalloc::arm(0, 1, std::this_thread::get_id(), 12000 + TloThread::frontPad());
  const bool ended = capture(12000);
  qxalloc::disarm();
  ASSERT_TRUE(ended);
  EXPECT_EQ(getHardwareStatus(h), -5);
  EXPECT_TRUE(lo->pRawData()->empty());

  ASSERT_TRUE(capture(8192));
  EXPECT_EQ(getHardwareStatus(h), 0);
  EXPECT_EQ(getCaptureCount(h), 8192u);
  startDecode(h);
  EXPECT_GT(getPacketDataRowCount(h), 0u);
}

// A run asked for without a board stays pending and holds the buffer;
// setRun(h, 0) withdraws it, so a board that comes later runs nothing.
TEST(ProbecoreWithoutABoard, SetRunZeroWithdrawsAPendingRun) {
  kelvosim::reset();
  kelvosim::setLogging(false);
  void* h = sniffInit();
  ASSERT_NE(h, nullptr);
  TloThread* lo = static_cast<TloThread*>(loh(h));
  startDecode(h);
  ASSERT_EQ(getDecodeDone(h), 1) << "the empty buffer decodes to no rows";
  setNeeded(h, 4096);
  setRun(h, 1);
  startDecode(h);
  EXPECT_EQ(getDecodeDone(h), 0) << "a pending run holds the buffer";
  setRun(h, 0);
  EXPECT_EQ(getRun(h), 0);
  startDecode(h);
  EXPECT_EQ(getDecodeDone(h), 1) << "withdrawn: the buffer is the caller's again";

  kelvosim::addDevice(kelvosim::boardConfig());
  ASSERT_TRUE(waitFor([&] { return getHardwareStatus(h) == 0 && lo->getThreadState() == LO_ARMED; }));
  // A run is taken in the pass after the one that armed, and armed on the
  // board in the pass after that: both have ended once a third one begins.
  const uint32_t armedBy = lo->getLoopCount();
  ASSERT_TRUE(waitFor([&] { return lo->getLoopCount() >= armedBy + 3; }));
  EXPECT_EQ(kelvosim::captureState(0).Fruns, 0u);
  EXPECT_EQ(getCaptureDone(h), 0);
  sniffEnd(h);
  kelvosim::reset();
}

}  // namespace
