#include "wxsPanes.h"

#include <wx/sizer.h>
#include <wx/valnum.h>

#include <algorithm>
#include <limits>

#include "vkglobs.h"
#include "wxsGui.h"

namespace {

constexpr int BTN_WIDTH = 133;
constexpr int PAGE_WIDTH = 525;
constexpr int HELP_WRAP = PAGE_WIDTH - 25;
constexpr uint32_t MIN_BUFFER_KB = 4;
constexpr int NUMSTRS = 5;
constexpr const char* CAPTURE_LOST = "Capture failed. Press Start to try again.";
constexpr const char* NO_MEMORY_RETRY = "Memory allocation failed. Press Start to try again.";

const char* const helpText[NUMSTRS] = {
    "1. (Optionally) Connect or Disconnect. The Sniffer default is for the target device to be "
    "disconnected from the host until sampling starts. This simplifies debugging USB start-up "
    "problems.",
    "2. Set the Buffer size. USB traffic is compressed into the buffer so a typical size is a few "
    "MBytes. Buffer sizes above 100MByte risk running into memory shortage problems.",
    "3. Click on the Run button. This starts the Sniffer. The progress display will update a few "
    "times per second. ",
    "Data sniffed from USB is captured in a compressed format. The compressed data will be "
    "decompressed when the capture buffer is full.",
    "Press the Stop button to interrupt USB sniffing. Captured data will still be decompressed.",
};

// The controls of one state; OK_KEEP leaves the OK button as it is.
enum TokSetting { OK_OFF = 0, OK_ON = 1, OK_KEEP = 2 };
struct TcontrolRow {
  int state;
  bool startStop;
  const char* label;
  bool field;
  bool connect;
  TokSetting ok;
};
const TcontrolRow CONTROLS[] = {
    {ST_NO_HARDWARE, false, "Start", true, false, OK_OFF}, {ST_READY, true, "Start", true, true, OK_KEEP},
    {ST_CAPTURING, true, "Stop", false, false, OK_KEEP},   {ST_DECODING, false, "Stop", false, false, OK_KEEP},
    {ST_DONE, true, "Start", true, true, OK_ON},
};

wxFont enlarged(const wxFont& base, int points) {
  wxFont font(base);
  font.SetPointSize(upBy(base.GetPointSize(), points));
  return font;
}

// Windows of this dialog only, and only of the class asked for.
template <class T>
T* findInDialog(wxWindow* from, int id) {
  wxWindow* top = wxGetTopLevelParent(from);
  if (!top) return nullptr;
  return dynamic_cast<T*>(wxWindow::FindWindowById(id, top));
}

}  // namespace

const char* hardwareStatusMsg(int status) {
  switch (status) {
    case HW_OK: return "Hardware Initialized OK";
    case HW_NOT_FOUND: return "Sniffer hardware not found";
    case HW_INIT_FAILED: return "Hardware initialization failed";
    case HW_NO_MEMORY: return "Memory allocation failed";
    default: return "Unexpected Problem during initialization.";
  }
}

// A board that is there but cannot be opened is not "not found": say why, briefly.
const char* hardwareStatusLine(int status, int reason) {
  if (status == HW_NOT_FOUND && reason == HW_REASON_NO_PERMISSION)
    return "Sniffer board found, but no permission to use it (see Help)";
  if (status == HW_NOT_FOUND && reason == HW_REASON_IN_USE) return "Sniffer board found, but in use by another program";
  return hardwareStatusMsg(status);
}

int upBy(int a, int b) { return a + b; }

uint32_t clampBufKB(uint32_t v) { return std::max(std::min(v, _G.maxBuffer), MIN_BUFFER_KB); }

uint32_t percentOf(uint64_t shown, uint64_t total) {
  if (shown == 0) return 0;
  if (shown >= total) return 100;
  const float ratio = static_cast<float>(static_cast<double>(shown) / static_cast<double>(total));
  const float percent = ratio * 100.0f;
  return static_cast<uint32_t>(static_cast<double>(percent) + 0.5);
}

// ---- Control page

