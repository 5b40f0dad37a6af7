#include "vkdecode.h"

#include <wx/dcclient.h>

#include <algorithm>
#include <cmath>

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
const int DECODE_SPARE_TABLES = 3;
const long PANEL_STYLE = wxTAB_TRAVERSAL | wxBORDER_NONE;

// Scripts may hand over any bytes: what is not UTF-8 shows as U+FFFD instead
// of emptying the whole text.
wxString toWx(const std::string& text) { return wxString::FromUTF8(decodetext::validUtf8(text)); }

// The lines of text broken to at most width pixels in win's font: after the
// last blank that fits, or, in a word wider than that (a serial number, a
// path), between two characters, so that no part of it is cut off.
wxString wrapText(wxWindow* win, const wxString& text, int width) {
  wxClientDC dc(win);
  dc.SetFont(win->GetFont());
  wxString out;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == wxString::npos) end = text.size();
    wxString line = text.substr(start, end - start);
    wxArrayInt ext;  // ext[i]: the width of the line's first i + 1 characters
    dc.GetPartialTextExtents(line, ext);
    for (size_t from = 0; from < line.size();) {
      const int left = from > 0 ? ext[from - 1] : 0;
      size_t fit = from + 1;
      while (fit < line.size() && ext[fit] - left <= width) ++fit;
      if (fit < line.size()) {
        const size_t blank = line.rfind(' ', fit);
        if (blank != wxString::npos && blank > from) fit = blank;
      }
      out += line.substr(from, fit - from);
      from = fit < line.size() && line[fit] == ' ' ? fit + 1 : fit;
      if (from < line.size()) out += '\n';
    }
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace

namespace decodetext {

TstringVec items(const std::string& text) { return utils::split(text, ';'); }

TstringVec shownItems(const std::string& text) {
  // Pieces past the bound are only counted: a script may return megabytes.
  TstringVec shown;
  size_t leftOut = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start && kind(text.substr(start, 1)) != IK_NONE) {
      if (shown.size() < MAX_SHOWN_ITEMS)
        shown.push_back(text.substr(start, end - start));
      else
        ++leftOut;
    }
    start = end + 1;
  }
  if (leftOut > 0)
    shown.push_back("S" + std::to_string(leftOut) +
                    (leftOut == 1 ? " more item of this decode text is" : " more items of this decode text are") +
                    " left out: the pane shows at most " + std::to_string(MAX_SHOWN_ITEMS) + ".");
  return shown;
}

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

std::string validUtf8(const std::string& text) {
  // Each maximal ill-formed piece becomes one U+FFFD, as Unicode advises.
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xbf;  // the second byte's range: no overlongs, surrogates or > U+10FFFF
    if (lead < 0x80)
      len = 1;
    else if (lead >= 0xc2 && lead <= 0xdf)
      len = 2;
    else if (lead >= 0xe0 && lead <= 0xef)
      len = 3, lo = lead == 0xe0 ? 0xa0 : 0x80, hi = lead == 0xed ? 0x9f : 0xbf;
    else if (lead >= 0xf0 && lead <= 0xf4)
      len = 4, lo = lead == 0xf0 ? 0x90 : 0x80, hi = lead == 0xf4 ? 0x8f : 0xbf;
    size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      const unsigned char b = byte(k);
      if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xbf)) break;
    }
    if (len != 0 && k == len)
      out.append(text, i, len);
    else
      out += "\xef\xbf\xbd";
    i += k;
  }
  return out;
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
  // Repainted once the new stack stands, not window by window.
  scroller->Freeze();
  scroller->itemPanel->render(text);
  scroller->FitInside();
  scroller->Thaw();
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

void TscrollerPanel::scrollByWheel(const wxMouseEvent& event) {
  if (event.GetWheelDelta() <= 0) return;
  // As far as GTK scrolls the pane for a notch over a paragraph.
  FwheelPixels -= double(event.GetWheelRotation()) / event.GetWheelDelta() * std::pow(GetClientSize().y, 2.0 / 3.0);
  const int units = int(FwheelPixels / DECODE_SCROLL_RATE);
  if (units == 0) return;
  FwheelPixels -= units * DECODE_SCROLL_RATE;
  Scroll(-1, std::max(0, GetViewStart().y + units));
}

