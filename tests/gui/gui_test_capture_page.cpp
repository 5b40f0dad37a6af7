// The Control page's capture machine against the simulated board, stepped by
// direct tick calls on a dialog that is built but never shown (its timer
// killed): no board, a board that appears, full capture, Stop, unplug and
// replug, a capture abandoned by a hardware-changed refresh, one lost to a
// failed transfer, and one without memory for its buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "guitest.h"
#include "kelvosim.h"
#include "qxallocfail.h"
#include "qxcapture.h"
#include "qxwait.h"
#include "wxsGui.h"
#include "wxsPanes.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char* const SERIAL = "KV-GUI";

std::string onOff(const wxWindow* w) { return w->IsEnabled() ? "on" : "off"; }

class CapturePage : public ::testing::Test {
 protected:
  void SetUp() override {
    kelvosim::reset();
    kelvosim::setLogging(false);
  }
  void TearDown() override {
    delete dialog;
    EXPECT_EQ(kelvosim::openHandles(), 0);
    kelvosim::reset();
  }

  static void addBoard() {
    kelvosim::TdevConfig c = kelvosim::boardConfig();
    c.Fserial = SERIAL;
    kelvosim::addDevice(c);
  }
  // Every count read finds the memory full.
  static void fillAtOnce() { kelvosim::setTicksPerTransfer(12000000ull); }

  void open() {
    dialog = new TcaptureDialogInner();
    dialog->gui->killTimer();
    page = dialog->gui->ctlPage;
  }
  // Ready with no hardware change pending: the thread raises its flag before
  // it arms, the first tick refreshes without taking it, the second takes it.
  // So no later refresh can abandon the capture that a Start begins.
  bool openReady() {
    open();
    if (!qxtest::waitFor([&] { return page->loThread.getThreadState() == LO_ARMED; })) return false;
    page->onTick();
    page->onTick();
    return page->state == ST_READY;
  }

  // Ticks every 10 ms until cond holds (checked after each tick); the
  // states passed on the way are kept in seen.
  bool tickUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit = 30000ms) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      const auto t0 = Clock::now();
      page->onTick();
      lastTick = Clock::now() - t0;
      seen.push_back(page->state);
      if (cond()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  bool tickToState(int st, std::chrono::milliseconds limit = 30000ms) {
    return tickUntil([&] { return page->state == st; }, limit);
  }
  bool passed(int st) const { return std::find(seen.begin(), seen.end(), st) != seen.end(); }

  void clickStartStop() {
    wxCommandEvent ev(wxEVT_BUTTON, ID_START_STOP);
    ev.SetEventObject(page->startStopBtn);
    page->startStopBtn->ProcessWindowEvent(ev);
  }

  // Start/Stop, its label, field, Connect, Disconnect, OK, Cancel.
  std::string controls() const {
    return onOff(page->startStopBtn) + " " + page->startStopBtn->GetLabel().utf8_string() + " " + onOff(page->bufSize) +
           " " + onOff(page->connectBtn) + " " + onOff(page->disconnectBtn) + " " + onOff(page->okBtn) + " " +
           onOff(page->cancelBtn);
  }
  std::string statusLine() const { return dialog->gui->footer->statusText->GetLabel().utf8_string(); }
  std::string idLine() const { return dialog->gui->footer->idText->GetLabel().utf8_string(); }

  // The page's rows equal a decode of the same buffer by a fresh decoder.
  void expectRowsOfTheBuffer() {
    std::vector<uint8_t> raw = *page->loThread.pRawData();
    TexThread direct;
    ASSERT_TRUE(direct.startDecode(&raw));
    EXPECT_EQ(qxtest::rowsDiff(*direct.pEventVec(), *dialog->pevtVec()), "");
    EXPECT_EQ(dialog->plinVec()->size(), direct.pLinearRowVec()->size());
    EXPECT_EQ(dialog->ptreeVec()->size(), direct.pTreeRootVec()->size());
  }

  TcaptureDialogInner* dialog = nullptr;
  TctlPage* page = nullptr;
  std::vector<int> seen;
  Clock::duration lastTick{};
};

