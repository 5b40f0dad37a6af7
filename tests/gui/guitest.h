// Shared by the tests that need a display (run under xvfb-run): the toolkit is
// started once per test binary, a failed toolkit assertion fails the test
// instead of opening a dialog, and pump() lets queued events run.
#pragma once

#include <wx/image.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/window.h>

#include <chrono>
#include <functional>

namespace guitest {

// Runs pending events and idle handlers for about ms milliseconds.
void pump(int ms = 50);
// Pumps until cond() holds or timeoutMs passes; returns cond().
bool pumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000);
// The window's client area as it is on screen now.
wxImage grab(wxWindow* win);

// A message box that wxTEST_DIALOG expects: its text goes to *seen, and the
// box is answered with OK instead of being shown.
class TmessageBox : public wxExpectModalBase<wxMessageDialog, TmessageBox> {
 public:
  explicit TmessageBox(wxString* seen) : Fseen(seen) {}

 protected:
  int OnInvoked(wxMessageDialog* dlg) const override {
    *Fseen = dlg->GetMessage();
    return wxID_OK;
  }
  wxString* Fseen;
};

}  // namespace guitest
