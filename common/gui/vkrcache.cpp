// Row cache and row drawing. A row bitmap is drawn 100 pixels wider than
// asked, so small widenings of the view reuse it; its decode text is made
// with it, so a click on a cached row runs no Lua.
#include "vkrcache.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/settings.h>
#include <wx/window.h>

#include <algorithm>

#include "vkcolors.h"

namespace {

constexpr size_t CACHE_ROWS = 32;  // the least capacity
// Rows kept beyond a screenful, so that a scroll step redraws only the rows
// that come into view; and the most, whatever the window's height.
constexpr size_t CACHE_MARGIN = 8;
constexpr size_t MAX_CACHE_ROWS = 1024;
constexpr int WIDTH_SLACK = 100;
constexpr int LEFT_MARGIN = 8;
constexpr int RIGHT_MARGIN = 125;
constexpr int START_WIDTH = 1024;
// Wider requests are served at this width: a bitmap must stay allocatable.
constexpr int MAX_REQUEST_WIDTH = 32000;
// Bound of the text size memo: labels recur, numbers mostly do not.
constexpr size_t MAX_TEXT_SIZES = 4096;

// Beyond these the row font is unreadable or its bitmaps too large to allocate.
constexpr int MIN_POINT_SIZE = 4;
constexpr int MAX_POINT_SIZE = 72;

// Backgrounds of click slot 0, slot 1 and no slot.
constexpr uint64_t SLOT_BG[3] = {PINK, LIGHTBLUE, ROWS_BG};
constexpr uint64_t BOX_BORDER = BLACK;

// The user flag: a bar in the left margin.
constexpr uint64_t USER_MARK = ORANGERED;
constexpr int USER_MARK_X = 2;
constexpr int USER_MARK_WIDTH = 4;

int SfontHt = 0;
int SfontWid = 0;
int SyBoxTop = 2;
int SyTopTxt = 3;
int SyBoxMid = 4;
int SyBotTxt = 5;
int SyBoxBot = 6;
int SrowHt = 9;

void setSizes(int fontHt, int fontWid) {
  SfontHt = fontHt;
  SfontWid = fontWid;
  SyBoxTop = 2;
  SyTopTxt = 3;
  SyBoxMid = SyTopTxt + SfontHt + 1;
  SyBotTxt = SyBoxMid + 1;
  SyBoxBot = SyBotTxt + SfontHt + 1;
  SrowHt = SyBoxBot + 3;
}

wxColour colourOf(uint64_t bgr) {
  return wxColour(static_cast<unsigned char>(bgr & 0xff), static_cast<unsigned char>((bgr >> 8) & 0xff),
                  static_cast<unsigned char>((bgr >> 16) & 0xff));
}

}  // namespace

// ---- one row ----

Trow::Trow(TdisplData& data, wxFont& font, TtextSizes& sizes, int ix, int maxWidth, int clickSlot, wxBitmap& spare,
           std::string* decode)
    : Fix(ix), FmaxWidth(std::max(maxWidth, 1)), Fsizes(&sizes) {
  const bool visible = data.isVisible(ix);
  if (visible) Fdecode = decode ? std::move(*decode) : data.genRowDecode(ix);
  if (!makeBitmap(spare)) return;
  wxMemoryDC dc(Fbitmap);
  if (!dc.IsOk()) return;
  dc.SetFont(font);
  clearBM(dc, SLOT_BG[clickSlot == 0 || clickSlot == 1 ? clickSlot : 2]);
  if (!visible) return;
  Fx = LEFT_MARGIN;
  if (data.userFlag(ix)) userMark(dc);
  // Every box is at least two characters wide, so no more than this many
  // can show; a row of a million children costs one bitmap's width.
  const size_t fitting = static_cast<size_t>(FmaxWidth / (2 * std::max(SfontWid, 1))) + 1;
  bool cut = false;
  for (const TdisplayBox& box : *data.genRowBoxes(ix, fitting)) {
    cut = Fx >= FmaxWidth;
    if (cut) break;
    drawBox(dc, box);
  }
  Fx = cut ? FmaxWidth : Fx + RIGHT_MARGIN;
  dc.SelectObject(wxNullBitmap);
}

