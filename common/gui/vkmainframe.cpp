#include "vkmainframe.h"

#include <wx/display.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include <algorithm>

#include "vkapp_icon.xpm"
#include "vkwxmid.h"

namespace {

constexpr int DISPLAY_MARGIN = 64;
constexpr int MIN_CLIENT_WIDTH = 650;
constexpr int BUTTON_BORDER = 5;
constexpr const char* VERSION = "1.0.8";
constexpr const char* DEFAULT_SAMPLE_FILE = "./default.vkd";
constexpr const char* FILE_WILDCARD = "VKD files (*.vkd)|*.vkd|All files (*.*)|*.*";

// Read by the button bar's Exit; cleared again when that frame goes.
TmainFrame* evilMainFramePtr = nullptr;

wxString text(const char* s) { return wxString::FromUTF8(s ? s : ""); }

}  // namespace

TmainFrame::TmainFrame(wxFrame* parent, int id, const wxString& title, const wxPoint& pos, const wxSize& size)
    : wxFrame(parent, id, title, pos, size, wxDEFAULT_FRAME_STYLE) {
  SetFont(paneFont("Arial", wxFONTFAMILY_SWISS, _G.fontSize, false));

  auto* fileMenu = new wxMenu;
  fileMenu->Append(ID_CAPTURE, "&Capture");
  fileMenu->AppendSeparator();
  fileMenu->Append(ID_READ_DATA, "&Read data");
  fileMenu->Append(ID_SAVE_DATA, "&Save data");
  fileMenu->AppendSeparator();
  // GTK gives an item of a stock id the stock accelerator (Ctrl+Q for Exit);
  // made under an id of its own and given its id afterwards, it has none.
  fileMenu->Append(wxID_ANY, "&Exit")->SetId(wxID_EXIT);
  auto* helpMenu = new wxMenu;
  helpMenu->Append(wxID_ABOUT, "&About");
  auto* menuBar = new wxMenuBar;
  menuBar->Append(fileMenu, "&File");
  menuBar->Append(helpMenu, "&Help");
  SetMenuBar(menuBar);

  Bind(wxEVT_MENU, &TmainFrame::OnFileRead, this, ID_READ_DATA);
  Bind(wxEVT_MENU, &TmainFrame::OnFileSave, this, ID_SAVE_DATA);
  Bind(wxEVT_MENU, &TmainFrame::OnCapture, this, ID_CAPTURE);
  Bind(wxEVT_MENU, &TmainFrame::OnAbout, this, wxID_ABOUT);
  Bind(wxEVT_MENU, &TmainFrame::OnExit, this, wxID_EXIT);
  Bind(wxEVT_CLOSE_WINDOW, &TmainFrame::OnClose, this);

  auto* panel = new wxPanel(this);
  auto* toolbar = new Ttoolbar(panel, wxID_ANY);
  midPanePtr = new MidPane(panel, wxID_ANY);

  auto* barSizer = new wxBoxSizer(wxHORIZONTAL);
  barSizer->Add(toolbar, 1, wxEXPAND);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(barSizer, 0, wxEXPAND);
  auto* rule = new ThLine(panel);
  sizer->Add(rule, 0, wxEXPAND);
  sizer->Add(midPanePtr, 1, wxEXPAND);
  panel->SetSizer(sizer);
  sizer->Fit(panel);
  panel->SetBackgroundColour(wxColour(47, 79, 79));

  // GTK 3's buttons are wider than 650 pixels' worth: keep the bar whole. The
  // right column must hold both its panes at their least height.
  FleastClient = wxSize(std::max(MIN_CLIENT_WIDTH, toolbar->GetBestSize().x),
                        toolbar->GetSize().y + rule->GetSize().y + midPanePtr->minHeight());
  SetMinClientSize(FleastClient);
  // Sized and placed only now, after the menu bar (on GTK it takes its height
  // out of the client area) and at the minimum: a frame centred first and
  // widened to its minimum afterwards would reach past a small screen's edge.
  fitToDisplay();
  // Fitted, the panel is as narrow as the button bar; the sashes are set
  // again at the frame's size, or gravity would widen the right column.
  Layout();
  midPanePtr->setSashes();
  evilMainFramePtr = this;
  FzoomSub = TsubToken(TOPIC_ZOOM, [this](long direction) { zoom(static_cast<int>(direction)); });
  _G.pub(TOPIC_FILE_READ, reinterpret_cast<long>(DEFAULT_SAMPLE_FILE));
}

