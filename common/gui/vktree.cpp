#include "vktree.h"

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/sizer.h>

#include "vkdecode.h"
#include "vkdpane.h"

namespace {
constexpr int BAR_THUMB = 16;
constexpr int BAR_RANGE = 1000;
constexpr int BAR_PAGE = 10;
constexpr int CACHE_WIDTH = 1024;
const wxColour VIEW_BG(232, 232, 232);
}  // namespace

TreeScrollBarPane::TreeScrollBarPane(wxWindow* parent, int id)
    : wxScrollBar(parent, id, wxDefaultPosition, wxDefaultSize, wxSB_VERTICAL) {
  SetScrollbar(0, BAR_THUMB, BAR_THUMB + BAR_RANGE, BAR_PAGE, true);
  Bind(wxEVT_SCROLL_THUMBTRACK, &TreeScrollBarPane::onScroll, this);
  Bind(wxEVT_SCROLL_CHANGED, &TreeScrollBarPane::onScroll, this);
}

TreeScrollBarPane::~TreeScrollBarPane() = default;

void TreeScrollBarPane::SetRange(int n) {
  // The toolkit clamps the thumb into a shrunken range without an event.
  SetScrollbar(GetThumbPosition(), GetThumbSize(), treenav::barRange(GetThumbSize(), n), GetPageSize(), true);
}

void TreeScrollBarPane::SetThumbPosition(int pos) {
  lastPos = pos;
  wxScrollBar::SetThumbPosition(pos);
  _G.pub(TOPIC_SCROLL, pos);
}

void TreeScrollBarPane::placeThumb(int pos) {
  lastPos = pos;
  wxScrollBar::SetThumbPosition(pos);
}

void TreeScrollBarPane::onScroll(wxScrollEvent&) {
  const int pos = GetThumbPosition();
  if (pos != lastPos) _G.pub(TOPIC_SCROLL, pos);
  lastPos = pos;
}

TreeMidPane::TreeMidPane(wxWindow* parent, int id, TreeScrollBarPane& scrollBar, TdataPane& dataPane,
                         TdecodePane& decodePane)
    : wxPanel(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      scrollBar(scrollBar),
      dataPane(dataPane),
      decodePane(decodePane) {
  rowCache.init(GetParent(), CACHE_WIDTH);
  topRow = 0;
  onVisRowsChanged();

  Bind(wxEVT_SIZE, &TreeMidPane::onResize, this);
  Bind(wxEVT_PAINT, &TreeMidPane::onPaint, this);
  Bind(wxEVT_ERASE_BACKGROUND, &TreeMidPane::onEraseBG, this);
  Bind(wxEVT_MOUSEWHEEL, &TreeMidPane::onMouseWheel, this);
  Bind(wxEVT_LEFT_DOWN, &TreeMidPane::onMouseLeftDown, this);
  Bind(wxEVT_RIGHT_DOWN, &TreeMidPane::onMouseRightDown, this);
  Bind(wxEVT_MOTION, &TreeMidPane::onMouseMove, this);
  Bind(wxEVT_LEFT_DCLICK, &TreeMidPane::onMouseLeftDclk, this);
  Bind(wxEVT_LEFT_UP, &TreeMidPane::onMouseLeftUp, this);
  Bind(wxEVT_LEAVE_WINDOW, &TreeMidPane::onLeaveWindow, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &TreeMidPane::onMouseCaptureLost, this);

  scrollSub = TsubToken(TOPIC_SCROLL, [this](long pos) { onScrolled(pos); });
  visRowsSub = TsubToken(TOPIC_VIS_ROWS, [this](long) { onVisRowsChanged(); });
}

TreeMidPane::~TreeMidPane() {
  if (HasCapture()) ReleaseMouse();
}

void TreeMidPane::zoom(int pointSize) {
  rowCache.zoom(pointSize);
  rowHeight = rowCache.getRowHt();
  Refresh(false);
}

void TreeMidPane::onScrolled(long pos) {
  topRow = treenav::topFromThumb(rowCache.rData(), pos);
  Refresh(false);
}

void TreeMidPane::onVisRowsChanged() {
  TdisplData& data = rowCache.rData();
  data.resetVisibleRows();
  rowCache.invalidateAll();
  topRow = treenav::keepTop(data, topRow);
  scrollRange = treenav::scrollRange(data);
  scrollBar.SetRange(scrollRange);
  // A new data set: the thumb of the old one would point elsewhere.
  if (data.dataSetSerial() != dataSet) scrollBar.placeThumb(topRow);
  dataSet = data.dataSetSerial();
  Refresh(false);
}

void TreeMidPane::scrollByLines(int n) {
  if (n == 0) return;
  scrollBar.SetThumbPosition(treenav::stepRows(rowCache.rData(), topRow, n));
}

int TreeMidPane::setClickRow(int highlight, int y) {
  const int k = treenav::slotAt(y, rowHeight, paintedRows.size());
  if (k < 0) return -1;
  const int row = paintedRows[k];
  rowCache.setClickRow(highlight, row);
  Refresh(false);
  return row;
}

void TreeMidPane::doPaint(wxDC& dc) {
  paintWidth = clientWidth;
  const int rowHt = rowCache.getRowHt();
  treenav::planSlots(rowCache.rData(), topRow, clientHeight, rowHt, paintedRows);
  rowCache.fitScreen(paintedRows.size());
  // The rows are put together in a bitmap of our own and go to the window in
  // one blit: with GTK 3 every blit to the window is an upload to the X
  // server, and one a slot made a cached repaint three times as slow.
  wxMemoryDC buffer;
  bool buffered = paintWidth > 0 && clientHeight > 0;
  if (buffered && (!backBuffer.IsOk() || backBuffer.GetSize() != wxSize(paintWidth, clientHeight)))
    buffered = backBuffer.Create(paintWidth, clientHeight);
  buffered = buffered && backBuffer.IsOk();
  if (buffered) buffer.SelectObject(backBuffer);
  wxDC& out = buffered ? static_cast<wxDC&>(buffer) : dc;
  wxMemoryDC mdc;
  int y = 0;
  for (const int row : paintedRows) {
    int w = 0;
    int h = rowHt;
    const wxBitmap& bm = rowCache.getRowBitmap(row, paintWidth, w, h);
    mdc.SelectObjectAsSource(bm);
    out.Blit(0, y, paintWidth, h, &mdc, 0, 0, wxCOPY, true);
    mdc.SelectObject(wxNullBitmap);
    y += h;
  }
  if (buffered) dc.Blit(0, 0, paintWidth, clientHeight, &buffer, 0, 0, wxCOPY);
}

void TreeMidPane::doMouseRelease() {
  if (HasCapture()) ReleaseMouse();
  dragging = false;
}

void TreeMidPane::onResize(wxSizeEvent& event) {
  clientWidth = event.GetSize().GetWidth();
  clientHeight = event.GetSize().GetHeight();
  rowHeight = rowCache.getRowHt();
  event.Skip();
}

void TreeMidPane::onPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  doPaint(dc);
}

