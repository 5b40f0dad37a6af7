// The pages of the capture dialog: the Control page with its six-state capture
// machine (stepped once a tick, callable directly), the Help page, the footer
// with the hardware status and serial lines, and the 1 px rule between sections.
#pragma once

#include <wx/button.h>
#include <wx/font.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdint>
#include <string>

#include "vkexthrd.h"
#include "vklothrd.h"

constexpr int ID_HELP_PAGE = 7003;
constexpr int ID_CTL_PAGE = 7004;
constexpr int ID_FOOTER = 7005;
constexpr int ID_CONNECT = 7006;
constexpr int ID_DISCONNECT = 7007;
constexpr int ID_START_STOP = 7008;
constexpr int ID_STATUS_TEXT = 7010;
constexpr int ID_ID_TEXT = 7011;
constexpr int ID_VERSION_TEXT = 7012;

enum TctlState : int { ST_START = 0, ST_NO_HARDWARE = 1, ST_READY = 2, ST_CAPTURING = 3, ST_DECODING = 4, ST_DONE = 5 };

// Footer text for a hardware status code.
const char* hardwareStatusMsg(int status);
// Footer text for a status and the reason (ThwReason) a board that is there cannot be used.
const char* hardwareStatusLine(int status, int reason);
// Font steps: a + b.
int upBy(int a, int b);
// The buffer size a Start uses: v KBytes clamped to 4 .. maxBuffer of _G.
uint32_t clampBufKB(uint32_t v);
// shown of total in whole percent, rounded through single precision.
uint32_t percentOf(uint64_t shown, uint64_t total);

class TctlPage : public wxPanel {
 public:
  TctlPage(wxWindow* parent, wxFont& font);
  ~TctlPage() override;

  // One step of the capture machine (the panel's timer calls it every 300 ms).
  void onTick();
  TexThread& exThreadRef() { return exThread; }
  TloThread& loThreadRef() { return loThread; }

  void onStartStop(wxCommandEvent& event);
  void onConnectBtn(wxCommandEvent& event);
  void onDisconnBtn(wxCommandEvent& event);
  void onOK(wxCommandEvent& event);
  void onCancel(wxCommandEvent& event);

  void setStatusLine(const std::string& s);
  void setIdLine(const std::string& s);
  void enableButtons();
  void setAcqProgress(uint32_t n);
  void setDecProgress(uint32_t n);

  // Decimal digits with "_" between groups of three: 32768 -> "32_768".
  static std::string num2str(uint32_t n);
  // The digits of the text as a number, every other character skipped;
  // saturates at the largest value instead of wrapping.
  static uint32_t wxstr2num(const wxString& s);

  int state = ST_START;
  wxFont baseFont;  // a copy: the panel's font lives only while the panel is built
  wxTextCtrl* bufSize = nullptr;
  wxStaticText* acqText = nullptr;
  wxStaticText* decText = nullptr;
  wxGauge* acqGauge = nullptr;
  wxGauge* decGauge = nullptr;
  wxButton* connectBtn = nullptr;
  wxButton* disconnectBtn = nullptr;
  wxButton* startStopBtn = nullptr;
  wxButton* okBtn = nullptr;
  wxButton* cancelBtn = nullptr;
  bool startStopClicked = false;
  // A run was asked for and its done flag not yet taken: until then the
  // capture thread owns the buffer, so no new run and no decode of it.
  bool captureOutstanding = false;
  TloThread loThread;
  TexThread exThread;
  uint32_t bufKB = 32;
  uint32_t needed = 32768;

 private:
  void refresh();
  void startCapture();
  void captureLost();
  void bypassConnect(bool connect);
  void exitWith(int code);
  wxStaticText* myLabel(wxSizer* sizer, const wxString& text);
  wxButton* hBtn(const wxString& label, bool enable, int id, int width);
  void addRule(wxSizer* sizer);
  void addProgressRow(wxSizer* grid, wxGauge* gauge, wxStaticText* text);
};

class ThelpPage : public wxPanel {
 public:
  ThelpPage(wxWindow* parent, wxFont& font);
  ~ThelpPage() override = default;

  wxFont baseFont;  // a copy: the panel's font lives only while the panel is built
};

class Tfooter : public wxPanel {
 public:
  Tfooter(wxWindow* parent, wxFont& font);
  ~Tfooter() override = default;

  void setStatusStr(const std::string& s);
  void setIdStr(const std::string& s);

  wxFont baseFont;  // a copy: the panel's font lives only while the panel is built
  wxStaticText* statusText = nullptr;
  wxStaticText* idText = nullptr;
  wxString status;
};

// The 1 px rule between the Control page's sections.
class ThBorder : public wxPanel {
 public:
  explicit ThBorder(wxWindow* parent);
  ~ThBorder() override = default;
};
