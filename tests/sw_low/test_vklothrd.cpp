// The capture thread against the simulated board: state machine, flags,
// clamps, failures and prompt shutdown.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "kelvosim.h"
#include "qxwait.h"
#include "vklothrd.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string MAGIC = "VARNOKE.";

using qxtest::waitFor;

// Far above what a loaded machine adds to work of milliseconds, far below the
// hangs these bounds stand against (an erase wait of 15 s, a capture that
// never ends).
constexpr auto PROMPT = 5000ms;

class CaptureThread : public ::testing::Test {
 protected:
  void SetUp() override {
    kelvosim::reset();
    kelvosim::setLogging(false);
  }
  void TearDown() override { kelvosim::reset(); }

  static void addBoard(uint32_t usercode = kelvosim::USERCODE_640HC) {
    kelvosim::TdevConfig c = kelvosim::boardConfig();
    c.Fserial = "KV-THREAD";
    c.Fusercode = usercode;
    kelvosim::addDevice(c);
  }

  static bool ready(TloThread& lo) {
    return waitFor([&] { return lo.getHardwareStatus() == HW_OK && lo.getThreadState() == LO_ARMED; });
  }

  // Runs one capture to its done flag; false when done never came.
  static bool capture(TloThread& lo, unsigned needed) {
    lo.setNeeded(needed);
    lo.setRun(true);
    return waitFor([&] { return lo.consumeDone(); });
  }

  static std::string head(const std::vector<uint8_t>& raw) {
    return std::string(raw.begin(), raw.begin() + std::min<size_t>(8, raw.size()));
  }
};

TEST_F(CaptureThread, FullMemoryAtOnceGivesExactlyNBytesBehindTheMagic) {
  addBoard();
  // One transfer covers a second of bus time: the first count read sees the memory full.
  kelvosim::setTicksPerTransfer(12000000ull);
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  EXPECT_TRUE(lo.consumeHardwareChanged());
  EXPECT_EQ(lo.getSerial(), "KV-THREAD");

  ASSERT_TRUE(capture(lo, 8192));
  const std::vector<uint8_t>& raw = *lo.pRawData();
  ASSERT_EQ(raw.size(), 8192u + 8);
  EXPECT_EQ(head(raw), MAGIC);
  EXPECT_EQ(lo.getCaptureCount(), 8192u);
  // The bytes behind the magic are the memory's bytes behind its magic.
  const std::vector<uint8_t> sram = kelvosim::sram(0);
  EXPECT_TRUE(std::equal(raw.begin() + 8, raw.end(), sram.begin() + 8));
  EXPECT_FALSE(lo.consumeDone()) << "done is taken once per run";
}

TEST_F(CaptureThread, NeededIsClampedToTheMemory) {
  addBoard();
  kelvosim::setTicksPerTransfer(12000000ull);
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  struct Case {
    unsigned needed, captured;
  };
  for (Case c : {Case{0, 1024}, Case{1023, 1024}, Case{1024, 1024}, Case{5000, 5000}, Case{131061, 131061},
                 Case{131062, 131061}, Case{0xFFFFFFFFu, 131061}}) {
    SCOPED_TRACE(c.needed);
    ASSERT_TRUE(capture(lo, c.needed));
    EXPECT_EQ(lo.pRawData()->size(), c.captured + 8u);
    EXPECT_EQ(lo.getCaptureCount(), c.captured);
    EXPECT_EQ(kelvosim::captureState(0).FcountReg, c.captured - 1);
  }
  EXPECT_EQ(kelvosim::captureState(0).Fruns, 7u);
}

TEST_F(CaptureThread, CountNeverExceedsTheBytesWanted) {
  addBoard();
  // Idle records of 3 bytes, polled more often than they come: with 1023 = 341 * 3
  // the poll sees the counter at 0 (nothing left, memory not yet full).
  kelvosim::setTrafficIdle();
  kelvosim::setTicksPerTransfer(200);
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  ASSERT_TRUE(capture(lo, 1024));
  EXPECT_EQ(lo.getCaptureCount(), 1024u);
  EXPECT_EQ(lo.pRawData()->size(), lo.getCaptureCount() + 8);
  EXPECT_EQ(head(*lo.pRawData()), MAGIC);
}

