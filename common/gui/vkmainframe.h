// The main window: sized to the display, the File and Help menus, the button
// bar, a one-pixel rule and the panes below. Menu items and buttons talk to
// the panes only through the hub in _G; the frame keeps the zoom state as the
// point size of its own font and hands it down to the row view.
#pragma once

#include <wx/aboutdlg.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/icon.h>
#include <wx/panel.h>

#include <string>

#include "vkglobs.h"

class MidPane;

enum TmainIds : int {
  ID_SHOW_SOF = 6000,
  ID_SHOW_NAK = 6001,
  ID_SHOW_PKT = 6002,
  ID_ZOOM_IN = 6003,
  ID_ZOOM_OUT = 6004,
  ID_READ_DATA = 6005,
  ID_SAVE_DATA = 6006,
  ID_CAPTURE = 6007,
};

constexpr int MIN_FONT_POINT_SIZE = 6;
// The row font's largest size: zooming past it would change nothing visible.
constexpr int MAX_FONT_POINT_SIZE = 72;

class TmainFrame : public wxFrame {
 public:
  TmainFrame(wxFrame* parent, int id, const wxString& title, const wxPoint& pos, const wxSize& size);
  ~TmainFrame() override;

  // One zoom step: +1 in, -1 out.
  void zoom(int direction);

  void OnCapture(wxCommandEvent& event);
  void OnFileRead(wxCommandEvent& event);
  void OnFileSave(wxCommandEvent& event);
  void OnAbout(wxCommandEvent& event);
  void OnExit(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);

  // What the file dialogs do with a chosen path: publish it on topic (read or
  // save) as file-name bytes, alive until the publish returns.
  void publishPath(int topic, const wxString& path);

  MidPane* midPanePtr = nullptr;

 protected:
  // Keeps the least client size when the window manager's frame comes along.
  void DoSetSizeHints(int minW, int minH, int maxW, int maxH, int incW, int incH) override;

 private:
  // Client area from the display's work area; the menu bar must be on already.
  void fitToDisplay();

  TsubToken FzoomSub;
  wxSize FleastClient;
};

class Ttoolbar : public wxPanel {
 public:
  Ttoolbar(wxWindow* parent, int id);
  ~Ttoolbar() override = default;

  void OnCapture(wxCommandEvent& event);
  void OnSOF(wxCommandEvent& event);
  void OnNAK(wxCommandEvent& event);
  void OnPacket(wxCommandEvent& event);
  void OnHelp(wxCommandEvent& event);
  void OnExit(wxCommandEvent& event);
  void OnZoomIn(wxCommandEvent& event);
  void OnZoomOut(wxCommandEvent& event);

  // Each label names what the next click does.
  static const char* sofLabel();
  static const char* nakLabel();
  static const char* pktLabel();

 private:
  wxButton* captureBtn = nullptr;
  wxButton* sofBtn = nullptr;
  wxButton* nakBtn = nullptr;
  wxButton* pktBtn = nullptr;
  wxButton* helpBtn = nullptr;
  wxButton* exitBtn = nullptr;
  wxButton* zoomInBtn = nullptr;
  wxButton* zoomOutBtn = nullptr;
};

// A horizontal rule one pixel high.
class ThLine : public wxPanel {
 public:
  explicit ThLine(wxWindow* parent);
  ~ThLine() override = default;
};

// The About box's contents.
wxAboutDialogInfo aboutInfo();
// The program's icon, the frame's and the About box's.
wxIcon quellixIcon();
// "file:///" + working directory + "/" + the help page's name.
wxString helpPageUrl();
// A path as the bytes the file system knows it by (the toolkit's file-name
// encoding, UTF-8 on GTK), not the C library's locale; "" when it cannot be.
std::string fileNameBytes(const wxString& path);
