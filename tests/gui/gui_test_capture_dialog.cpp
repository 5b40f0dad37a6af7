// The real modal capture dialog under Xvfb: its own 300 ms timer steps the
// page while a driver timer presses the buttons with real mouse clicks. Every
// run is bounded: past its deadline the driver fails the test and ends the
// modal loop itself.
#include <gtest/gtest.h>
#include <wx/display.h>
#include <wx/notebook.h>
#include <wx/uiaction.h>

#include <chrono>
#include <functional>
#include <string>

#include "kelvosim.h"
#include "vkcapture.h"
#include "wxsGui.h"
#include "wxsPanes.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Calls step every 50 ms with the open dialog until step returns true, and
// ends the dialog past the limit, also after the last step.
class Tdriver : public wxTimer {
 public:
  using Tstep = std::function<bool(TcaptureDialogInner&)>;
  Tdriver(Tstep step, std::chrono::seconds limit) : Fstep(std::move(step)), Fend(Clock::now() + limit) { Start(50); }
  void Notify() override {
    auto* panel = dynamic_cast<TsnifferGui*>(wxWindow::FindWindowById(ID_SNIFFER_PANEL));
    auto* dialog = panel ? dynamic_cast<TcaptureDialogInner*>(panel->GetParent()) : nullptr;
    if (!dialog || !dialog->IsModal()) return;
    if (Clock::now() > Fend) {
      Stop();
      ADD_FAILURE() << "the dialog did not get there in time";
      panel->doExit(wxID_CANCEL);
      return;
    }
    // The pointer was moved on the previous call; click once it is there. The
    // dialog may have been fitted and centred again since: then follow it.
    if (Fpressing) {
      if (!Fbutton->GetScreenRect().Contains(wxGetMousePosition())) {
        press(Fbutton);
        return;
      }
      Fpressing = false;
      wxUIActionSimulator().MouseClick();
      return;
    }
    if (!Fdone) Fdone = Fstep(*dialog);
  }
  // Moves the pointer onto button; the next call clicks it.
  static void press(wxWindow* button) {
    Fbutton = button;
    wxUIActionSimulator().MouseMove(button->GetScreenPosition() + button->GetSize() / 2);
    Fpressing = true;
  }

 private:
  static bool Fpressing;
  static wxWindow* Fbutton;
  bool Fdone = false;
  Tstep Fstep;
  Clock::time_point Fend;
};

bool Tdriver::Fpressing = false;
wxWindow* Tdriver::Fbutton = nullptr;

void click(wxWindow* button) { Tdriver::press(button); }

TctlPage& pageOf(TcaptureDialogInner& d) { return *d.gui->ctlPage; }

class CaptureDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    kelvosim::reset();
    kelvosim::setLogging(false);
    kelvosim::setTicksPerTransfer(12000000ull);
  }
  void TearDown() override {
    EXPECT_EQ(kelvosim::openHandles(), 0) << "the dialog closed the board";
    kelvosim::reset();
  }

  static void addBoard() {
    kelvosim::TdevConfig c = kelvosim::boardConfig();
    c.Fserial = "KV-DLG";
    kelvosim::addDevice(c);
  }
  // The board comes once the page shows none: Ready then comes only from the
  // refresh that takes the thread's hardware change, so no later refresh can
  // abandon a capture that a click starts.
  static bool boardAfterNoHardware(TcaptureDialogInner& d) {
    if (pageOf(d).state != ST_NO_HARDWARE) return false;
    addBoard();
    return true;
  }

  // Steps run one after another, each until it returns true.
  static Tdriver::Tstep steps(std::vector<Tdriver::Tstep> list) {
    auto at = std::make_shared<size_t>(0);
    return [list, at](TcaptureDialogInner& d) {
      if (*at < list.size() && list[*at](d)) ++*at;
      return *at == list.size();
    };
  }
};