TEST_F(CapturePage, NoBoardThenABoardAppears) {
  open();
  // As made: the field shows the validator's 32, everything waits for the first tick.
  EXPECT_EQ(page->bufSize->GetValue(), "32");
  EXPECT_EQ(statusLine(), "Initializing...");
  EXPECT_EQ(idLine(), "Initializing...");
  EXPECT_EQ(page->acqGauge->GetValue(), 100);
  EXPECT_EQ(controls(), "on Start on on on off on");

  page->onTick();
  EXPECT_EQ(page->state, ST_NO_HARDWARE);
  EXPECT_EQ(statusLine(), "Sniffer hardware not found");
  EXPECT_EQ(idLine(), "Hardware Serial: unavailable");
  EXPECT_EQ(controls(), "off Start on off off off on");
  EXPECT_EQ(page->acqText->GetLabel(), "0 Bytes");
  EXPECT_EQ(page->decText->GetLabel(), "0%");
  EXPECT_EQ(page->acqGauge->GetValue(), 0);

  // Progress at its limits: more than needed shows needed; no capture yet is 0%.
  page->setAcqProgress(40000);
  EXPECT_EQ(page->acqText->GetLabel(), "32_768 Bytes");
  EXPECT_EQ(page->acqGauge->GetValue(), 100);
  page->setDecProgress(5);
  EXPECT_EQ(page->decText->GetLabel(), "0%");
  EXPECT_EQ(page->decGauge->GetValue(), 0);

  addBoard();
  ASSERT_TRUE(tickToState(ST_READY));
  EXPECT_EQ(statusLine(), "Hardware Initialized OK");
  EXPECT_EQ(idLine(), std::string("Hardware Serial: ") + SERIAL);
  EXPECT_EQ(controls(), "on Start on on on off on");
}

// A board that is there but cannot be used says why in the footer, in words
// that fit it; without a board the plain text stays.
TEST_F(CapturePage, FooterSaysWhyABoardThatIsThereCannotBeUsed) {
  addBoard();
  kelvosim::setAccessDenied(0, true);
  const struct {
    std::function<void()> make;
    const char* text;
    int state;
  } steps[] = {
      {[] {}, "Sniffer board found, but no permission to use it (see Help)", ST_NO_HARDWARE},
      {[] {
         kelvosim::setAccessDenied(0, false);
         kelvosim::setHeldElsewhere(0, true);
       },
       "Sniffer board found, but in use by another program", ST_NO_HARDWARE},
      {[] { kelvosim::setHeldElsewhere(0, false); }, "Hardware Initialized OK", ST_READY},
      {[] { kelvosim::unplug(0); }, "Sniffer hardware not found", ST_NO_HARDWARE},
  };
  open();
  const Tfooter* footer = dialog->gui->footer;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.text);
    step.make();
    ASSERT_TRUE(tickUntil([&] { return statusLine() == step.text; }));
    EXPECT_EQ(page->state, step.state);
    EXPECT_LE(footer->statusText->GetBestSize().x, footer->GetClientSize().x);
  }
}

TEST_F(CapturePage, FullCaptureDecodesWithinOneTickToTheCapturedRows) {
  addBoard();
  fillAtOnce();
  const qxtest::TdenseCapture dense = qxtest::denseFullCapture(3);
  kelvosim::setTrafficStream(std::vector<uint8_t>(dense.raw.begin() + 8, dense.raw.end()));
  ASSERT_TRUE(openReady());
  page->bufSize->ChangeValue("1000");  // clamped to 128
  clickStartStop();
  page->onTick();
  ASSERT_EQ(page->state, ST_CAPTURING);
  EXPECT_EQ(page->bufSize->GetValue(), "128");
  EXPECT_EQ(page->needed, 131072u);
  EXPECT_EQ(controls(), "on Stop off off off off on");

  // The tick that takes the done flag decodes the whole capture.
  ASSERT_TRUE(tickToState(ST_DECODING));
  const double ms = std::chrono::duration<double, std::milli>(lastTick).count();
  std::cout << "tick that decoded the full capture (" << page->loThread.getCaptureCount() << " bytes): " << ms
            << " ms\n";
  RecordProperty("decode_tick_us", static_cast<int>(ms * 1000));
  EXPECT_EQ(controls(), "off Stop off off off off on");
  EXPECT_EQ(page->loThread.getCaptureCount(), qxtest::FULL_CAPTURE_BYTES);
  EXPECT_EQ(*page->loThread.pRawData(), dense.raw) << "the board hands over what it recorded";
  expectRowsOfTheBuffer();

  page->onTick();
  ASSERT_EQ(page->state, ST_DONE);
  EXPECT_EQ(controls(), "on Start on on on on on");
  EXPECT_EQ(page->acqText->GetLabel(), "131_061 Bytes");
  EXPECT_EQ(page->decText->GetLabel(), "100%");
  EXPECT_EQ(page->decGauge->GetValue(), 100);
  page->onTick();
  EXPECT_EQ(page->state, ST_READY);
  EXPECT_EQ(controls(), "on Start on on on on on") << "OK stays enabled";
}