TmainFrame::~TmainFrame() {
  if (evilMainFramePtr == this) evilMainFramePtr = nullptr;
}

void TmainFrame::fitToDisplay() {
  const wxRect work = wxDisplay(this).GetClientArea();
  wxSize client = GetClientSize();
  client.y = work.height - DISPLAY_MARGIN;
  client.x = std::min(work.width - DISPLAY_MARGIN, client.x);
  client.IncTo(GetMinClientSize());
  SetClientSize(client);
  Centre(wxBOTH);
  // Larger than a small screen, centred it would begin above and left of it,
  // with the menus and the Capture button out of reach.
  const wxPoint at = GetPosition();
  if (at.x < work.x || at.y < work.y) Move(std::max(at.x, work.x), std::max(at.y, work.y));
}

void TmainFrame::DoSetSizeHints(int minW, int minH, int maxW, int maxH, int incW, int incH) {
  // The toolkit keeps the least size of the whole window, the window
  // manager's border and title bar included, and takes them off again for the
  // hints. They are known only once the window is shown, so a least size
  // worked out from the client size before then comes out short by them.
  if (FleastClient.x > 0) {
    const wxSize least = ClientToWindowSize(FleastClient);
    minW = least.x;
    minH = least.y;
  }
  wxFrame::DoSetSizeHints(minW, minH, maxW, maxH, incW, incH);
}

void TmainFrame::zoom(int direction) {
  wxFont font = GetFont();
  const int pt = font.GetPointSize();
  const int step = std::max(2, pt / 5);
  const int size = std::clamp(pt + step * direction, MIN_FONT_POINT_SIZE, MAX_FONT_POINT_SIZE);
  if (size == pt) return;
  font.SetPointSize(size);
  SetFont(font);
  midPanePtr->zoom(size);
}

void TmainFrame::publishPath(int topic, const wxString& path) {
  const std::string bytes = fileNameBytes(path);
  _G.pub(topic, reinterpret_cast<long>(bytes.c_str()));
}

void TmainFrame::OnCapture(wxCommandEvent&) { _G.pub(TOPIC_CAPTURE, 0); }

void TmainFrame::OnFileRead(wxCommandEvent&) {
  wxFileDialog dialog(this, "Open saved sample data", "", "", FILE_WILDCARD, wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return;
  publishPath(TOPIC_FILE_READ, dialog.GetPath());
}

void TmainFrame::OnFileSave(wxCommandEvent&) {
  wxFileDialog dialog(this, "Save sample data", "", "", FILE_WILDCARD, wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return;
  publishPath(TOPIC_FILE_SAVE, dialog.GetPath());
}

void TmainFrame::OnAbout(wxCommandEvent&) { wxAboutBox(aboutInfo()); }

void TmainFrame::OnExit(wxCommandEvent&) { Close(true); }

void TmainFrame::OnClose(wxCloseEvent&) { Destroy(); }

Ttoolbar::Ttoolbar(wxWindow* parent, int id) : wxPanel(parent, id) {
  // Creation order is the keyboard order; the sizer below gives the visual one.
  // Exact-fit: GTK 3 centres a default button's label in its full natural
  // width (85 pixels), so squeezed square it would show no label at all.
  zoomInBtn = new wxButton(this, ID_ZOOM_IN, "+", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  zoomOutBtn = new wxButton(this, ID_ZOOM_OUT, "-", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  captureBtn = new wxButton(this, ID_CAPTURE, "Capture");
  sofBtn = new wxButton(this, ID_SHOW_SOF, sofLabel());
  nakBtn = new wxButton(this, ID_SHOW_NAK, nakLabel());
  pktBtn = new wxButton(this, ID_SHOW_PKT, pktLabel());
  helpBtn = new wxButton(this, wxID_HELP, "Help");
  exitBtn = new wxButton(this, wxID_EXIT, "Exit");

  // Square, as high as the other buttons.
  const int h = std::max(zoomInBtn->GetSize().y, captureBtn->GetSize().y);
  for (wxButton* b : {zoomInBtn, zoomOutBtn}) {
    b->SetInitialSize(wxSize(h, h));
    b->SetMaxSize(wxSize(h, h));
  }

  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  for (wxButton* b : {captureBtn, sofBtn, nakBtn, pktBtn}) sizer->Add(b, 0, wxALL, BUTTON_BORDER);
  sizer->AddStretchSpacer(1);
  for (wxButton* b : {helpBtn, exitBtn, zoomInBtn, zoomOutBtn}) sizer->Add(b, 0, wxALL, BUTTON_BORDER);

  captureBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnCapture, this);
  sofBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnSOF, this);
  nakBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnNAK, this);
  pktBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnPacket, this);
  helpBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnHelp, this);
  exitBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnExit, this);
  zoomInBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnZoomIn, this);
  zoomOutBtn->Bind(wxEVT_BUTTON, &Ttoolbar::OnZoomOut, this);

  SetSizerAndFit(sizer);
  SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_MENU));
}