TscrolledPanel::TscrolledPanel(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE) {
  itemSizer = new wxBoxSizer(wxVERTICAL);
  SetSizer(itemSizer);
  // A row's decode text mostly holds up to three tables (request, stages, descriptor).
  for (int i = 0; i < DECODE_SPARE_TABLES; ++i) {
    FspareTables.push_back(new TdecodeListItem(this, "T"));
    FspareTables.back()->Hide();
  }
}

void TscrolledPanel::render(const std::string& text) {
  // The previous items take the new texts of their kind, in order: a list
  // window costs far more to make than to fill. Missing ones are made, the
  // rest destroyed; paragraphs are wrapped to the width they will get, so
  // that one layout pass gives every item its final height.
  std::vector<TdecodeTextItem*> paras;
  std::vector<TdecodeListItem*> tables;
  for (wxSizerItem* it : itemSizer->GetChildren()) {
    if (auto* para = dynamic_cast<TdecodeTextItem*>(it->GetWindow())) paras.push_back(para);
    if (auto* table = dynamic_cast<TdecodeListItem*>(it->GetWindow())) tables.push_back(table);
  }
  tables.insert(tables.end(), FspareTables.begin(), FspareTables.end());
  FspareTables.clear();
  itemSizer->Clear(false);
  const int itemWidth = GetClientSize().x - 2 * DECODE_ITEM_BORDER;
  size_t parasUsed = 0, tablesUsed = 0;
  for (const std::string& item : decodetext::shownItems(text)) {
    wxWindow* win = nullptr;
    switch (decodetext::kind(item)) {
      case decodetext::IK_PARAGRAPH:
        if (parasUsed < paras.size())
          paras[parasUsed]->setItem(item);
        else
          paras.push_back(new TdecodeTextItem(this, item));
        paras[parasUsed]->wrapTo(itemWidth);
        win = paras[parasUsed++];
        break;
      case decodetext::IK_TABLE:
        if (tablesUsed < tables.size()) {
          tables[tablesUsed]->setItem(item);
          tables[tablesUsed]->Show();
        } else
          tables.push_back(new TdecodeListItem(this, item));
        win = tables[tablesUsed++];
        break;
      case decodetext::IK_NONE: break;
    }
    if (win) itemSizer->Add(win, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, DECODE_ITEM_BORDER);
  }
  for (size_t i = parasUsed; i < paras.size(); ++i) paras[i]->Destroy();
  for (size_t i = tablesUsed; i < tables.size(); ++i) tables[i]->Destroy();
  Layout();
}

TdecodeTextItem::TdecodeTextItem(wxWindow* parent, std::string item)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE), paraText(decodetext::paragraph(item)) {
  // SetLabelText: an "&" in a decode text is shown, not taken as a mnemonic.
  label = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0);
  label->SetLabelText(toWx(paraText));
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
  wrapTo(GetClientSize().x);
  // A new line count changes the item's height: let the stack follow, after
  // the layout that is running now.
  if (labelSizer->CalcMin().y != GetClientSize().y) CallAfter(&TdecodeTextItem::refit);
}

void TdecodeTextItem::wrapTo(int width) {
  FwrapWidth = width;
  const wxString text = toWx(paraText);
  label->SetLabelText(width < DECODE_WRAP_MARGIN ? text : wrapText(label, text, width - DECODE_WRAP_MARGIN));
  InvalidateBestSize();
}

void TdecodeTextItem::setItem(const std::string& item) { paraText = decodetext::paragraph(item); }

void TdecodeTextItem::refit() {
  if (labelSizer->CalcMin().y == GetClientSize().y) return;
  InvalidateBestSize();
  wxWindow* stack = GetParent();
  stack->Layout();
  if (auto* scroller = dynamic_cast<wxScrolledWindow*>(stack->GetParent())) scroller->FitInside();
}

void TdecodeTextItem::onResize(wxSizeEvent& event) {
  // Layouts resize items to the size they have; wrapping costs a text
  // measure per word, so only a new width wraps again.
  if (GetClientSize().x != FwrapWidth) doResize();
  event.Skip();
}

TdecodeListItem::TdecodeListItem(wxWindow* parent, const std::string& item)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE),
      tableLines(decodetext::tableLines(item)) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  Ftitle = new TdecodeTitle(this, decodetext::title(tableLines));
  sizer->Add(Ftitle, 0, wxEXPAND);
  Flist = new TdecodeList(this, tableLines);
  sizer->Add(Flist, 0, wxEXPAND);
  SetSizer(sizer);
}

