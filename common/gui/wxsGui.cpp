#include "wxsGui.h"

#include <wx/notebook.h>
#include <wx/sizer.h>

#include "wxsPanes.h"

namespace {

constexpr int TICK_INTERVAL = 300;  // ms

}  // namespace

// ---- Capture panel

TsnifferGui::TsnifferGui(wxWindow* parent)
    : wxPanel(parent, ID_SNIFFER_PANEL, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER) {
  SetBackgroundColour(wxColour("#f0f0f0"));
  wxFont baseFont = GetFont();
  auto* notebook = new wxNotebook(this, ID_NOTEBOOK, wxDefaultPosition, wxDefaultSize, 0);
  ctlPage = new TctlPage(notebook, baseFont);
  helpPage = new ThelpPage(notebook, baseFont);
  notebook->AddPage(ctlPage, "Control", true);
  notebook->AddPage(helpPage, "Help", false);
  footer = new Tfooter(this, baseFont);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(notebook, 1, wxEXPAND);
  sizer->Add(footer, 0, wxEXPAND | wxTOP, 5);
  SetSizer(sizer);

  // The Control page, and with it the capture thread, exists before the first tick.
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { onTick(); });
  timer = new wxTimer(this, wxID_ANY);
  timer->Start(TICK_INTERVAL, wxTIMER_CONTINUOUS);
}

// However the modal loop ended, no tick may reach the pages being destroyed.
TsnifferGui::~TsnifferGui() { killTimer(); }

void TsnifferGui::onTick() { ctlPage->onTick(); }

void TsnifferGui::killTimer() {
  if (!timer) return;
  timer->Stop();
  delete timer;
  timer = nullptr;
}

void TsnifferGui::doExit(int code) {
  killTimer();
  auto* dialog = dynamic_cast<wxDialog*>(GetParent());
  if (dialog && dialog->IsModal()) dialog->EndModal(code);
}

TexThread& TsnifferGui::exThreadRef() { return ctlPage->exThreadRef(); }

// ---- Dialog

TcaptureDialogInner::TcaptureDialogInner()
    : wxDialog(nullptr, wxID_ANY, "USB Packet Sniffer", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  gui = new TsnifferGui(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(gui, 0, 0, 0);
  SetSizer(sizer);
  fitToContents();
  Bind(wxEVT_CLOSE_WINDOW, &TcaptureDialogInner::OnCloseWindow, this);
  // GTK 3 measures texts in their own fonts only once the widgets are
  // realized; fitted before that, the page is too short and its button row
  // gets squeezed below the buttons' own height. So fit again once shown:
  // at once, before GTK first lays the dialog out, and after the first idle
  // for window managers that map the dialog later.
  Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
    if (event.IsShown()) {
      fitToContents();
      CallAfter(&TcaptureDialogInner::fitToContents);
    }
    event.Skip();
  });
}

// The fitted size is both the smallest and the largest: no resizing.
void TcaptureDialogInner::fitToContents() {
  for (wxWindow* w : {static_cast<wxWindow*>(gui->ctlPage), static_cast<wxWindow*>(gui->helpPage),
                      static_cast<wxWindow*>(gui->footer)}) {
    w->InvalidateBestSize();
    for (wxWindow* child : w->GetChildren()) child->InvalidateBestSize();
  }
  SetMinClientSize(wxDefaultSize);
  SetMaxClientSize(wxDefaultSize);
  Fit();
  const wxSize fitted = GetClientSize();
  SetMinClientSize(fitted);
  SetMaxClientSize(fitted);
  Centre(wxBOTH);
}

void TcaptureDialogInner::OnCloseWindow(wxCloseEvent&) {
  gui->killTimer();
  if (IsModal()) EndModal(wxID_CANCEL);
}

TrowVecPtr TcaptureDialogInner::pevtVec() { return gui->exThreadRef().pEventVec(); }
TrowVecPtr TcaptureDialogInner::ptreeVec() { return gui->exThreadRef().pTreeRootVec(); }
TlinVecPtr TcaptureDialogInner::plinVec() { return gui->exThreadRef().pLinearRowVec(); }