// A stopped capture hands over exactly the bytes the board recorded: none on a
// quiet bus, and k bytes of traffic byte for byte as the memory holds them.
TEST_F(CaptureThread, StopHandsOverExactlyTheRecordedBytes) {
  addBoard();
  kelvosim::setTicksPerTransfer(0);  // bus time moves only when the test says so
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  kelvosim::setSram(0, std::vector<uint8_t>(kelvo::CAPTURE_MEMORY, 0xA5));  // older memory
  for (size_t k : {size_t(0), size_t(1), size_t(500)}) {
    SCOPED_TRACE(k);
    std::vector<uint8_t> stream(k);
    for (size_t i = 0; i < k; ++i) stream[i] = static_cast<uint8_t>(i % 61);  // 6 ticks each
    kelvosim::setTrafficStream(stream);
    const unsigned runs = kelvosim::captureState(0).Fruns;
    lo.setNeeded(4096);
    lo.setRun(true);
    ASSERT_TRUE(waitFor([&] { return kelvosim::captureState(0).Fruns > runs && kelvosim::captureState(0).Farmed; }));
    kelvosim::advanceTicks(6 * k);  // the idle bus after the stream never ends a record
    ASSERT_TRUE(waitFor([&] { return kelvosim::captureState(0).Frecorded == k && lo.getCaptureCount() == k; }));
    EXPECT_FALSE(lo.consumeDone());
    lo.setStop(true);
    ASSERT_TRUE(waitFor([&] { return lo.consumeDone(); }));
    EXPECT_EQ(lo.getCaptureCount(), k);
    const std::vector<uint8_t>& raw = *lo.pRawData();
    if (k == 0) {
      EXPECT_TRUE(raw.empty());
      continue;
    }
    ASSERT_EQ(raw.size(), k + 8);
    EXPECT_EQ(head(raw), MAGIC);
    EXPECT_TRUE(std::equal(raw.begin() + 8, raw.end(), stream.begin()));
    const std::vector<uint8_t> sram = kelvosim::sram(0);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), sram.begin()));
  }
}

TEST_F(CaptureThread, StaleStopDoesNotEndTheNextRun) {
  addBoard();
  kelvosim::setTicksPerTransfer(12000000ull);
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  lo.setStop(true);  // nothing runs: it would otherwise end the next run early
  std::this_thread::sleep_for(300ms);
  kelvosim::setTicksPerTransfer(120000);  // a few polls before the memory fills
  ASSERT_TRUE(capture(lo, 4096));
  EXPECT_EQ(lo.getCaptureCount(), 4096u);
  EXPECT_EQ(lo.pRawData()->size(), 4096u + 8);
}

TEST_F(CaptureThread, FailedArmRaisesDoneWithAnEmptyBuffer) {
  addBoard();
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  // The count write is the first bulk OUT of a run; the idle probe is a control request.
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_OUT;
  rule.Fcount = 1;
  kelvosim::addFault(rule);
  ASSERT_TRUE(capture(lo, 2048));
  EXPECT_TRUE(lo.pRawData()->empty());
  EXPECT_EQ(lo.getCaptureCount(), 0u);
  EXPECT_EQ(lo.getHardwareStatus(), HW_OK);
}

TEST_F(CaptureThread, FailedCountReadHandsOverNothing) {
  addBoard();
  kelvosim::setTicksPerTransfer(12000000ull);
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  ASSERT_TRUE(lo.consumeHardwareChanged());
  ASSERT_TRUE(capture(lo, 2048)) << "a first run fills the buffer";
  ASSERT_EQ(lo.pRawData()->size(), 2048u + 8);
  // Every bulk IN fails from now on: the first count read of the next run.
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_IN;
  rule.Fcount = 0;
  kelvosim::addFault(rule);
  lo.setRun(true);  // no setNeeded: the old buffer must not come back
  ASSERT_TRUE(waitFor([&] { return lo.consumeDone(); }));
  EXPECT_TRUE(lo.pRawData()->empty());
  EXPECT_EQ(lo.getCaptureCount(), 0u) << "the count matches what is handed over";
  // A board fault, shown as an unplug would be: re-opened, status re-read, flag raised.
  EXPECT_TRUE(lo.consumeHardwareChanged());
  EXPECT_NE(lo.getHardwareStatus(), HW_OK) << "the board no longer answers";
}

