// The row view: the display rows one a line, each a ready-made bitmap from the
// row cache, beside a scroll bar whose thumb position is a linear row index.
// Wheel, drag and thumb move the top row; a left click fills the hex-dump and
// decode panes, a right click marks a row, a double click re-filters.
// The arithmetic behind it (treenav) is plain code over any row source with
// rowCount / nextVisibleRow / prevVisibleRow / nearestVisibleRow, so it is
// testable without a window; every index it hands out lies in the row list
// (0 when the list has no visible row).
#pragma once

#include <wx/bitmap.h>
#include <wx/defs.h>
#include <wx/event.h>
#include <wx/panel.h>
#include <wx/scrolbar.h>

#include <climits>
#include <cstddef>
#include <vector>

#include "vkglobs.h"
#include "vkrcache.h"

class TdataPane;
class TdecodePane;

namespace treenav {

constexpr int WHEEL_CTRL_LINES = 25;
constexpr int WHEEL_CTRL_SHIFT_LINES = 125;

// Rows one wheel event moves, signed (+ towards the end of the list): one
// step per event whatever its size; 25 with exactly Ctrl, 125 with exactly
// Ctrl+Shift, else 1. GTK 3 sends smooth-scroll deltas that round to no
// rotation, and horizontal wheels: neither moves the list.
inline int wheelLines(int axis, int rotation, int modifiers) {
  if (axis != wxMOUSE_WHEEL_VERTICAL || rotation == 0) return 0;
  int step = 1;
  if (modifiers == wxMOD_CONTROL) step = WHEEL_CTRL_LINES;
  if (modifiers == (wxMOD_CONTROL | wxMOD_SHIFT)) step = WHEEL_CTRL_SHIFT_LINES;
  return rotation < 0 ? step : -step;
}

// Rows a drag by dy pixels moves (the rows follow the pointer, the part
// below one row is dropped); 0 below one row.
inline int dragLines(int dy, int rowHt) {
  if (rowHt <= 0) return 0;
  const long q = -(long(dy) / rowHt);
  return int(q > INT_MAX ? INT_MAX : q);
}

// The on-screen slot at y, or -1 when y lies above the first slot (which
// y / rowHt would truncate to slot 0) or beyond the last.
inline int slotAt(int y, int rowHt, std::size_t slots) {
  if (y < 0 || rowHt <= 0) return -1;
  const std::size_t k = std::size_t(y / rowHt);
  return k < slots ? int(k) : -1;
}

// Thumb size + range for the toolkit, saturated instead of overflowing.
inline int barRange(int thumbSize, int n) {
  if (n < 0) n = 0;
  return n > INT_MAX - thumbSize ? INT_MAX : thumbSize + n;
}

// From top, up to |n| visible rows on (n > 0) or back (n < 0); stops at the
// last one that exists.
template <class R>
int stepRows(R& rows, int top, int n) {
  int r = top;
  for (; n > 0; --n) {
    const int next = rows.nextVisibleRow(r);
    if (next < 0) break;
    r = next;
  }
  for (; n < 0; ++n) {
    const int prev = rows.prevVisibleRow(r);
    if (prev < 0) break;
    r = prev;
  }
  return r;
}

// The top row for a thumb position: the position clamped into the row list,
// then its nearest visible row; 0 when there is none.
template <class R>
int topFromThumb(R& rows, long pos) {
  const long last = long(rows.rowCount()) - 1;
  if (last < 0) return 0;
  const int at = int(pos < 0 ? 0 : (pos > last ? last : pos));
  const int r = rows.nearestVisibleRow(at);
  return r < 0 ? 0 : r;
}

// A top row kept across a change of the visible rows: itself or its nearest
// visible row, 0 when it left the list or nothing is visible.
template <class R>
int keepTop(R& rows, int top) {
  const int r = rows.nearestVisibleRow(top);
  return r < 0 ? 0 : r;
}

// Scroll range: the sixth visible row back from the last row (which is not
// counted itself), at least 10.
template <class R>
int scrollRange(R& rows) {
  int last = rows.prevVisibleRow(rows.rowCount() - 1);
  for (int i = 0; i < 5 && last >= 0; ++i) last = rows.prevVisibleRow(last);
  return last > 10 ? last : 10;
}

// The rows that fill a window height rowHt pixels a slot, from top: the
// visible rows in order, then -1 for each blank slot below the last one.
template <class R>
void planSlots(R& rows, int top, int height, int rowHt, std::vector<int>& slots) {
  slots.clear();
  if (rowHt <= 0) return;
  int row = top;
  for (long y = 0; y < height; y += rowHt) {
    slots.push_back(row);
    if (row >= 0) row = rows.nextVisibleRow(row);
  }
}

}  // namespace treenav