TctlPage::TctlPage(wxWindow* parent, wxFont& font)
    : wxPanel(parent, ID_CTL_PAGE, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER), baseFont(font) {
  SetBackgroundColour(wxColour("#eeeeee"));
  SetMinClientSize(wxSize(PAGE_WIDTH, -1));
  SetMaxClientSize(wxSize(PAGE_WIDTH, -1));
  SetFont(enlarged(baseFont, 2));

  auto* page = new wxBoxSizer(wxVERTICAL);
  myLabel(page, "(Optional) Connect/Disconnect");
  auto* connectRow = new wxBoxSizer(wxHORIZONTAL);
  connectRow->AddStretchSpacer(1);
  connectBtn = hBtn("Connect", true, ID_CONNECT, BTN_WIDTH);
  connectRow->Add(connectBtn, 0, wxALL, 10);
  disconnectBtn = hBtn("Disconnect", true, ID_DISCONNECT, BTN_WIDTH);
  connectRow->Add(disconnectBtn, 0, wxALL, 10);
  connectRow->AddStretchSpacer(1);
  page->Add(connectRow, 0, wxALIGN_CENTER_HORIZONTAL);
  addRule(page);

  myLabel(page, "Buffer");
  auto* bufGrid = new wxGridSizer(3, 5, 5);
  bufGrid->Add(new wxStaticText(this, wxID_ANY, "Buffer Size"), 0, wxALIGN_RIGHT);
  wxIntegerValidator<uint32_t> validator(&bufKB, wxNUM_VAL_THOUSANDS_SEPARATOR);
  validator.SetRange(1, _G.maxBuffer);
  bufSize = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_RIGHT, validator);
  bufGrid->Add(bufSize, 1, wxEXPAND);
  bufGrid->Add(new wxStaticText(this, wxID_ANY, "KBytes"), 0, wxALIGN_LEFT);
  acqGauge = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL);
  acqText = new wxStaticText(this, wxID_ANY, "0 Bytes");
  addProgressRow(bufGrid, acqGauge, acqText);
  page->Add(bufGrid, 0, wxEXPAND | wxBOTTOM, 3);
  addRule(page);

  myLabel(page, "Decompress");
  auto* decGrid = new wxGridSizer(3, 5, 5);
  decGauge = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL);
  decText = new wxStaticText(this, wxID_ANY, "0%");
  addProgressRow(decGrid, decGauge, decText);
  page->Add(decGrid, 0, wxEXPAND | wxBOTTOM, 3);
  page->AddStretchSpacer(1);
  addRule(page);

  auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
  cancelBtn = hBtn("Cancel", true, wxID_CANCEL, BTN_WIDTH);
  startStopBtn = hBtn("Start", true, ID_START_STOP, BTN_WIDTH);
  okBtn = hBtn("OK", false, wxID_OK, BTN_WIDTH);
  for (wxButton* b : {cancelBtn, startStopBtn, okBtn}) {
    buttonRow->AddStretchSpacer(1);
    buttonRow->Add(b, 0, wxALL, 10);
  }
  buttonRow->AddStretchSpacer(1);
  page->Add(buttonRow, 0, wxEXPAND);
  SetSizer(page);

  // Nested pages get no transfer when the dialog opens: without this the
  // field would start empty and a Start would capture 4 KBytes, not 32.
  bufSize->GetValidator()->TransferToWindow();

  connectBtn->Bind(wxEVT_BUTTON, &TctlPage::onConnectBtn, this);
  disconnectBtn->Bind(wxEVT_BUTTON, &TctlPage::onDisconnBtn, this);
  startStopBtn->Bind(wxEVT_BUTTON, &TctlPage::onStartStop, this);
  okBtn->Bind(wxEVT_BUTTON, &TctlPage::onOK, this);
  cancelBtn->Bind(wxEVT_BUTTON, &TctlPage::onCancel, this);
}

// exThread goes first, then loThread, whose destructor also ends a capture
// that is still waiting for the memory to fill.
TctlPage::~TctlPage() = default;

wxStaticText* TctlPage::myLabel(wxSizer* sizer, const wxString& text) {
  auto* label = new wxStaticText(this, wxID_ANY, text);
  label->SetFont(enlarged(baseFont, 3));
  sizer->Add(label, 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);
  return label;
}

wxButton* TctlPage::hBtn(const wxString& label, bool enable, int id, int width) {
  auto* button = new wxButton(this, id, label, wxDefaultPosition, wxSize(width, -1));
  button->Enable(enable);
  return button;
}

void TctlPage::addRule(wxSizer* sizer) { sizer->Add(new ThBorder(this), 0, wxEXPAND | wxALL, 5); }