TEST_F(CaptureThread, FailedReadBackIsABoardFault) {
  addBoard();
  kelvosim::setTicksPerTransfer(12000000ull);
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  ASSERT_TRUE(lo.consumeHardwareChanged());
  const unsigned opens = kelvosim::usbState(0).Fopens;
  // The run's bulk INs: one count read (the memory is full at once), then the read-back.
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_IN;
  rule.Fskip = 1;
  rule.Fcount = 1;
  kelvosim::addFault(rule);
  ASSERT_TRUE(capture(lo, 8192));
  EXPECT_TRUE(lo.pRawData()->empty());
  EXPECT_EQ(lo.getCaptureCount(), 0u);
  // Raised before done, so a caller that sees done can ask at once.
  EXPECT_TRUE(lo.consumeHardwareChanged());
  EXPECT_EQ(lo.getHardwareStatus(), HW_OK) << "the board answers again after re-opening";
  EXPECT_GT(kelvosim::usbState(0).Fopens, opens);
  ASSERT_TRUE(capture(lo, 2048)) << "the next capture works";
  EXPECT_EQ(lo.pRawData()->size(), 2048u + 8);
  EXPECT_FALSE(lo.consumeHardwareChanged());
}

TEST_F(CaptureThread, DestructionDuringAFlashEraseIsPrompt) {
  kelvosim::TdevConfig c = kelvosim::boardConfig();
  c.Fusercode = 0x12345678;         // out of date: the thread reprograms the flash
  c.FeraseBusyPolls = 1000000000u;  // and the erase outlasts the wait for it
  kelvosim::addDevice(c);
  auto lo = std::make_unique<TloThread>();
  ASSERT_TRUE(waitFor([&] { return kelvosim::fpgaState(0).Ferases > 0; }));
  const auto start = Clock::now();
  lo.reset();
  EXPECT_LT(Clock::now() - start, PROMPT);
  EXPECT_EQ(kelvosim::openHandles(), 0);
}

TEST_F(CaptureThread, NoBoardKeepsStatusAndEndsWithinOnePause) {
  auto lo = std::make_unique<TloThread>();
  // The search period as this machine runs it now: one pass and its four pauses.
  ASSERT_TRUE(waitFor([&] { return lo->getLoopCount() >= 2; }));
  const auto second = Clock::now();
  ASSERT_TRUE(waitFor([&] { return lo->getLoopCount() >= 3; }));
  const auto period = Clock::now() - second;
  EXPECT_EQ(lo->getHardwareStatus(), HW_NOT_FOUND);
  EXPECT_FALSE(lo->consumeHardwareChanged());
  EXPECT_EQ(lo->getSerial(), "unavailable");
  // Just after a pass: the thread is in the first of its four pauses.
  const auto start = Clock::now();
  lo.reset();
  EXPECT_LT(Clock::now() - start, period / 2) << "one pause, not the whole period";
  EXPECT_EQ(kelvosim::openHandles(), 0);
  EXPECT_EQ(kelvosim::contextRefs(), 0);
}

// A board that is there but cannot be opened says why beside status -1; each
// change of that reason is a hardware change, though the status stays -1.
TEST_F(CaptureThread, ABoardThatCannotBeOpenedSaysWhy) {
  addBoard();
  const struct {
    const char* name;
    std::function<void()> make;
    int status, reason;
  } steps[] = {
      {"no permission", [] { kelvosim::setAccessDenied(0, true); }, HW_NOT_FOUND, HW_REASON_NO_PERMISSION},
      {"held by another program",
       [] {
         kelvosim::setAccessDenied(0, false);
         kelvosim::setHeldElsewhere(0, true);
       },
       HW_NOT_FOUND, HW_REASON_IN_USE},
      {"free", [] { kelvosim::setHeldElsewhere(0, false); }, HW_OK, HW_REASON_NONE},
      {"gone", [] { kelvosim::unplug(0); }, HW_NOT_FOUND, HW_REASON_NONE},
  };
  std::unique_ptr<TloThread> lo;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    step.make();
    if (!lo) lo = std::make_unique<TloThread>();
    ASSERT_TRUE(waitFor([&] { return lo->consumeHardwareChanged(); }));
    EXPECT_EQ(lo->getHardwareStatus(), step.status);
    EXPECT_EQ(lo->getHardwareReason(), step.reason);
    EXPECT_EQ(lo->getSerial(), step.status == HW_OK ? "KV-THREAD" : "unavailable");
  }
}