TEST_F(CapturePage, StopEndsACaptureOnAQuietBusAndItsBytesAreDecoded) {
  addBoard();
  kelvosim::setTrafficQuiet();
  ASSERT_TRUE(openReady());
  page->bufSize->ChangeValue("");  // an empty field captures 4 KBytes
  clickStartStop();
  page->onTick();
  ASSERT_EQ(page->state, ST_CAPTURING);
  EXPECT_EQ(page->bufSize->GetValue(), "4");
  EXPECT_EQ(page->needed, 4096u);
  ASSERT_TRUE(tickUntil([&] { return kelvosim::captureState(0).Farmed; }));
  page->onTick();
  EXPECT_EQ(page->state, ST_CAPTURING) << "a quiet bus never fills the memory";

  clickStartStop();
  ASSERT_TRUE(tickToState(ST_DONE));
  EXPECT_TRUE(passed(ST_DECODING));
  EXPECT_LT(page->loThread.getCaptureCount(), 4096u);
  EXPECT_TRUE(page->okBtn->IsEnabled());
  EXPECT_EQ(statusLine(), "Hardware Initialized OK") << "a quiet bus is no failure";
}

// Decompress progress counts against the bytes captured, not those asked for.
TEST_F(CapturePage, DecompressPercentAfterStopIsOfTheCapturedBytes) {
  addBoard();
  kelvosim::setTicksPerTransfer(0);  // bus time moves only when the test says so
  ASSERT_TRUE(openReady());
  page->bufSize->ChangeValue("128");
  clickStartStop();
  ASSERT_TRUE(tickUntil([&] { return kelvosim::captureState(0).Farmed; }));
  // A few KBytes of the scenario, far from the 128 KiB that would end the run.
  for (int i = 0; i < 100000 && kelvosim::captureState(0).Frecorded <= 2000; ++i) kelvosim::advanceTicks(1200);
  ASSERT_TRUE(tickUntil([&] { return page->loThread.getCaptureCount() > 2000; }));
  ASSERT_LT(page->loThread.getCaptureCount(), 8192u);
  clickStartStop();
  ASSERT_TRUE(tickToState(ST_DONE));
  const uint64_t decoded = page->exThread.getDecodedCount();
  const uint64_t captured = page->loThread.getCaptureCount();
  ASSERT_NE(percentOf(decoded, captured), percentOf(decoded, page->needed));
  EXPECT_EQ(page->decText->GetLabel(), std::to_string(percentOf(decoded, captured)) + "%");
}

// A failed transfer loses the capture: the board is re-opened, the page goes
// back to Ready, and the status line says so until the next Start, or until
// the hardware status changes.
TEST_F(CapturePage, ACaptureLostToATransferFaultIsSaidUntilTheNextStart) {
  addBoard();
  fillAtOnce();
  ASSERT_TRUE(openReady());
  const std::string lost = "Capture failed. Press Start to try again.";
  kelvosim::TfaultRule readBack;  // the count read passes, the read-back fails
  readBack.Fkind = kelvosim::XK_BULK_IN;
  readBack.Fskip = 1;
  kelvosim::addFault(readBack);
  clickStartStop();
  ASSERT_TRUE(tickUntil([&] { return page->state == ST_READY && !page->captureOutstanding; }));
  tickUntil([] { return false; }, 600ms);  // long enough for any late refresh
  EXPECT_EQ(page->state, ST_READY);
  EXPECT_EQ(statusLine(), lost);
  EXPECT_EQ(controls(), "on Start on on on off on");

  clickStartStop();
  page->onTick();
  EXPECT_EQ(statusLine(), "Hardware Initialized OK");
  ASSERT_TRUE(tickToState(ST_DONE));
  EXPECT_FALSE(dialog->plinVec()->empty()) << "Start tried again";

  kelvosim::addFault(readBack);
  clickStartStop();
  ASSERT_TRUE(tickUntil([&] { return statusLine() == lost; }));
  kelvosim::unplug(0);
  ASSERT_TRUE(tickToState(ST_NO_HARDWARE));
  EXPECT_EQ(statusLine(), "Sniffer hardware not found");
}