bool Trow::makeBitmap(wxBitmap& spare) {
  if (spare.IsOk()) {
    Fbitmap = spare;
    spare.UnRef();  // the sole holder, else the DC would draw on a copy
    return true;
  }
  return Fbitmap.Create(FmaxWidth, SrowHt) && Fbitmap.IsOk();
}

wxBitmap Trow::takeBitmap() {
  const wxBitmap bitmap = Fbitmap;
  Fbitmap.UnRef();
  return bitmap;
}

wxBitmap& Trow::getRowBitmap(int& width, int& height) {
  width = Fx;
  height = SrowHt;
  return Fbitmap;
}

wxSize Trow::textSize(wxDC& dc, const std::string& text) {
  const auto known = Fsizes->find(text);
  if (known != Fsizes->end()) return known->second;
  if (Fsizes->size() >= MAX_TEXT_SIZES) Fsizes->clear();
  const wxSize size = dc.GetTextExtent(wxString::FromUTF8(text.c_str()));
  Fsizes->emplace(text, size);
  return size;
}

void Trow::clearBM(wxDC& dc, uint64_t colour) {
  dc.SetDeviceOrigin(0, 0);
  dc.SetBackground(wxBrush(colourOf(colour), wxBRUSHSTYLE_SOLID));
  dc.Clear();
}

void Trow::drawBox(wxDC& dc, const TdisplayBox& box) {
  // Positions stay within a few bitmap widths, far from where int or the
  // drawing library's fixed-point coordinates would wrap.
  const long long limit = FmaxWidth;
  gap(static_cast<int>(std::clamp(Fx + static_cast<long long>(box.gap), -limit, limit)) - Fx);
  long long wide = static_cast<long long>(SfontWid) * box.width;
  if (box.width < 0) {
    // Fit the texts, one character's width of room on either side.
    const int widest =
        std::max(box.top.text.empty() ? 0 : textSize(dc, box.top.text).GetWidth(),
                 box.lines == 1 && !box.bottom.text.empty() ? textSize(dc, box.bottom.text).GetWidth() : 0);
    wide = widest + 2LL * SfontWid;
  }
  const int w = static_cast<int>(std::clamp(wide, 0LL, limit));
  FxEnd = Fx + w;
  if (box.lines == 0) {
    textBox(dc, wxRect(Fx, SyBoxTop, w, SyBoxBot - SyBoxTop + 1), box.top.fg, box.top.bg, box.top.text);
  } else {
    textBox(dc, wxRect(Fx, SyBoxTop, w, SyBoxMid - SyBoxTop + 1), box.top.fg, box.top.bg, box.top.text);
    textBox(dc, wxRect(Fx, SyBoxMid, w, SyBoxBot - SyBoxMid + 1), box.bottom.fg, box.bottom.bg, box.bottom.text);
    midHbar(dc);
  }
  borderRect(dc, Fx, SyBoxTop, Fx + w, SyBoxBot);
  Fx += w;
}

void Trow::textBox(wxDC& dc, const wxRect& rect, uint64_t fg, uint64_t bg, const std::string& text) {
  const wxColour back = colourOf(bg);
  dc.SetBrush(wxBrush(back, wxBRUSHSTYLE_SOLID));
  dc.SetPen(wxPen(back, 1, wxPENSTYLE_SOLID));
  dc.DrawRectangle(rect);
  if (text.empty()) return;
  const wxSize size = textSize(dc, text);
  if (fg != FtextFg) dc.SetTextForeground(colourOf(fg));
  FtextFg = fg;
  const wxString label = wxString::FromUTF8(text.c_str());
  // Centred when it fits; wider than the box (or than its part in the
  // bitmap), it starts at the box's left edge, so that most of it shows.
  const int x = rect.x + std::max(0, (rect.width - size.GetWidth()) / 2);
  const int y = rect.y + (rect.height - size.GetHeight()) / 2;
  // The DC would measure the text again for its bounding box, which nothing
  // here reads; its own path is kept for texts of several lines.
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  const bool oneLine = gc && text.find('\n') == std::string::npos;
  auto draw = [&] {
    if (oneLine)
      gc->DrawText(label, x, y);
    else
      dc.DrawText(label, x, y);
  };
  if (size.GetWidth() <= rect.width) {
    draw();
    return;
  }
  // Cut at the box's edges: never over its neighbours or the click-mark margin.
  const wxDCClipper clip(dc, rect);
  draw();
}