TEST_F(CaptureThread, UnplugWhileArmedGoesBackToInit) {
  addBoard();
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  ASSERT_TRUE(lo.consumeHardwareChanged());
  kelvosim::unplug(0);
  ASSERT_TRUE(waitFor([&] { return lo.getHardwareStatus() == HW_NOT_FOUND; }));
  EXPECT_TRUE(lo.consumeHardwareChanged());
  EXPECT_EQ(lo.getSerial(), "unavailable");
  kelvosim::replug(0);
  ASSERT_TRUE(waitFor([&] { return lo.getHardwareStatus() == HW_OK; }));
  EXPECT_TRUE(lo.consumeHardwareChanged());
}

// This binary links images that are not stand-ins (maker_images.cpp).
TEST_F(CaptureThread, OutdatedImageIsReprogrammedOnFirstStartOnly) {
  addBoard(0x12345678);
  {
    TloThread lo;
    ASSERT_TRUE(ready(lo));
    const kelvosim::TfpgaState fpga = kelvosim::fpgaState(0);
    EXPECT_EQ(fpga.Fusercode, kelvosim::USERCODE_640HC);
    EXPECT_EQ(fpga.FprogramCount, 1u);
    EXPECT_EQ(fpga.FpagesProgrammed, kelvosim::FRAMES_640HC);
  }
  TloThread again;
  ASSERT_TRUE(ready(again));
  EXPECT_EQ(kelvosim::fpgaState(0).FprogramCount, 1u) << "a current image is left alone";
}

TEST_F(CaptureThread, InitFailureAfterOpenReportsMinusTwo) {
  kelvosim::TdevConfig c = kelvosim::boardConfig();
  c.Fidcode = 0x01234567;  // unknown model: the update cannot succeed
  kelvosim::addDevice(c);
  TloThread lo;
  ASSERT_TRUE(waitFor([&] { return lo.getHardwareStatus() == HW_INIT_FAILED; }));
  EXPECT_TRUE(lo.consumeHardwareChanged());
  EXPECT_EQ(lo.getThreadState(), LO_INIT);
}

TEST_F(CaptureThread, DestructionDuringAQuietCaptureIsPrompt) {
  addBoard();
  kelvosim::setTrafficQuiet();
  auto lo = std::make_unique<TloThread>();
  ASSERT_TRUE(ready(*lo));
  lo->setNeeded(131061);
  lo->setRun(true);
  ASSERT_TRUE(waitFor([&] { return lo->getThreadState() == LO_RUN && kelvosim::captureState(0).Farmed; }));
  const auto start = Clock::now();
  lo.reset();
  EXPECT_LT(Clock::now() - start, PROMPT);
  EXPECT_EQ(kelvosim::openHandles(), 0);
  EXPECT_FALSE(kelvosim::usbState(0).Fclaimed);
}

TEST_F(CaptureThread, ConnectIsSerialisedWithTheThreadsTraffic) {
  addBoard();
  TloThread lo;
  ASSERT_TRUE(ready(lo));
  kelvosim::setLogging(true);
  kelvosim::clearLog();
  // Connects are honoured only outside a capture: made beside two of the thread's probes.
  const uint32_t firstPass = lo.getLoopCount();
  int sent = 0;
  while (sent < 20 || sent % 2 != 0 || (lo.getLoopCount() < firstPass + 2 && sent < 20000)) {
    lo.setConnect(sent++ % 2 == 0);
    std::this_thread::sleep_for(1ms);  // leaves the thread its turn at the board lock
  }
  EXPECT_TRUE(kelvosim::captureState(0).FtargetConnected == false);

  // Every register-4 write reaches the FPGA whole, as one SPI write on channel 1.
  int connects = 0;
  for (const kelvosim::TspiRecord& r : kelvosim::spiLog()) {
    if (r.Fmosi.size() == 2 && r.Fmosi[0] == 0x44 && (r.Fmosi[1] == 0xA4 || r.Fmosi[1] == 0xA0)) {
      EXPECT_EQ(r.Fchannel, 1);
      ++connects;
    }
  }
  EXPECT_EQ(connects, sent);
  EXPECT_EQ(kelvosim::bridgeState(0).FprotocolErrors, 0u);
}

}  // namespace
