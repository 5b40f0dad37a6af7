// The whole program against the simulated board: the Capture button opens
// the capture dialog, Start records the board's enumeration, OK brings the
// rows into the row view, and saving them gives the file the engine makes of
// the board's own bytes. The dialog is driven by real clicks from a timer,
// since its modal loop holds the test until it ends.
#include <gtest/gtest.h>
#include <wx/log.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "kelvosim.h"
#include "startdir.h"
#include "vkapp.h"
#include "vkdataio.h"
#include "vkmainframe.h"
#include "vkrcache.h"
#include "vktree.h"
#include "vkwxmid.h"
#include "wxsGui.h"
#include "wxsPanes.h"

namespace {

void clickOn(wxWindow* w) {
  wxUIActionSimulator sim;
  sim.MouseMove(w->GetScreenRect().GetPosition() + w->GetSize() / 2);
  sim.MouseClick();
}

TcaptureDialogInner* openDialog() {
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* d = dynamic_cast<TcaptureDialogInner*>(w))
      if (d->IsShownOnScreen()) return d;
  return nullptr;
}

// Steps through the modal dialog on a timer: wait until the page is ready,
// then act (press Start and wait for OK, or press Cancel); gives up with
// Cancel after the time limit so that a fault cannot hang the test.
class TdialogDriver {
 public:
  enum Tplan { CAPTURE_THEN_OK, CANCEL };

  explicit TdialogDriver(Tplan plan) : Fplan(plan) {
    Ftimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { step(); });
    Ftimer.Start(50);
    Fstart = wxGetLocalTimeMillis();
  }
  ~TdialogDriver() { Ftimer.Stop(); }

  bool sawDialog = false;
  bool gaveUp = false;
  std::string why;  // where it gave up
  bool clickedOK = false;
  std::vector<uint8_t> raw;  // the capture buffer the page decoded
  wxString bufferField;

 private:
  void step() {
    TcaptureDialogInner* d = openDialog();
    if (!d || gaveUp) return;
    if (Fpress) {  // the pointer moved there on the tick before
      // The dialog may have been fitted and centred again since: follow it.
      if (!Ftarget->GetScreenRect().Contains(wxGetMousePosition())) {
        pointAt(Ftarget);
        return;
      }
      wxUIActionSimulator().MouseClick();
      Fpress = false;
      return;
    }
    sawDialog = true;
    TctlPage* page = d->gui->ctlPage;
    if ((wxGetLocalTimeMillis() - Fstart).GetValue() > 60000) {
      gaveUp = true;
      why = "phase " + std::to_string(Fphase) + ", page state " + std::to_string(page->state) + ", " +
            std::to_string(page->loThreadRef().getCaptureCount()) + " bytes captured";
      d->gui->doExit(wxID_CANCEL);
    } else if (Fphase == 0 && page->state == ST_READY && page->startStopBtn->IsEnabled()) {
      pointAt(Fplan == CANCEL ? page->cancelBtn : page->startStopBtn);
      Fphase = 1;
    } else if (Fphase == 1 && Fplan == CAPTURE_THEN_OK && page->okBtn->IsEnabled()) {
      raw = *page->loThreadRef().pRawData();
      bufferField = page->bufSize->GetValue();
      pointAt(page->okBtn);
      clickedOK = true;
      Fphase = 2;
    }
  }

  void pointAt(wxWindow* w) {
    Ftarget = w;
    wxUIActionSimulator().MouseMove(w->GetScreenRect().GetPosition() + w->GetSize() / 2);
    Fpress = true;
  }

  Tplan Fplan;
  int Fphase = 0;
  bool Fpress = false;
  wxWindow* Ftarget = nullptr;
  wxTimer Ftimer;
  wxLongLong Fstart;
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    kelvosim::reset();
    kelvosim::setLogging(false);
    kelvosim::addDevice(kelvosim::boardConfig());
    kelvosim::setTrafficScenario();
    startdir::freshSettings();
    // A message box would wait for a click no one makes.
    delete wxLog::SetActiveTarget(new wxLogStderr);
  }
  void TearDown() override {
    startdir::closeAll();
    EXPECT_EQ(kelvosim::openHandles(), 0);
    kelvosim::reset();
  }

  // Runs one dialog from a command to its end (the command may return only
  // when the dialog has ended).
  void runDialog(TdialogDriver& driver, const std::function<void()>& open) {
    open();
    EXPECT_TRUE(guitest::pumpUntil([&] { return driver.sawDialog && !openDialog(); }, 70000))
        << (driver.sawDialog ? "the dialog stays open" : "no dialog opened");
    EXPECT_FALSE(driver.gaveUp) << driver.why;
  }
};

