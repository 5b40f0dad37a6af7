#include "vkdecode.h"

#include <algorithm>

#include "vkutils.h"
#include "vkwxmid.h"

namespace {

const wxColour DECODE_SCROLL_BG(232, 232, 232);
const wxColour DECODE_TITLE_BG(215, 215, 215);
const wxColour DECODE_BAND_BG(239, 239, 255);
const int DECODE_SCROLL_RATE = 5;
const int DECODE_ITEM_BORDER = 10;
const int DECODE_WRAP_MARGIN = 20;
const int DECODE_LIST_EXTRA = 12;
const long PANEL_STYLE = wxTAB_TRAVERSAL | wxBORDER_NONE;

}  // namespace

namespace decodetext {

TstringVec items(const std::string& text) { return utils::split(text, ';'); }

TitemKind kind(const std::string& item) {
  if (item.empty()) return IK_NONE;
  return item[0] == 'S' ? IK_PARAGRAPH : item[0] == 'T' ? IK_TABLE : IK_NONE;
}

std::string paragraph(const std::string& item) { return item.empty() ? item : item.substr(1); }

TstringVec tableLines(const std::string& item) { return utils::split(item, '\n'); }

std::string title(const TstringVec& lines) { return !lines.empty() && lines[0].size() > 1 ? lines[0].substr(1) : " "; }

TstringVec headings(const TstringVec& lines) { return lines.size() >= 2 ? utils::split(lines[1], '#') : TstringVec(); }

size_t rowCount(const TstringVec& lines) { return lines.size() >= 3 ? lines.size() - 2 : 0; }

std::string cell(const TstringVec& lines, size_t row, size_t column) {
  if (row >= rowCount(lines)) return std::string();
  const TstringVec cells = utils::split(lines[row + 2], '#');
  return column < cells.size() ? cells[column] : std::string();
}

}  // namespace decodetext

TdecodePane::TdecodePane(wxWindow* parent) : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE) {
  SetFont(paneFont("Arial", wxFONTFAMILY_SWISS, _G.fontSize, false));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new TitlePane(this, L"Decode"), 0, wxEXPAND);
  scroller = new TscrollerPanel(this);
  sizer->Add(scroller, 1, wxEXPAND);
  SetSizer(sizer);
}

void TdecodePane::render(const std::string& text) {
  scroller->itemPanel->render(text);
  scroller->FitInside();
}

TscrollerPanel::TscrollerPanel(wxWindow* parent)
    : wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL) {
  SetBackgroundColour(DECODE_SCROLL_BG);
  SetScrollRate(0, DECODE_SCROLL_RATE);
  itemPanel = new TscrolledPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(itemPanel, 1, wxEXPAND);
  SetSizer(sizer);
}

TscrolledPanel::TscrolledPanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE) {
  itemSizer = new wxBoxSizer(wxVERTICAL);
  SetSizer(itemSizer);
}

void TscrolledPanel::render(const std::string& text) {
  itemSizer->Clear(true);
  for (const std::string& item : decodetext::items(text)) {
    wxWindow* win = nullptr;
    switch (decodetext::kind(item)) {
      case decodetext::IK_PARAGRAPH: win = new TdecodeTextItem(this, item); break;
      case decodetext::IK_TABLE: win = new TdecodeListItem(this, item); break;
      case decodetext::IK_NONE: break;
    }
    if (win) itemSizer->Add(win, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, DECODE_ITEM_BORDER);
  }
  Layout();
}

TdecodeTextItem::TdecodeTextItem(wxWindow* parent, std::string item)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE), paraText(decodetext::paragraph(item)) {
  // SetLabelText: an "&" in a decode text is shown, not taken as a mnemonic.
  label = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0);
  label->SetLabelText(wxString::FromUTF8(paraText));
  label->Wrap(-1);
  // No minimum width: the unwrapped text must not widen the stack past the
  // pane, or the paragraph would wrap to that width and never narrow again.
  label->SetMinSize(wxSize(0, -1));
  labelSizer = new wxBoxSizer(wxHORIZONTAL);
  labelSizer->Add(label, 1, wxEXPAND);
  SetSizer(labelSizer);
  Fit();
  Layout();
  Bind(wxEVT_SIZE, &TdecodeTextItem::onResize, this);
  Fsub = TsubToken(TOPIC_SPLITTER, [this](long) { doResize(); });
}