const char* Ttoolbar::sofLabel() { return _G.showSOFs ? "Hide SOFs" : "Show SOFs"; }
const char* Ttoolbar::nakLabel() { return _G.showNAKs ? "Hide NAKs" : "Show NAKs"; }
const char* Ttoolbar::pktLabel() { return _G.showPackets ? "Hide Packets" : "Show Packets"; }

void Ttoolbar::OnCapture(wxCommandEvent&) { _G.pub(TOPIC_CAPTURE, 0); }

void Ttoolbar::OnSOF(wxCommandEvent&) {
  _G.showSOFs = !_G.showSOFs;
  sofBtn->SetLabel(sofLabel());
  Layout();  // the new label may be wider
  _G.pub(TOPIC_VIS_ROWS, 0);
}

void Ttoolbar::OnNAK(wxCommandEvent&) {
  _G.showNAKs = !_G.showNAKs;
  nakBtn->SetLabel(nakLabel());
  Layout();
  _G.pub(TOPIC_VIS_ROWS, 0);
}

void Ttoolbar::OnPacket(wxCommandEvent&) {
  _G.showPackets = !_G.showPackets;
  pktBtn->SetLabel(pktLabel());
  Layout();
  _G.pub(TOPIC_VIS_ROWS, 0);
}

void Ttoolbar::OnHelp(wxCommandEvent&) {
  // No browser or no page is not reported; the toolkit's own box would add
  // an error number left over from some earlier call.
  wxLogNull quiet;
  wxLaunchDefaultBrowser(helpPageUrl());
}

void Ttoolbar::OnExit(wxCommandEvent&) {
  if (evilMainFramePtr) evilMainFramePtr->Close(true);
}

void Ttoolbar::OnZoomIn(wxCommandEvent&) { _G.pub(TOPIC_ZOOM, 1); }

void Ttoolbar::OnZoomOut(wxCommandEvent&) { _G.pub(TOPIC_ZOOM, -1); }

ThLine::ThLine(wxWindow* parent) : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(-1, 1)) {
  SetMinClientSize(wxSize(-1, 1));
  SetBackgroundColour(wxColour(192, 192, 192));
}

wxAboutDialogInfo aboutInfo() {
  const wxString shortName = text(_G.shortName);
  wxAboutDialogInfo info;
  info.SetName(wxGetTranslation(shortName));
  info.SetVersion(wxGetTranslation(VERSION));
  info.SetDescription(
      wxGetTranslation(" \nThe Capture and Display interface to the " + shortName + " USB Protocol Analyzer."));
  // No credit field in the toolkit's about box: the credits page lists developers.
  info.AddDeveloper(text(_G.creditLine));
  // Without one GTK shows its missing-image icon, not the frame's.
  info.SetIcon(quellixIcon());
  return info;
}

wxIcon quellixIcon() { return wxIcon(appIcon); }

wxString helpPageUrl() {
  // A proper file URL, escaped, so that folders with blanks or non-ASCII
  // letters still open.
  return wxFileName::FileNameToURL(wxFileName(wxGetCwd(), text(_G.helpFile)));
}

std::string fileNameBytes(const wxString& path) {
  const wxCharBuffer bytes = path.fn_str();
  return bytes.data() ? std::string(bytes.data()) : std::string();
}