TEST_F(EndToEnd, CaptureButtonToRowViewToSavedFile) {
  startdir::TstartDir dir(false, true, "qx-e2e");
  TmainFrame* frame = startQuellix();
  ASSERT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
  guitest::pump(200);
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  TdisplData& data = view->cache().rData();
  ASSERT_EQ(data.rowCount(), 0);
  int visPublished = 0;
  TsubToken counter(TOPIC_VIS_ROWS, [&](long) { ++visPublished; });

  TdialogDriver driver(TdialogDriver::CAPTURE_THEN_OK);
  runDialog(driver, [&] { clickOn(frame->FindWindow(ID_CAPTURE)); });
  ASSERT_TRUE(driver.clickedOK);
  EXPECT_EQ(visPublished, 1);

  // The engine's own decode of what the board holds: "VARNOKE." and the
  // memory behind its magic, as many bytes as the buffer field asked for.
  const unsigned long kbytes = std::stoul(driver.bufferField.ToStdString());
  const std::vector<uint8_t> sram = kelvosim::sram(0);
  const size_t wanted = kbytes << 10;
  ASSERT_LE(8 + wanted, sram.size());
  std::vector<uint8_t> raw(sram.begin(), sram.begin() + 8 + static_cast<std::ptrdiff_t>(wanted));
  std::copy_n("VARNOKE.", 8, raw.begin());
  EXPECT_EQ(raw, driver.raw) << "the capture is not the board's memory";
  TdataIO io;
  auto events = std::make_shared<TrowVec>();
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  io.rawDataToEventVec(raw, events, [](uint64_t) {});
  io.eventVecToTreeRootVec(events, roots);
  io.treeRootVecToLinVec(roots, rows);
  ASSERT_GT(rows->size(), 100u);

  // The row view shows them.
  EXPECT_EQ(data.rowCount(), static_cast<int>(rows->size()));
  ASSERT_TRUE(guitest::pumpUntil([&] {
    const auto& p = view->getPaintedRows();
    return p.size() > 5 && p[0] >= 0 && p[5] >= 0;
  }));
  for (int r : view->getPaintedRows()) EXPECT_TRUE(r < 0 || data.isVisible(r));

  // File > Save data writes exactly what the engine writes of its decode.
  const std::string saved = (dir.path / "captured.vkd").string();
  const std::string engine = (dir.path / "engine.vkd").string();
  frame->publishPath(TOPIC_FILE_SAVE, wxString::FromUTF8(saved.c_str()));
  ASSERT_EQ(io.saveLinearToFile(rows, engine), static_cast<int>(rows->size()));
  const std::string savedText = startdir::gunzip(saved);
  ASSERT_FALSE(savedText.empty());
  EXPECT_TRUE(savedText == startdir::gunzip(engine)) << "saved file differs from the engine's decode";

  // File > Capture opens the same dialog; Cancel keeps the rows.
  TdialogDriver cancel(TdialogDriver::CANCEL);
  runDialog(cancel, [&] {
    wxCommandEvent menu(wxEVT_MENU, ID_CAPTURE);
    frame->ProcessWindowEvent(menu);
  });
  EXPECT_EQ(data.rowCount(), static_cast<int>(rows->size()));
  EXPECT_EQ(visPublished, 1);
}

}  // namespace