void TdecodeTextItem::doResize() {
  label->SetLabelText(wxString::FromUTF8(paraText));
  label->Wrap(-1);
  label->Wrap(GetClientSize().x - DECODE_WRAP_MARGIN);
  // A new line count changes the item's height: let the stack follow, after
  // the layout that is running now.
  if (labelSizer->CalcMin().y != GetClientSize().y) CallAfter(&TdecodeTextItem::refit);
}

void TdecodeTextItem::refit() {
  if (labelSizer->CalcMin().y == GetClientSize().y) return;
  InvalidateBestSize();
  wxWindow* stack = GetParent();
  stack->Layout();
  if (auto* scroller = dynamic_cast<wxScrolledWindow*>(stack->GetParent())) scroller->FitInside();
}

void TdecodeTextItem::onResize(wxSizeEvent& event) {
  doResize();
  event.Skip();
}

TdecodeListItem::TdecodeListItem(wxWindow* parent, const std::string& item)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE),
      tableLines(decodetext::tableLines(item)) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new TdecodeTitle(this, decodetext::title(tableLines)), 0, wxEXPAND);
  sizer->Add(new TdecodeList(this, tableLines), 0, wxEXPAND);
  SetSizer(sizer);
}

TdecodeTitle::TdecodeTitle(wxWindow* parent, const std::string& title)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE) {
  SetBackgroundColour(DECODE_TITLE_BG);
  wxFont font = GetFont();
  font.SetPointSize(font.GetPointSize() * 12 / 10);
  SetFont(font);
  auto* text = new wxStaticText(this, wxID_ANY, wxEmptyString);
  text->SetLabelText(wxString::FromUTF8(title));
  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->AddStretchSpacer(1);
  sizer->Add(text, 0, 0);
  sizer->AddStretchSpacer(1);
  SetSizer(sizer);
}

TdecodeList::TdecodeList(wxWindow* parent, const TstringVec& lines)
    : wxListView(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_VIRTUAL), Fsv(lines) {
  bandAttr.SetBackgroundColour(DECODE_BAND_BG);
  // Free width: a list without columns would ask for 50 characters and widen
  // the whole stack past the pane.
  SetMinSize(wxSize(0, -1));
  if (Fsv.size() >= 2) {
    const TstringVec heads = decodetext::headings(Fsv);
    for (size_t i = 0; i < heads.size(); ++i) InsertColumn(long(i), wxString::FromUTF8(heads[i]));
    // Rows need a column to show in: a heading line of only "#" gives none.
    SetItemCount(GetColumnCount() > 0 ? long(decodetext::rowCount(Fsv)) : 0);
    setSize();
  }
  Bind(wxEVT_SIZE, &TdecodeList::onResize, this);
}

void TdecodeList::setSize() {
  if (Fsv.size() <= 1) return;
  // The height holds the heading and every row, so only the pane scrolls.
  // Rows are measured: on GTK 3 a row is not as high as the heading.
  wxRect rect;
  int h = DECODE_LIST_EXTRA;
  if (GetItemCount() > 0 && GetItemRect(0, rect, wxLIST_RECT_BOUNDS)) h += rect.y + int(GetItemCount()) * rect.height;
  SetMinSize(wxSize(0, h));
  SetMaxSize(wxSize(-1, h));
}

void TdecodeList::onResize(wxSizeEvent& event) {
  const int w = GetClientSize().x;
  if (GetColumnCount() > 0) SetColumnWidth(0, std::max(0, w / 4));
  if (GetColumnCount() > 1) SetColumnWidth(1, std::max(0, (3 * w) / 4 - 20));
  setSize();
  event.Skip();
}

wxString TdecodeList::OnGetItemText(long item, long column) const {
  wxCHECK_MSG(item >= 0 && size_t(item) < decodetext::rowCount(Fsv) && column >= 0, wxString(),
              "unsigned(item) < (Fsv.size()-2)");
  return wxString::FromUTF8(decodetext::cell(Fsv, size_t(item), size_t(column)));
}

wxItemAttr* TdecodeList::OnGetItemAttr(long item) const { return item % 2 == 0 ? &bandAttr : nullptr; }