void Trow::borderRect(wxDC& dc, int x1, int y1, int x2, int y2) {
  dc.SetPen(wxPen(colourOf(BOX_BORDER), 1, wxPENSTYLE_SOLID));
  const wxPoint corners[5] = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}, {x1, y1}};
  dc.DrawLines(5, corners);
}

void Trow::midHbar(wxDC& dc) {
  dc.SetPen(wxPen(colourOf(BOX_BORDER), 1, wxPENSTYLE_SOLID));
  dc.DrawLine(Fx, SyBoxMid, FxEnd, SyBoxMid);
}

void Trow::userMark(wxDC& dc) {
  const wxColour mark = colourOf(USER_MARK);
  dc.SetBrush(wxBrush(mark, wxBRUSHSTYLE_SOLID));
  dc.SetPen(wxPen(mark, 1, wxPENSTYLE_SOLID));
  dc.DrawRectangle(USER_MARK_X, SyBoxTop, USER_MARK_WIDTH, SyBoxBot - SyBoxTop + 1);
}

// ---- the cache ----

TrowCache::TrowCache() : Ffont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT)), Fcapacity(CACHE_ROWS) {
  measureFont();
  setWidth(START_WIDTH);
  FcaptureSub = TsubToken(TOPIC_CAPTURE, [this](long) { onDoCapture(); });
  FreadSub = TsubToken(TOPIC_FILE_READ, [this](long path) { onSampleFileRead(path); });
}

void TrowCache::init(wxWindow* window, int width) {
  Frows.clear();
  if (window && window->GetFont().IsOk()) Ffont = window->GetFont();
  const int points = Ffont.GetPointSize();
  if (points < MIN_POINT_SIZE || points > MAX_POINT_SIZE)
    Ffont.SetPointSize(std::clamp(points, MIN_POINT_SIZE, MAX_POINT_SIZE));
  measureFont();
  setWidth(width);
}

void TrowCache::zoom(int pointSize) {
  Ffont.SetPointSize(std::clamp(pointSize, MIN_POINT_SIZE, MAX_POINT_SIZE));
  measureFont();
  Frows.clear();
}

void TrowCache::measureFont() {
  FtextSizes.clear();
  Fspares.clear();
  wxBitmap scratch(1, 1);
  wxMemoryDC dc(scratch);
  dc.SetFont(Ffont);
  const wxSize x = dc.GetTextExtent("X");
  setSizes(x.GetHeight(), x.GetWidth());
}

TrowGeometry TrowCache::geometry() {
  return TrowGeometry{SfontHt, SfontWid, SyBoxTop, SyTopTxt, SyBoxMid, SyBotTxt, SyBoxBot, SrowHt};
}

int TrowCache::getRowHt() const { return SrowHt; }