class TreeScrollBarPane : public wxScrollBar {
 public:
  TreeScrollBarPane(wxWindow* parent, int id);
  ~TreeScrollBarPane() override;

  // Thumb positions run from 0 to n; the thumb itself is not moved.
  void SetRange(int n);
  // Moves the thumb and publishes TOPIC_SCROLL with pos, also when unchanged.
  void SetThumbPosition(int pos) override;
  // Moves the thumb to where the view already is: nothing is published.
  void placeThumb(int pos);
  void onScroll(wxScrollEvent& event);

  int lastPos = -1;
};

class TreeMidPane : public wxPanel {
 public:
  TreeMidPane(wxWindow* parent, int id, TreeScrollBarPane& scrollBar, TdataPane& dataPane, TdecodePane& decodePane);
  ~TreeMidPane() override;

  void zoom(int pointSize);
  void onScrolled(long pos);
  void onVisRowsChanged();
  void scrollByLines(int n);
  // Marks the row in slot y with highlight 0 (left) or 1 (right); the row,
  // -1 for a blank slot or a y beyond the last paint (then nothing changes).
  int setClickRow(int highlight, int y);
  void doPaint(wxDC& dc);
  void doMouseRelease();

  TrowCache& cache() { return rowCache; }
  int getTopRow() const { return topRow; }
  int getScrollRange() const { return scrollRange; }
  const std::vector<int>& getPaintedRows() const { return paintedRows; }

 private:
  void onResize(wxSizeEvent& event);
  void onPaint(wxPaintEvent& event);
  void onEraseBG(wxEraseEvent& event);
  void onMouseWheel(wxMouseEvent& event);
  void onMouseLeftDown(wxMouseEvent& event);
  void onMouseRightDown(wxMouseEvent& event);
  void onMouseMove(wxMouseEvent& event);
  void onMouseLeftDclk(wxMouseEvent& event);
  void onMouseLeftUp(wxMouseEvent& event);
  void onLeaveWindow(wxMouseEvent& event);
  void onMouseCaptureLost(wxMouseCaptureLostEvent& event);

  int topRow = 0;
  int paintWidth = -1;
  int lastY = 0;
  int clientWidth = 100;
  int clientHeight = 100;
  int rowHeight = 50;
  int scrollRange = 10;
  unsigned dataSet = 0;  // the display data's serial of the rows shown
  bool dragging = false;
  std::vector<int> paintedRows;
  TreeScrollBarPane& scrollBar;
  TdataPane& dataPane;
  TdecodePane& decodePane;
  TrowCache rowCache;
  TsubToken scrollSub;
  TsubToken visRowsSub;
  wxBitmap backBuffer;  // the client area, composed before it goes to the window
};

class TreePane : public wxPanel {
 public:
  TreePane(wxWindow* parent, TdataPane& dataPane, TdecodePane& decodePane);
  ~TreePane() override;

  void zoom(int pointSize);

  TreeMidPane* midPane = nullptr;
  TreeScrollBarPane* scrollBar = nullptr;
};