void TctlPage::addProgressRow(wxSizer* grid, wxGauge* gauge, wxStaticText* text) {
  auto* label = new wxBoxSizer(wxHORIZONTAL);
  label->AddStretchSpacer(1);
  label->Add(new wxStaticText(this, wxID_ANY, "Progress"), 0, wxEXPAND);
  grid->Add(label, 0, wxEXPAND);
  gauge->SetValue(100);
  grid->Add(gauge, 1, wxEXPAND);
  grid->Add(text, 0, wxALIGN_LEFT);
}

void TctlPage::onTick() {
  if (state == ST_START || loThread.consumeHardwareChanged()) refresh();
  // A refresh may have left a capture running behind the page; its done flag
  // is its own, taken and dropped here, and only then is the buffer free.
  if (captureOutstanding && state != ST_CAPTURING && loThread.consumeDone()) captureLost();

  switch (state) {
    case ST_READY:
      if (!startStopClicked) break;
      if (captureOutstanding) {
        loThread.setStop(true);  // end the abandoned capture; the click waits for it
        break;
      }
      startStopClicked = false;
      startCapture();
      break;
    case ST_CAPTURING:
      setAcqProgress(static_cast<uint32_t>(loThread.getCaptureCount()));
      if (startStopClicked) {
        startStopClicked = false;
        loThread.setStop(true);
      }
      if (loThread.consumeDone()) {
        // A transfer fault re-opens the board and raises the change before
        // done: that run's bytes are lost, not a capture of a quiet bus.
        if (loThread.consumeHardwareChanged()) {
          refresh();
          captureLost();
          break;
        }
        captureOutstanding = false;
        exThread.startDecode(loThread.pRawData());
        state = ST_DECODING;
        enableButtons();
      }
      break;
    case ST_DECODING:
      setDecProgress(static_cast<uint32_t>(exThread.getDecodedCount()));
      if (exThread.getDone()) {
        state = ST_DONE;
        enableButtons();
      }
      break;
    case ST_DONE:
      state = ST_READY;
      enableButtons();
      break;
    default: break;
  }
}

void TctlPage::refresh() {
  const int status = loThread.getHardwareStatus();
  setStatusLine(hardwareStatusLine(status, loThread.getHardwareReason()));
  setIdLine("Hardware Serial: " + loThread.getSerial());
  // No memory for the buffer is no board fault: the next Start asks again.
  state = status == HW_OK || status == HW_NO_MEMORY ? ST_READY : ST_NO_HARDWARE;
  acqText->SetLabel("0 Bytes");
  acqGauge->SetValue(0);
  decText->SetLabel("0%");
  decGauge->SetValue(0);
  enableButtons();
}

// A capture whose done came after a hardware change was never decoded; where
// the board answers again, say so rather than look like an empty capture.
void TctlPage::captureLost() {
  captureOutstanding = false;
  if (state != ST_READY) return;
  setStatusLine(loThread.getHardwareStatus() == HW_NO_MEMORY ? NO_MEMORY_RETRY : CAPTURE_LOST);
}

void TctlPage::startCapture() {
  setStatusLine(hardwareStatusMsg(HW_OK));  // Ready means the board answered at the last refresh
  bufKB = clampBufKB(wxstr2num(bufSize->GetValue()));
  bufSize->ChangeValue(num2str(bufKB));
  setAcqProgress(0);
  setDecProgress(0);
  needed = static_cast<uint32_t>(
      std::min<uint64_t>(static_cast<uint64_t>(bufKB) << 10, std::numeric_limits<uint32_t>::max()));
  loThread.setNeeded(needed);
  loThread.setRun(true);
  captureOutstanding = true;
  state = ST_CAPTURING;
  enableButtons();
}

void TctlPage::enableButtons() {
  for (const TcontrolRow& row : CONTROLS) {
    if (row.state != state) continue;
    startStopBtn->Enable(row.startStop);
    startStopBtn->SetLabel(row.label);
    bufSize->Enable(row.field);
    connectBtn->Enable(row.connect);
    disconnectBtn->Enable(row.connect);
    if (row.ok != OK_KEEP) okBtn->Enable(row.ok == OK_ON);
  }
}

void TctlPage::setAcqProgress(uint32_t n) {
  const uint32_t shown = std::min(n, needed);
  acqText->SetLabel(num2str(shown) + " Bytes");
  acqGauge->SetValue(static_cast<int>(percentOf(shown, needed)));
}