void TreeMidPane::onEraseBG(wxEraseEvent& event) {
  wxDC* dc = event.GetDC();
  if (dc == nullptr) return;
  dc->SetBackground(wxBrush(VIEW_BG, wxBRUSHSTYLE_SOLID));
  dc->Clear();
}

void TreeMidPane::onMouseWheel(wxMouseEvent& event) {
  scrollByLines(treenav::wheelLines(event.GetWheelAxis(), event.GetWheelRotation(), event.GetModifiers()));
}

void TreeMidPane::onMouseLeftDown(wxMouseEvent& event) {
  // A second capture asserts in the toolkit; injected and fast presses
  // can arrive while this window still holds the first.
  if (!HasCapture()) CaptureMouse();
  lastY = event.GetY();
  dragging = true;
  // The decode text is taken while the row is still cached: marking the row
  // drops its cached drawing, and the text does not depend on the mark.
  const int k = treenav::slotAt(event.GetY(), rowHeight, paintedRows.size());
  const std::string decode = k >= 0 && paintedRows[k] >= 0 ? rowCache.getRowDecode(paintedRows[k]) : std::string();
  const int row = setClickRow(0, event.GetY());
  if (row >= 0) {
    dataPane.renderPacket(*rowCache.rData().getData(row));
    decodePane.render(decode);
  }
  event.Skip();
}

void TreeMidPane::onMouseRightDown(wxMouseEvent& event) { setClickRow(1, event.GetY()); }

void TreeMidPane::onMouseMove(wxMouseEvent& event) {
  if (!dragging) return;
  const int lines = treenav::dragLines(event.GetY() - lastY, rowCache.getRowHt());
  if (lines == 0) return;
  scrollByLines(lines);
  lastY = event.GetY();
}

void TreeMidPane::onMouseLeftDclk(wxMouseEvent& event) {
  const int k = treenav::slotAt(event.GetY(), rowHeight, paintedRows.size());
  if (k >= 0 && rowCache.rData().doubleClick(paintedRows[k])) onVisRowsChanged();
  event.Skip();
}

void TreeMidPane::onMouseLeftUp(wxMouseEvent&) { doMouseRelease(); }

void TreeMidPane::onLeaveWindow(wxMouseEvent&) { doMouseRelease(); }

void TreeMidPane::onMouseCaptureLost(wxMouseCaptureLostEvent&) { doMouseRelease(); }

TreePane::TreePane(wxWindow* parent, TdataPane& dataPane, TdecodePane& decodePane)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE) {
  scrollBar = new TreeScrollBarPane(this, wxID_ANY);
  midPane = new TreeMidPane(this, wxID_ANY, *scrollBar, dataPane, decodePane);
  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->Add(midPane, 1, wxEXPAND);
  sizer->Add(scrollBar, 0, wxEXPAND | wxLEFT, 1);
  SetSizerAndFit(sizer);
}

TreePane::~TreePane() = default;

void TreePane::zoom(int pointSize) { midPane->zoom(pointSize); }
