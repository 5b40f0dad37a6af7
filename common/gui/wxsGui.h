// The capture dialog's windows: the modal dialog and the capture panel inside
// it (a notebook of the Control and Help pages above the footer), whose 300 ms
// timer steps the Control page.
#pragma once

#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/timer.h>

#include "vkrows.h"

class TctlPage;
class ThelpPage;
class Tfooter;
class TexThread;

constexpr int ID_SNIFFER_PANEL = 7001;
constexpr int ID_NOTEBOOK = 7002;

class TsnifferGui : public wxPanel {
 public:
  explicit TsnifferGui(wxWindow* parent);
  ~TsnifferGui() override;

  void onTick();
  // Stops and deletes the timer; a second call does nothing.
  void killTimer();
  // Kills the timer, then ends the parent dialog's modal loop with code.
  void doExit(int code);
  TexThread& exThreadRef();

  wxTimer* timer = nullptr;
  TctlPage* ctlPage = nullptr;
  ThelpPage* helpPage = nullptr;
  Tfooter* footer = nullptr;
};

class TcaptureDialogInner : public wxDialog {
 public:
  TcaptureDialogInner();
  ~TcaptureDialogInner() override = default;

  void OnCloseWindow(wxCloseEvent& event);
  TrowVecPtr pevtVec();
  TrowVecPtr ptreeVec();
  TlinVecPtr plinVec();

  TsnifferGui* gui = nullptr;

 private:
  void fitToContents();
};