TEST_F(CapturePage, UnplugDuringCaptureThenReplugAndCaptureAgain) {
  addBoard();
  kelvosim::setTrafficQuiet();
  ASSERT_TRUE(openReady());
  clickStartStop();
  ASSERT_TRUE(tickUntil([&] { return kelvosim::captureState(0).Farmed; }));
  kelvosim::unplug(0);
  ASSERT_TRUE(tickUntil([&] { return page->state == ST_NO_HARDWARE && !page->captureOutstanding; }));
  EXPECT_EQ(statusLine(), "Sniffer hardware not found");
  EXPECT_EQ(controls(), "off Start on off off off on");

  fillAtOnce();
  kelvosim::setTrafficScenario();
  kelvosim::replug(0);
  ASSERT_TRUE(tickToState(ST_READY));
  EXPECT_EQ(statusLine(), "Hardware Initialized OK");
  clickStartStop();
  ASSERT_TRUE(tickToState(ST_DONE));
  EXPECT_EQ(page->loThread.getCaptureCount(), 32768u);
  EXPECT_FALSE(dialog->plinVec()->empty());
  expectRowsOfTheBuffer();
}

// The thread's first initialisation raises hardware-changed; a Start taken
// before that flag is leaves the capture running behind a Ready page. A new
// Start must wait for that capture's done (taken and dropped), never empty
// the buffer under it, and never decode it.
TEST_F(CapturePage, CaptureAbandonedByARefreshIsNeverDecodedNorResized) {
  addBoard();
  kelvosim::setTrafficQuiet();
  open();
  ASSERT_TRUE(guitest::pumpUntil([&] { return page->loThread.getHardwareStatus() == HW_OK; }));
  clickStartStop();  // before the first tick
  page->onTick();
  ASSERT_EQ(page->state, ST_CAPTURING);
  ASSERT_TRUE(guitest::pumpUntil([&] { return kelvosim::captureState(0).Farmed; }));
  page->onTick();
  ASSERT_EQ(page->state, ST_READY) << "the initialisation's hardware-changed refreshes the page";
  EXPECT_TRUE(page->loThread.isCapturing());
  EXPECT_TRUE(page->captureOutstanding);

  seen.clear();
  clickStartStop();
  page->onTick();
  EXPECT_EQ(page->state, ST_READY) << "no new run while the old one owns the buffer";
  EXPECT_TRUE(page->startStopClicked);
  EXPECT_EQ(kelvosim::captureState(0).Fruns, 1u);

  fillAtOnce();
  kelvosim::setTrafficScenario();
  ASSERT_TRUE(tickToState(ST_CAPTURING));
  EXPECT_FALSE(passed(ST_DECODING)) << "the abandoned capture is not decoded";
  EXPECT_FALSE(page->exThread.getDone());
  ASSERT_TRUE(tickToState(ST_DONE));
  EXPECT_EQ(kelvosim::captureState(0).Fruns, 2u);
  const std::vector<uint8_t>& raw = *page->loThread.pRawData();
  ASSERT_EQ(raw.size(), 32768u + 8);
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 8), "VARNOKE.");
  EXPECT_FALSE(dialog->plinVec()->empty());
  expectRowsOfTheBuffer();
}

// No memory for the buffer is no board fault: the page stays usable, says to
// press Start, and that Start asks for a buffer again.
TEST_F(CapturePage, NoMemoryForTheBufferLetsStartTryAgain) {
  if (!qxalloc::hooked()) GTEST_SKIP() << "no allocation hook under ThreadSanitizer";
  addBoard();
  fillAtOnce();
  ASSERT_TRUE(openReady());
  // The capture buffer of the default 32 KBytes and its front pad, once.
  qxalloc::arm(0, 1, std::this_thread::get_id(), 32768 + TloThread::frontPad());
  clickStartStop();
  const bool ended = tickUntil([&] { return page->state != ST_CAPTURING && !page->captureOutstanding; });
  qxalloc::disarm();
  ASSERT_TRUE(ended);
  EXPECT_EQ(page->loThread.getHardwareStatus(), HW_NO_MEMORY);
  EXPECT_EQ(page->state, ST_READY);
  EXPECT_EQ(statusLine(), "Memory allocation failed. Press Start to try again.");
  EXPECT_EQ(controls(), "on Start on on on off on");

  clickStartStop();
  ASSERT_TRUE(tickToState(ST_DONE));
  EXPECT_EQ(page->loThread.getHardwareStatus(), HW_OK);
  EXPECT_EQ(statusLine(), "Hardware Initialized OK");
  expectRowsOfTheBuffer();
}

}  // namespace
