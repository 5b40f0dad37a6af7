// The row view's arithmetic without a window: wheel steps, drag, the slot
// under a click, stepping, the thumb, the range rule and the slot plan, over
// a row list whose visible rows a test lays out.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "vktree.h"

namespace {

// The row-source contract the row view relies on, over a visibility mask.
struct TfakeRows {
  std::vector<bool> shown;

  int rowCount() const { return int(shown.size()); }
  bool ok(int ix) const { return ix >= 0 && ix < rowCount(); }
  int nextVisibleRow(int ix) {
    if (!ok(ix)) return -1;
    for (int i = ix + 1; i < rowCount(); ++i)
      if (shown[i]) return i;
    return -1;
  }
  int prevVisibleRow(int ix) {
    if (!ok(ix)) return -1;
    for (int i = ix - 1; i >= 0; --i)
      if (shown[i]) return i;
    return -1;
  }
  int nearestVisibleRow(int ix) {
    if (!ok(ix)) return -1;
    if (shown[ix]) return ix;
    const int next = nextVisibleRow(ix);
    const int prev = prevVisibleRow(ix);
    if (prev < 0) return next;
    if (next < 0) return prev;
    return next - ix < ix - prev ? next : prev;
  }
};

TfakeRows rowsShown(int n, std::vector<int> hidden = {}) {
  TfakeRows r;
  r.shown.assign(n, true);
  for (int h : hidden) r.shown[h] = false;
  return r;
}

}  // namespace

TEST(TreeNav, WheelMovesOneStepByExactModifierSet) {
  using treenav::wheelLines;
  const int V = wxMOUSE_WHEEL_VERTICAL;
  EXPECT_EQ(wheelLines(V, -120, wxMOD_NONE), 1);  // towards the end
  EXPECT_EQ(wheelLines(V, 120, wxMOD_NONE), -1);
  EXPECT_EQ(wheelLines(V, -960, wxMOD_NONE), 1);  // one event, one step
  EXPECT_EQ(wheelLines(V, -1, wxMOD_NONE), 1);    // a smooth-scroll sliver still steps
  EXPECT_EQ(wheelLines(V, -120, wxMOD_CONTROL), 25);
  EXPECT_EQ(wheelLines(V, 120, wxMOD_CONTROL | wxMOD_SHIFT), -125);
  EXPECT_EQ(wheelLines(V, -120, wxMOD_SHIFT), 1);
  EXPECT_EQ(wheelLines(V, -120, wxMOD_ALT), 1);
  EXPECT_EQ(wheelLines(V, -120, wxMOD_CONTROL | wxMOD_ALT), 1);
  EXPECT_EQ(wheelLines(V, -120, wxMOD_CONTROL | wxMOD_SHIFT | wxMOD_ALT), 1);
  // no vertical rotation: no scroll at all
  EXPECT_EQ(wheelLines(V, 0, wxMOD_NONE), 0);
  EXPECT_EQ(wheelLines(V, 0, wxMOD_CONTROL), 0);
  EXPECT_EQ(wheelLines(wxMOUSE_WHEEL_HORIZONTAL, -120, wxMOD_NONE), 0);
}

TEST(TreeNav, DragAndSlotArithmetic) {
  using treenav::dragLines;
  using treenav::slotAt;
  EXPECT_EQ(dragLines(29, 30), 0);
  EXPECT_EQ(dragLines(-29, 30), 0);
  EXPECT_EQ(dragLines(75, 30), -2);  // 2.5 rows down: 2 towards the start
  EXPECT_EQ(dragLines(-30, 30), 1);
  EXPECT_EQ(dragLines(INT_MIN, 1), INT_MAX);
  EXPECT_EQ(dragLines(100, 0), 0);

  EXPECT_EQ(slotAt(0, 30, 4), 0);
  EXPECT_EQ(slotAt(29, 30, 4), 0);
  EXPECT_EQ(slotAt(30, 30, 4), 1);
  EXPECT_EQ(slotAt(119, 30, 4), 3);
  EXPECT_EQ(slotAt(120, 30, 4), -1);  // beyond the last paint
  EXPECT_EQ(slotAt(-1, 30, 4), -1);   // just above the window is no slot
  EXPECT_EQ(slotAt(-31, 30, 4), -1);
  EXPECT_EQ(slotAt(5, 30, 0), -1);  // nothing painted yet
  EXPECT_EQ(slotAt(5, 0, 4), -1);

  EXPECT_EQ(treenav::barRange(16, 1000), 1016);
  EXPECT_EQ(treenav::barRange(16, INT_MAX - 3), INT_MAX);
  EXPECT_EQ(treenav::barRange(16, -5), 16);
}