TEST_F(CaptureDialog, StartThroughAClickRunsToDoneAndOKHandsOverTheRows) {
  bool sawDone = false;
  size_t rowsAtDone = 0;
  Tdriver driver(steps({
                     boardAfterNoHardware,
                     [](TcaptureDialogInner& d) {
                       if (pageOf(d).state != ST_READY) return false;
                       // As opened: fixed size, Control tab, footer lines, field.
                       EXPECT_FALSE(d.HasFlag(wxRESIZE_BORDER));
                       EXPECT_EQ(d.GetMinClientSize(), d.GetMaxClientSize());
                       EXPECT_EQ(d.GetClientSize(), d.GetMinClientSize());
                       const wxRect area = wxDisplay(&d).GetClientArea();
                       const wxRect rect = d.GetScreenRect();
                       EXPECT_NEAR(rect.x + rect.width / 2, area.x + area.width / 2, 2) << "centred";
                       EXPECT_NEAR(rect.y + rect.height / 2, area.y + area.height / 2, 2) << "centred";
                       auto* book = dynamic_cast<wxNotebook*>(wxWindow::FindWindowById(ID_NOTEBOOK, &d));
                       EXPECT_TRUE(book && book->GetSelection() == 0 && book->GetPageText(0) == "Control" &&
                                   book->GetPageText(1) == "Help");
                       EXPECT_EQ(d.gui->footer->statusText->GetLabel(), "Hardware Initialized OK");
                       EXPECT_EQ(d.gui->footer->idText->GetLabel(), "Hardware Serial: KV-DLG");
                       EXPECT_EQ(pageOf(d).bufSize->GetValue(), "32");
                       click(pageOf(d).startStopBtn);
                       return true;
                     },
                     [&](TcaptureDialogInner& d) {
                       if (pageOf(d).state == ST_DONE) {
                         sawDone = true;
                         rowsAtDone = d.plinVec()->size();
                       }
                       if (!sawDone || !pageOf(d).okBtn->IsEnabled()) return false;
                       click(pageOf(d).okBtn);
                       return true;
                     },
                 }),
                 120s);
  TcaptureDialog capture;
  EXPECT_TRUE(sawDone);
  EXPECT_TRUE(capture.retOK());
  ASSERT_TRUE(capture.linRows && capture.events && capture.treeRoots);
  EXPECT_GT(capture.linRows->size(), 0u);
  EXPECT_EQ(capture.linRows->size(), rowsAtDone);
  EXPECT_GT(capture.events->size(), 0u);
}

TEST_F(CaptureDialog, CancelAndTheCloseBoxGiveNoOKAndEmptyVectors) {
  addBoard();
  Tdriver cancel(
      [](TcaptureDialogInner& d) {
        if (pageOf(d).state != ST_READY) return false;
        click(pageOf(d).cancelBtn);
        return true;
      },
      120s);
  TcaptureDialog cancelled;
  cancel.Stop();  // the next dialog has a driver of its own
  EXPECT_FALSE(cancelled.retOK());
  ASSERT_TRUE(cancelled.linRows && cancelled.events && cancelled.treeRoots);
  EXPECT_TRUE(cancelled.linRows->empty() && cancelled.events->empty() && cancelled.treeRoots->empty());

  bool timerGone = false;
  Tdriver closeBox(
      [&](TcaptureDialogInner& d) {
        if (pageOf(d).state != ST_READY) return false;
        d.Close();  // what the window manager's close box sends
        timerGone = d.gui->timer == nullptr;
        return true;
      },
      120s);
  TcaptureDialog closed;
  EXPECT_TRUE(timerGone);
  EXPECT_FALSE(closed.retOK());
  ASSERT_TRUE(closed.linRows);
  EXPECT_TRUE(closed.linRows->empty());
}

// GTK measures the texts in their own fonts only once realized: the fit must
// be redone before the first layout, or the button row gets squeezed.
TEST_F(CaptureDialog, ShownFittedToTheRealizedPage) {
  auto* dialog = new TcaptureDialogInner();
  dialog->gui->killTimer();
  dialog->Show();
  wxWindow* book = wxWindow::FindWindowById(ID_NOTEBOOK, dialog);
  ASSERT_TRUE(book);
  EXPECT_GE(book->GetSize().y, book->GetBestSize().y);
  EXPECT_EQ(dialog->GetClientSize(), dialog->GetMinClientSize());
  dialog->Hide();
  delete dialog;
}

// OK during a later capture on a quiet bus: the earlier rows come back and
// leaving does not wait for a memory that never fills.
TEST_F(CaptureDialog, OKDuringALaterQuietCaptureReturnsAtOnceWithTheEarlierRows) {
  size_t earlierRows = 0;
  Clock::time_point okAt;
  Tdriver driver(steps({
                     boardAfterNoHardware,
                     [](TcaptureDialogInner& d) {
                       if (pageOf(d).state != ST_READY) return false;
                       click(pageOf(d).startStopBtn);
                       return true;
                     },
                     [&](TcaptureDialogInner& d) {
                       if (pageOf(d).state != ST_READY || !pageOf(d).okBtn->IsEnabled()) return false;
                       earlierRows = d.plinVec()->size();
                       kelvosim::setTrafficQuiet();
                       click(pageOf(d).startStopBtn);
                       return true;
                     },
                     [&](TcaptureDialogInner& d) {
                       if (pageOf(d).state != ST_CAPTURING || !kelvosim::captureState(0).Farmed) return false;
                       okAt = Clock::now();
                       click(pageOf(d).okBtn);
                       return true;
                     },
                 }),
                 120s);
  TcaptureDialog capture;
  const auto leaving = Clock::now() - okAt;
  EXPECT_TRUE(capture.retOK());
  EXPECT_GT(earlierRows, 0u);
  ASSERT_TRUE(capture.linRows);
  EXPECT_EQ(capture.linRows->size(), earlierRows);
  // A quiet capture that were waited for would never end.
  EXPECT_LT(leaving, 10s) << "the quiet capture was ended, not waited for";
}

}  // namespace