Trow& TrowCache::getRow(int ix, int width) {
  width = std::clamp(width, 0, MAX_REQUEST_WIDTH);
  for (auto it = Frows.begin(); it != Frows.end(); ++it) {
    if (it->ix() != ix) continue;
    if (width <= it->maxWidth()) {
      if (it != Frows.begin()) Frows.splice(Frows.begin(), Frows, it);
      return Frows.front();
    }
    Frows.erase(it);
    break;
  }
  while (Frows.size() > Fcapacity - 1) {
    keepSpare(Frows.back());
    Frows.pop_back();
  }
  wxBitmap spare = takeSpare(width + WIDTH_SLACK);
  auto known =
      std::find_if(FmarkedDecodes.begin(), FmarkedDecodes.end(), [ix](const auto& d) { return d.first == ix; });
  std::string* decode = known != FmarkedDecodes.end() ? &known->second : nullptr;
  Frows.emplace_front(FdisplData, Ffont, FtextSizes, ix, width + WIDTH_SLACK, hiLightIx(ix), spare, decode);
  if (decode) FmarkedDecodes.erase(known);
  return Frows.front();
}

void TrowCache::keepSpare(Trow& row) {
  // Spares and rows together stay within the cache's bitmap count; a bitmap
  // someone else still holds is not drawn over.
  wxBitmap bitmap = row.takeBitmap();
  const wxObjectRefData* data = bitmap.IsOk() ? bitmap.GetRefData() : nullptr;
  if (data && data->GetRefCount() == 1 && Fspares.size() + Frows.size() <= Fcapacity) Fspares.push_back(bitmap);
}

wxBitmap TrowCache::takeSpare(int width) {
  // A spare of another size is from an old view width: let it go.
  while (!Fspares.empty()) {
    wxBitmap spare = Fspares.back();
    Fspares.pop_back();
    if (spare.GetWidth() == width && spare.GetHeight() == SrowHt) return spare;
  }
  return wxBitmap();
}

void TrowCache::dropAll() {
  for (Trow& row : Frows) keepSpare(row);
  Frows.clear();
  FmarkedDecodes.clear();
}

wxBitmap& TrowCache::getRowBitmap(int ix, int width, int& drawnWidth, int& height) {
  return getRow(ix, width).getRowBitmap(drawnWidth, height);
}

std::string TrowCache::getRowDecode(int ix) { return getRow(ix, 0).getDecode(); }

bool TrowCache::isCached(int ix) const {
  return std::any_of(Frows.begin(), Frows.end(), [ix](const Trow& r) { return r.ix() == ix; });
}

int TrowCache::hiLightIx(int ix) const {
  if (ix < 0) return -1;
  if (FclickRow[0] == ix) return 0;
  if (FclickRow[1] == ix) return 1;
  return -1;
}

int TrowCache::setClickRow(int slot, int ix) {
  if (slot != 0 && slot != 1) return -1;
  const int old = FclickRow[slot];
  FclickRow[slot] = ix;
  FmarkedDecodes.clear();
  for (Trow& row : Frows)
    if (row.ix() >= 0 && (row.ix() == old || row.ix() == ix)) FmarkedDecodes.emplace_back(row.ix(), row.takeDecode());
  invalidateRow(old);
  invalidateRow(ix);
  return old;
}

void TrowCache::invalidateRow(int ix) {
  if (ix < 0) return;
  for (auto it = Frows.begin(); it != Frows.end();) {
    if (it->ix() != ix) {
      ++it;
      continue;
    }
    keepSpare(*it);
    it = Frows.erase(it);
  }
}

void TrowCache::invalidateAll() { dropAll(); }

void TrowCache::setWidth(int width) {
  Fwidth = width;
  dropAll();
}

void TrowCache::fitScreen(size_t rows) { Fcapacity = std::clamp(rows + CACHE_MARGIN, CACHE_ROWS, MAX_CACHE_ROWS); }

void TrowCache::adopted() {
  // The marks name indices of the old rows.
  FclickRow[0] = FclickRow[1] = -1;
  invalidateAll();
  _G.pub(TOPIC_VIS_ROWS, 0);
}

void TrowCache::onDoCapture() {
  if (FdisplData.doCapture() != 0) adopted();
}

void TrowCache::onSampleFileRead(long path) {
  if (path == 0) return;
  const std::string copy(reinterpret_cast<const char*>(path));  // valid only during the publish
  if (FdisplData.sampleFileRead(copy) != 0) adopted();
}
