// The "Decode" pane: a row's decode text as a stack of wrapped paragraphs and
// titled tables in a vertically scrolling area. The decode text grammar
// (items cut at ";", "S" paragraphs, "T" tables of "#"-separated cells) is
// read by the plain functions of namespace decodetext; the windows only lay
// out what they return.
#pragma once

#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <string>
#include <vector>

#include "vkglobs.h"
#include "vkrows.h"

namespace decodetext {

enum TitemKind { IK_NONE = 0, IK_PARAGRAPH = 1, IK_TABLE = 2 };

// The non-empty pieces of text between ";".
TstringVec items(const std::string& text);
// Items the pane shows at most for one text.
constexpr size_t MAX_SHOWN_ITEMS = 64;
// The paragraphs and tables of a text, at most MAX_SHOWN_ITEMS of them, then
// a paragraph saying how many more there were when there were any.
TstringVec shownItems(const std::string& text);
TitemKind kind(const std::string& item);
// A paragraph item's text: the item without its "S".
std::string paragraph(const std::string& item);
// A table item's non-empty lines: title line, heading line, rows.
TstringVec tableLines(const std::string& item);
// The title line without its "T", or " " when nothing follows it.
std::string title(const TstringVec& lines);
TstringVec headings(const TstringVec& lines);
size_t rowCount(const TstringVec& lines);
// Cell column of row (0-based, below rowCount); empty when the row has fewer cells.
std::string cell(const TstringVec& lines, size_t row, size_t column);
// The text with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(const std::string& text);

}  // namespace decodetext

class TscrollerPanel;
class TscrolledPanel;
class TdecodeTitle;
class TdecodeListItem;
class TdecodeList;

class TdecodePane : public wxPanel {
 public:
  explicit TdecodePane(wxWindow* parent);
  ~TdecodePane() override = default;
  // Shows text, replacing what was shown.
  void render(const std::string& text);

  TscrollerPanel* scroller = nullptr;
};

class TscrollerPanel : public wxScrolledWindow {
 public:
  explicit TscrollerPanel(wxWindow* parent);
  ~TscrollerPanel() override = default;
  // Scrolls for a vertical wheel turned over an item that does not scroll itself.
  void scrollByWheel(const wxMouseEvent& event);

  TscrolledPanel* itemPanel = nullptr;

 private:
  double FwheelPixels = 0;  // turned but not yet scrolled
};

class TscrolledPanel : public wxPanel {
 public:
  explicit TscrolledPanel(wxWindow* parent);
  ~TscrolledPanel() override = default;
  // Replaces the items; windows of the previous ones (and the spares) are
  // refilled where the kinds allow, the others destroyed.
  void render(const std::string& text);

  wxBoxSizer* itemSizer = nullptr;

 private:
  // Hidden table windows made with the pane, for the first text: a list
  // window takes milliseconds to make, the first one several times more.
  std::vector<TdecodeListItem*> FspareTables;
};

// One paragraph, re-wrapped to its width on resize and on a sash move.
class TdecodeTextItem : public wxPanel {
 public:
  TdecodeTextItem(wxWindow* parent, std::string item);
  ~TdecodeTextItem() override = default;
  void doResize();
  void onResize(wxSizeEvent& event);
  int subId() const { return Fsub.id(); }
  // Takes another item's text, shown once wrapped.
  void setItem(const std::string& item);
  // Wraps the text to an item width (less the margin; unwrapped when that is negative).
  void wrapTo(int width);
  // Lets the stack and the scroller follow a new line count.
  void refit();

  wxStaticText* label = nullptr;
  wxBoxSizer* labelSizer = nullptr;
  std::string paraText;

 private:
  TsubToken Fsub;       // TOPIC_SPLITTER, withdrawn when the item dies
  int FwrapWidth = -1;  // the width the label is wrapped to
};

// One table: a title bar over a virtual report list.
class TdecodeListItem : public wxPanel {
 public:
  TdecodeListItem(wxWindow* parent, const std::string& item);
  ~TdecodeListItem() override = default;
  // Shows another table item in the same windows.
  void setItem(const std::string& item);

  TstringVec tableLines;

 private:
  TdecodeTitle* Ftitle = nullptr;
  TdecodeList* Flist = nullptr;
};

class TdecodeTitle : public wxPanel {
 public:
  TdecodeTitle(wxWindow* parent, const std::string& title);
  ~TdecodeTitle() override = default;
  void setTitle(const std::string& title);

 private:
  wxStaticText* Ftext = nullptr;
};

// Virtual: each visible cell is cut out of the list's own copy of the lines
// when the control asks for it, so nothing outside the list can free them.
class TdecodeList : public wxListView {
 public:
  TdecodeList(wxWindow* parent, const TstringVec& lines);
  ~TdecodeList() override = default;
  // Shows other lines: columns, rows and height afresh.
  void setLines(const TstringVec& lines);
  void setSize();
  // Columns 0 and 1 to a quarter and three quarters less 20 of the width.
  void fitColumns();
  void onResize(wxSizeEvent& event);
  // The list is as high as its rows, so the wheel scrolls the pane.
  void onWheel(wxMouseEvent& event);
  wxString OnGetItemText(long item, long column) const override;
  wxItemAttr* OnGetItemAttr(long item) const override;

  TstringVec Fsv;
  mutable wxItemAttr bandAttr;

 private:
  void fill(const TstringVec& lines);
};