void TctlPage::setDecProgress(uint32_t n) {
  const uint64_t total = loThread.getCaptureCount();
  const uint32_t shown = std::min(n, static_cast<uint32_t>(total));
  const uint32_t p = percentOf(shown, total);
  decText->SetLabel(num2str(p) + "%");
  decGauge->SetValue(static_cast<int>(p));
}

std::string TctlPage::num2str(uint32_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += '_';
    out += digits[i];
  }
  return out;
}

uint32_t TctlPage::wxstr2num(const wxString& s) {
  constexpr uint64_t MAX = std::numeric_limits<uint32_t>::max();
  uint64_t value = 0;
  for (wxUniChar c : s) {
    if (c < '0' || c > '9') continue;
    value = std::min(value * 10 + static_cast<uint64_t>(c - '0'), MAX);
  }
  return static_cast<uint32_t>(value);
}

void TctlPage::onStartStop(wxCommandEvent&) { startStopClicked = true; }
void TctlPage::onConnectBtn(wxCommandEvent&) { bypassConnect(true); }
void TctlPage::onDisconnBtn(wxCommandEvent&) { bypassConnect(false); }
void TctlPage::bypassConnect(bool connect) { loThread.setConnect(connect); }
void TctlPage::onOK(wxCommandEvent&) { exitWith(wxID_OK); }
void TctlPage::onCancel(wxCommandEvent&) { exitWith(wxID_CANCEL); }

void TctlPage::exitWith(int code) {
  if (TsnifferGui* gui = findInDialog<TsnifferGui>(this, ID_SNIFFER_PANEL)) gui->doExit(code);
}

void TctlPage::setStatusLine(const std::string& s) {
  if (Tfooter* footer = findInDialog<Tfooter>(this, ID_FOOTER)) footer->setStatusStr(s);
}

void TctlPage::setIdLine(const std::string& s) {
  if (Tfooter* footer = findInDialog<Tfooter>(this, ID_FOOTER)) footer->setIdStr(s);
}

// ---- Help page

ThelpPage::ThelpPage(wxWindow* parent, wxFont& font)
    : wxPanel(parent, ID_HELP_PAGE, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER), baseFont(font) {
  SetBackgroundColour(wxColour("#eeeeee"));
  SetFont(enlarged(baseFont, 1));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  for (const char* text : helpText) {
    auto* item = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(text));
    item->SetForegroundColour(wxColour("#111111"));
    item->Wrap(HELP_WRAP);
    sizer->Add(item, 0, wxALIGN_LEFT | wxLEFT | wxRIGHT | wxTOP, 10);
  }
  SetSizer(sizer);
}

// ---- Footer

Tfooter::Tfooter(wxWindow* parent, wxFont& font)
    : wxPanel(parent, ID_FOOTER, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER), baseFont(font) {
  SetBackgroundColour(wxColour("#444444"));
  SetForegroundColour(wxColour("#e0e0e0"));
  SetFont(enlarged(baseFont, 2));

  statusText = new wxStaticText(this, ID_STATUS_TEXT, "Initializing...");
  statusText->SetForegroundColour(wxColour("#e0e0e0"));
  const wxFont lineFont = enlarged(baseFont, 1);
  idText = new wxStaticText(this, ID_ID_TEXT, "Initializing...");
  idText->SetFont(lineFont);
  auto* version = new wxStaticText(this, ID_VERSION_TEXT, "Version: 1.0.8");
  version->SetFont(lineFont);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(statusText, 0, wxALIGN_CENTER_HORIZONTAL | wxTOP, 5);
  auto* idRow = new wxBoxSizer(wxHORIZONTAL);
  idRow->Add(idText);
  idRow->AddStretchSpacer(1);
  idRow->Add(version);
  sizer->Add(idRow, 0, wxEXPAND | wxALL, 5);
  SetSizer(sizer);
}

// Label texts, not markup: a serial may hold "&".
void Tfooter::setStatusStr(const std::string& s) {
  status = wxString::FromUTF8(s);
  statusText->SetLabelText(status);
  Layout();
}

void Tfooter::setIdStr(const std::string& s) {
  idText->SetLabelText(wxString::FromUTF8(s));
  Layout();
}

// ---- Rule

ThBorder::ThBorder(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER) {
  SetBackgroundColour(wxColour("#c0c0c0"));
  SetMinClientSize(wxSize(-1, 1));
  SetMaxClientSize(wxSize(-1, 1));
}