void TdecodeListItem::setItem(const std::string& item) {
  tableLines = decodetext::tableLines(item);
  Ftitle->setTitle(decodetext::title(tableLines));
  Flist->setLines(tableLines);
}

TdecodeTitle::TdecodeTitle(wxWindow* parent, const std::string& title)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, PANEL_STYLE) {
  SetBackgroundColour(DECODE_TITLE_BG);
  wxFont font = GetFont();
  font.SetPointSize(font.GetPointSize() * 12 / 10);
  SetFont(font);
  Ftext = new wxStaticText(this, wxID_ANY, wxEmptyString);
  Ftext->SetLabelText(toWx(title));
  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->AddStretchSpacer(1);
  sizer->Add(Ftext, 0, 0);
  sizer->AddStretchSpacer(1);
  SetSizer(sizer);
}

void TdecodeTitle::setTitle(const std::string& title) {
  Ftext->SetLabelText(toWx(title));
  Layout();  // centred again, though the bar keeps its size
}

TdecodeList::TdecodeList(wxWindow* parent, const TstringVec& lines)
    : wxListView(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_VIRTUAL) {
  bandAttr.SetBackgroundColour(DECODE_BAND_BG);
  fill(lines);
  Bind(wxEVT_SIZE, &TdecodeList::onResize, this);
  // The rows and the heading are windows of their own, which get the wheel first.
  Bind(wxEVT_MOUSEWHEEL, &TdecodeList::onWheel, this);
  for (wxWindow* part : GetChildren()) part->Bind(wxEVT_MOUSEWHEEL, &TdecodeList::onWheel, this);
}

void TdecodeList::fill(const TstringVec& lines) {
  Fsv = lines;
  // Free width: a list without columns would ask for 50 characters and widen
  // the whole stack past the pane.
  SetMinSize(wxSize(0, -1));
  SetMaxSize(wxDefaultSize);
  if (Fsv.size() >= 2) {
    const TstringVec heads = decodetext::headings(Fsv);
    for (size_t i = 0; i < heads.size(); ++i) InsertColumn(long(i), toWx(heads[i]));
    // Rows need a column to show in: a heading line of only "#" gives none.
    SetItemCount(GetColumnCount() > 0 ? long(decodetext::rowCount(Fsv)) : 0);
    setSize();
  }
}

void TdecodeList::setLines(const TstringVec& lines) {
  // Nothing of the previous table stays: no selection, no columns, no scroll.
  DeleteAllItems();
  DeleteAllColumns();
  Scroll(0, 0);
  fill(lines);
  // The list keeps its width, so no size event will come to fit the columns.
  fitColumns();
  InvalidateBestSize();
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

void TdecodeList::fitColumns() {
  const int w = GetClientSize().x;
  // A negative width would ask the toolkit for an automatic one; an
  // unchanged one would still lay out and repaint the whole list.
  const int widths[] = {std::max(0, w / 4), std::max(0, (3 * w) / 4 - 20)};
  for (int col = 0; col < 2 && col < GetColumnCount(); ++col)
    if (GetColumnWidth(col) != widths[col]) SetColumnWidth(col, widths[col]);
  setSize();
}

void TdecodeList::onResize(wxSizeEvent& event) {
  fitColumns();
  event.Skip();
}

void TdecodeList::onWheel(wxMouseEvent& event) {
  if (event.GetWheelAxis() == wxMOUSE_WHEEL_VERTICAL)
    for (wxWindow* w = GetParent(); w; w = w->GetParent())
      if (auto* scroller = dynamic_cast<TscrollerPanel*>(w)) {
        scroller->scrollByWheel(event);
        return;
      }
  event.Skip();
}

wxString TdecodeList::OnGetItemText(long item, long column) const {
  wxCHECK_MSG(item >= 0 && size_t(item) < decodetext::rowCount(Fsv) && column >= 0, wxString(),
              "unsigned(item) < (Fsv.size()-2)");
  return toWx(decodetext::cell(Fsv, size_t(item), size_t(column)));
}

wxItemAttr* TdecodeList::OnGetItemAttr(long item) const { return item % 2 == 0 ? &bandAttr : nullptr; }
