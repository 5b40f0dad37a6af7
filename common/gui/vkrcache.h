// Row cache: turns display rows into row bitmaps (one line of coloured boxes,
// drawn with wx device contexts) together with their Lua decode texts, and
// keeps the most recently used: 32, or a screenful and a margin. It owns the
// display data, the row font and the row geometry derived from it, the two
// click marks, and reloads the data on the capture and read topics. GUI
// thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/font.h>

#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vkdispldata.h"
#include "vkglobs.h"

class wxDC;
class wxRect;
class wxWindow;

// Row geometry in pixels, from the height and width of "X" in the row font.
struct TrowGeometry {
  int fontHt;   // H
  int fontWid;  // W: a box n characters wide is n * W pixels
  int yBoxTop;  // 2
  int yTopTxt;  // 3
  int yBoxMid;  // H + 4
  int yBotTxt;  // H + 5
  int yBoxBot;  // 2H + 6
  int rowHt;    // 2H + 9
};

// Pixel sizes of texts in the row font: measuring a text costs about as much
// as drawing it, and most box labels recur on every screen.
using TtextSizes = std::unordered_map<std::string, wxSize>;

// One drawn row: bitmap, drawn width and decode text.
class Trow {
 public:
  // Draws the row into a maxWidth-wide bitmap on the background of its click
  // slot, up to the bitmap's right edge: the boxes beyond it are neither
  // built nor drawn. A valid spare (of that size) is taken over and drawn on.
  // A known decode text (moved from) saves the Lua call.
  Trow(TdisplData& data, wxFont& font, TtextSizes& sizes, int ix, int maxWidth, int clickSlot, wxBitmap& spare,
       std::string* decode = nullptr);

  // width receives the drawn width (0 for a row that is not visible),
  // height the row height. The bitmap is !IsOk() only when it could not be
  // allocated.
  wxBitmap& getRowBitmap(int& width, int& height);
  const std::string& getDecode() const { return Fdecode; }
  int ix() const { return Fix; }
  int maxWidth() const { return FmaxWidth; }
  // Hands the bitmap over for reuse (its only holder then, if it was
  // before); the row is dropped next.
  wxBitmap takeBitmap();
  std::string takeDecode() { return std::move(Fdecode); }

 private:
  bool makeBitmap(wxBitmap& spare);
  wxSize textSize(wxDC& dc, const std::string& text);
  void clearBM(wxDC& dc, uint64_t colour);
  void drawBox(wxDC& dc, const TdisplayBox& box);
  // Fills rect and draws text in it, never outside it.
  void textBox(wxDC& dc, const wxRect& rect, uint64_t fg, uint64_t bg, const std::string& text);
  void borderRect(wxDC& dc, int x1, int y1, int x2, int y2);
  void midHbar(wxDC& dc);
  void userMark(wxDC& dc);
  void gap(int pixels) { Fx += pixels; }

  int Fix;
  int Fx = 0;
  int FxEnd = 0;
  int FmaxWidth;
  wxBitmap Fbitmap;
  TtextSizes* Fsizes;
  uint64_t FtextFg = ~0ull;  // the colour last set for text
  std::string Fdecode;
};

class TrowCache {
 public:
  TrowCache();
  TrowCache(const TrowCache&) = delete;
  TrowCache& operator=(const TrowCache&) = delete;

  // Takes window's font as the row font and sets the geometry from it.
  void init(wxWindow* window, int width);
  // Point size of the row font, kept within a readable and drawable range.
  void zoom(int pointSize);
  // A bitmap of row ix at least width wide (width + 100 when drawn now);
  // drawnWidth receives the used width, height the row height. A row that
  // is not visible (or a bad index) gives a plain bitmap and drawnWidth 0.
  wxBitmap& getRowBitmap(int ix, int width, int& drawnWidth, int& height);
  std::string getRowDecode(int ix);
  int getRowHt() const;
  // Slot 0 or 1: stores ix, drops the cached rows of the old and new index,
  // returns the old index. Any other slot: -1, nothing changes.
  int setClickRow(int slot, int ix);
  int hiLightIx(int ix) const;
  void invalidateRow(int ix);
  void invalidateAll();
  void setWidth(int width);
  // The rows one screen shows: the cache holds them all and a margin.
  void fitScreen(size_t rows);

  void onDoCapture();
  void onSampleFileRead(long path);

  TdisplData& rData() { return FdisplData; }

  // For tests and diagnostics.
  static TrowGeometry geometry();
  size_t cachedRows() const { return Frows.size(); }
  bool isCached(int ix) const;
  int rowPointSize() const { return Ffont.GetPointSize(); }

 private:
  Trow& getRow(int ix, int width);
  void measureFont();
  // Bitmaps of dropped rows are drawn over again rather than allocated anew.
  void keepSpare(Trow& row);
  wxBitmap takeSpare(int width);
  void dropAll();
  // A new data set: no click marks, no cached rows, topic 4.
  void adopted();

  TdisplData FdisplData;  // first: built before, destroyed after the rest
  std::list<Trow> Frows;  // most recently used first
  wxFont Ffont;
  TtextSizes FtextSizes;  // for Ffont
  std::vector<wxBitmap> Fspares;
  // Decode texts of the rows dropped for a new click mark, which the text
  // does not depend on: redrawing them runs no Lua.
  std::vector<std::pair<int, std::string>> FmarkedDecodes;
  int FclickRow[2] = {-1, -1};
  size_t Fcapacity;
  int Fwidth = 0;
  TsubToken FcaptureSub;
  TsubToken FreadSub;
};