TEST(TreeNav, StepRowsSkipsHiddenAndStopsAtTheEnds) {
  TfakeRows rows = rowsShown(10, {2, 3, 7});
  EXPECT_EQ(treenav::stepRows(rows, 1, 1), 4);
  EXPECT_EQ(treenav::stepRows(rows, 4, -1), 1);
  EXPECT_EQ(treenav::stepRows(rows, 0, 4), 6);
  EXPECT_EQ(treenav::stepRows(rows, 0, 125), 9);  // stops at the last visible row
  EXPECT_EQ(treenav::stepRows(rows, 9, -125), 0);
  EXPECT_EQ(treenav::stepRows(rows, 5, 0), 5);
  TfakeRows none;
  EXPECT_EQ(treenav::stepRows(none, 0, 25), 0);  // the top stays where it is
  EXPECT_EQ(treenav::stepRows(none, 0, -25), 0);
}

TEST(TreeNav, ThumbNeverLeavesTheRowList) {
  TfakeRows few = rowsShown(3);
  // the range is at least 10, so the thumb can lie past the last row
  EXPECT_EQ(treenav::topFromThumb(few, 9), 2);
  EXPECT_EQ(treenav::topFromThumb(few, 1), 1);
  EXPECT_EQ(treenav::topFromThumb(few, -4), 0);
  EXPECT_EQ(treenav::topFromThumb(few, LONG_MAX), 2);
  TfakeRows tailHidden = rowsShown(6, {4, 5});
  EXPECT_EQ(treenav::topFromThumb(tailHidden, 10), 3);
  EXPECT_EQ(treenav::topFromThumb(tailHidden, 4), 3);
  TfakeRows tie = rowsShown(7, {2, 3, 4});
  EXPECT_EQ(treenav::topFromThumb(tie, 3), 1);  // a tie goes to the earlier row
  TfakeRows hidden = rowsShown(4, {0, 1, 2, 3});
  EXPECT_EQ(treenav::topFromThumb(hidden, 2), 0);
  TfakeRows none;
  EXPECT_EQ(treenav::topFromThumb(none, 5), 0);

  EXPECT_EQ(treenav::keepTop(few, 2), 2);
  EXPECT_EQ(treenav::keepTop(few, 3), 0);  // left the list: back to the start
  EXPECT_EQ(treenav::keepTop(tailHidden, 5), 3);
  EXPECT_EQ(treenav::keepTop(hidden, 1), 0);
}

TEST(TreeNav, RangeRuleCountsSixVisibleRowsBackFromTheLast) {
  TfakeRows none;
  EXPECT_EQ(treenav::scrollRange(none), 10);
  TfakeRows twenty = rowsShown(20);
  EXPECT_EQ(treenav::scrollRange(twenty), 13);
  TfakeRows sparse = rowsShown(40, {38, 37, 36, 35, 30, 31});
  // visible before 39: 34 33 32 29 28 27 -> the sixth is 27
  EXPECT_EQ(treenav::scrollRange(sparse), 27);
  TfakeRows short7 = rowsShown(7);
  EXPECT_EQ(treenav::scrollRange(short7), 10);  // sixth step lands on 0, below 10
  TfakeRows tooFew = rowsShown(6);
  EXPECT_EQ(treenav::scrollRange(tooFew), 10);
  TfakeRows million = rowsShown(1000000);
  EXPECT_EQ(treenav::scrollRange(million), 999993);
}

TEST(TreeNav, SlotPlanFillsTheHeightWithBlankSlotsBelowTheLastRow) {
  std::vector<int> slots;
  TfakeRows rows = rowsShown(6, {2});
  treenav::planSlots(rows, 1, 200, 30, slots);  // 7 slots, the last one partly shown
  EXPECT_EQ(slots, (std::vector<int>{1, 3, 4, 5, -1, -1, -1}));
  treenav::planSlots(rows, 0, 60, 30, slots);
  EXPECT_EQ(slots, (std::vector<int>{0, 1}));
  TfakeRows none;
  treenav::planSlots(none, 0, 90, 30, slots);  // empty data set: the first slot keeps row 0
  EXPECT_EQ(slots, (std::vector<int>{0, -1, -1}));
  treenav::planSlots(rows, 0, 90, 0, slots);
  EXPECT_TRUE(slots.empty());
}
