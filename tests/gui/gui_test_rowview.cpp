// The row view in its real container, driven by real events: toggles and the
// rows shown, left/right/double clicks and what they fill, wheel, drag and
// thumb scrolling, clicks on blank slots and beyond the last paint. The data
// sets come from the engine: packet rows grouped and flattened by TdataIO.
// With QX_BENCH set, a 1,000,000-row case prints scroll and click timings.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/frame.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <lua.hpp>
#include <memory>
#include <string>

#include "guitest.h"
#include "qxhostile.h"
#include "vkdataio.h"
#include "vkdecode.h"
#include "vkdpane.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

constexpr int OUT = 1, ACK = 2, DATA0 = 3, SOF = 5, IN = 9, NAK = 10, DATA1 = 11, SETUP = 13;

TrowPtr tok(int pid, int addr, int endp) {
  auto t = std::make_shared<Ttoken>();
  t->pid = pid, t->addr = addr, t->endp = endp, t->idle = 10;
  return t;
}
TrowPtr dat(int pid, TbyteVec bytes) {
  auto d = std::make_shared<Tdata>();
  d->pid = pid, d->data = std::move(bytes), d->idle = 10;
  return d;
}
TrowPtr hs(int pid) {
  auto h = std::make_shared<Thandshake>();
  h->pid = pid, h->idle = 10;
  return h;
}

TbyteVec counting(size_t n, int from = 0) {
  TbyteVec v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(from + i);
  return v;
}

// Packet rows of traffic that the engine groups into SOF groups, control
// transfers and bulk transactions.
class TtrafficBuilder {
 public:
  TrowVec packets;
  void sofs(int n) {
    for (int i = 0; i < n; ++i) {
      auto s = std::make_shared<Tsof>();
      s->pid = SOF, s->frame = frame++ & 0x7ff, s->idle = 10;
      packets.push_back(s);
    }
  }
  // A control read with a data stage of n bytes in 64-byte packets; nakFirst
  // puts a NAK'd IN before the first data packet.
  void controlRead(size_t n, bool nakFirst) {
    const TbyteVec setup{0x80, 0x06, 0x00, 0x01, 0x00, 0x00, uint8_t(n & 0xff), uint8_t(n >> 8)};
    add({tok(SETUP, 0, 0), dat(DATA0, setup), hs(ACK)});
    if (nakFirst) add({tok(IN, 0, 0), hs(NAK)});
    int toggle = DATA1;
    for (size_t off = 0; off < n; off += 64, toggle = toggle == DATA1 ? DATA0 : DATA1)
      add({tok(IN, 0, 0), dat(toggle, counting(std::min<size_t>(64, n - off), int(off))), hs(ACK)});
    add({tok(OUT, 0, 0), dat(DATA1, {}), hs(ACK)});
  }
  void bulkOut(size_t n) { add({tok(OUT, 3, 2), dat(DATA0, counting(n, 0x41)), hs(ACK)}); }
  void bulkInNak() { add({tok(IN, 3, 1), hs(NAK)}); }

  // Groups and flattens through the engine.
  void build(TlinVecPtr& rows, TrowVecPtr& roots) const {
    auto events = std::make_shared<TrowVec>(packets);
    roots = std::make_shared<TrowVec>();
    rows = std::make_shared<TlinVec>();
    TdataIO io;
    io.eventVecToTreeRootVec(events, roots);
    io.treeRootVecToLinVec(roots, rows);
  }

 private:
  void add(std::initializer_list<TrowPtr> rows) { packets.insert(packets.end(), rows); }
  int frame = 0;
};

// A small data set with one of each: reset, SOF group, a control read of 18
// bytes with a NAK'd IN, a bulk OUT of 9 bytes, a NAK'd bulk IN; its 18
// visible rows fit on screen.
TtrafficBuilder smallTraffic() {
  TtrafficBuilder t;
  auto reset = std::make_shared<Treset>();
  reset->duration = 120000, reset->idleTicks = 300;
  t.packets.push_back(reset);
  t.sofs(3);
  t.controlRead(18, true);
  t.bulkOut(9);
  t.bulkInNak();
  t.sofs(2);
  return t;
}

// Many bulk transactions: 4 display rows each.
TtrafficBuilder manyTransactions(int n) {
  TtrafficBuilder t;
  for (int i = 0; i < n; ++i) t.bulkOut(1 + i % 64);
  return t;
}

class RowView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wxSetWorkingDirectory(QX_SOURCE_DIR));  // ./scripts/init.lua
    _G.showSOFs = false, _G.showNAKs = false, _G.showPackets = true;
    frame = new wxFrame(nullptr, wxID_ANY, "rows", wxPoint(20, 20), wxSize(1300, 1000));
    mid = new MidPane(frame, wxID_ANY);
    view = mid->treePane->midPane;
    bar = mid->treePane->scrollBar;
    scrolls = TsubToken(TOPIC_SCROLL, [this](long pos) { published.push_back(int(pos)); });
    frame->Show();
    ASSERT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
    guitest::pump(150);
  }
  void TearDown() override {
    scrolls.reset();
    frame->Destroy();
    guitest::pump(20);
  }

  TdisplData& data() { return view->cache().rData(); }
  int rowHt() { return view->cache().getRowHt(); }

  // What the row cache does after a read: adopt, then topic 4.
  void load(const TtrafficBuilder& traffic) {
    TlinVecPtr rows;
    TrowVecPtr roots;
    traffic.build(rows, roots);
    ASSERT_GT(data().adopt(rows, roots), 0u);
    view->cache().invalidateAll();
    _G.pub(TOPIC_VIS_ROWS, 0);
    paint();
  }
  void paint() {
    view->Refresh(false);
    view->Update();
    guitest::pump(30);
  }
  // The slot at which row is painted, -1 when it is not on screen.
  int slotOf(int row) {
    const std::vector<int>& p = view->getPaintedRows();
    for (size_t k = 0; k < p.size(); ++k)
      if (p[k] == row) return int(k);
    return -1;
  }
  int firstOfKind(int kind) {
    for (int i = 0; i < data().rowCount(); ++i)
      if (data().getDisplRowPtr(i)->kind == kind) return i;
    return -1;
  }
  std::vector<int> paintedKinds() {
    std::vector<int> kinds;
    for (int r : view->getPaintedRows()) kinds.push_back(r < 0 ? -1 : data().getDisplRowPtr(r)->kind);
    return kinds;
  }
  wxPoint slotPoint(int slot) { return view->GetScreenPosition() + wxPoint(60, slot * rowHt() + rowHt() / 2); }
  void realClick(int slot, int button = wxMOUSE_BTN_LEFT) {
    wxUIActionSimulator sim;
    sim.MouseMove(slotPoint(slot));
    guitest::pump(30);
    sim.MouseClick(button);
    guitest::pump(60);
    paint();
  }
  // A mouse event of type at window y, delivered to the row view itself.
  void send(wxEventType type, int y, int rotation = 0, int modifiers = 0,
            wxMouseWheelAxis axis = wxMOUSE_WHEEL_VERTICAL) {
    wxMouseEvent e(type);
    e.SetEventObject(view);
    e.SetId(view->GetId());
    e.m_x = 60, e.m_y = y;
    e.m_wheelRotation = rotation, e.m_wheelDelta = 120, e.m_linesPerAction = 3;
    e.m_wheelAxis = axis;
    e.m_controlDown = (modifiers & wxMOD_CONTROL) != 0;
    e.m_shiftDown = (modifiers & wxMOD_SHIFT) != 0;
    e.m_altDown = (modifiers & wxMOD_ALT) != 0;
    view->GetEventHandler()->ProcessEvent(e);
  }
  // A sample file read through the program's own topic.
  void read(const std::string& path) {
    _G.pub(TOPIC_FILE_READ, reinterpret_cast<long>(path.c_str()));
    paint();
  }
  std::string tempFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (name + std::to_string(::getpid()) + ".vkd")).string();
  }
  // The script's decode calls since the first call of this.
  long decodes() {
    lua_State* L = data().luaState();
    EXPECT_EQ(luaL_dostring(L, R"(if not decodes then decodes = 0
      for _, n in ipairs({"reset", "transaction", "token", "data", "handshake"}) do
        local f = _G[n .. "_decode"]
        _G[n .. "_decode"] = function(t) decodes = decodes + 1 return f(t) end
      end end return decodes)"),
              LUA_OK);
    const long n = long(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return n;
  }
  std::string dump() { return mid->dataPane->textCtrl->GetValue().utf8_string(); }
  size_t decodeItems() { return mid->decodePane->scroller->itemPanel->itemSizer->GetItemCount(); }
  wxColour pixelAt(int slot) {
    const wxImage img = guitest::grab(view);
    const int y = slot * rowHt() + 1;
    return wxColour(img.GetRed(3, y), img.GetGreen(3, y), img.GetBlue(3, y));
  }

  wxFrame* frame = nullptr;
  MidPane* mid = nullptr;
  TreeMidPane* view = nullptr;
  TreeScrollBarPane* bar = nullptr;
  std::vector<int> published;
  TsubToken scrolls;
};

TEST_F(RowView, TogglesChangeTheRowsShown) {
  load(smallTraffic());
  // defaults: no SOFs, no NAK'd transactions, packets shown
  const std::vector<int> kinds = paintedKinds();
  EXPECT_EQ(kinds[0], RK_RESET);
  EXPECT_EQ(kinds[1], RK_TRANSFER);
  EXPECT_EQ(kinds[2], RK_TRANSAX);
  EXPECT_EQ(kinds[3], RK_TOKEN);
  for (int k : kinds) EXPECT_TRUE(k != RK_SOFGROUP && k != RK_SOF) << k;
  int shown = 0;
  for (int r : view->getPaintedRows()) shown += r >= 0;
  int visible = 0;
  for (int i = 0; i < data().rowCount(); ++i) visible += data().isVisible(i);
  EXPECT_EQ(shown, visible);  // everything fits on screen

  _G.showSOFs = true;
  _G.pub(TOPIC_VIS_ROWS, 0);
  paint();
  EXPECT_EQ(paintedKinds()[1], RK_SOFGROUP);
  EXPECT_EQ(paintedKinds()[2], RK_SOF);

  _G.showSOFs = false, _G.showPackets = false;
  _G.pub(TOPIC_VIS_ROWS, 0);
  paint();
  for (int k : paintedKinds()) EXPECT_TRUE(k == RK_RESET || k == RK_TRANSFER || k == RK_TRANSAX || k == -1) << k;
  std::vector<int> now = paintedKinds();
  const int withoutNaks = int(std::count(now.begin(), now.end(), RK_TRANSAX));

  _G.showNAKs = true;
  _G.pub(TOPIC_VIS_ROWS, 0);
  paint();
  // the NAK'd IN of the control read and the NAK'd bulk IN
  now = paintedKinds();
  EXPECT_EQ(int(std::count(now.begin(), now.end(), RK_TRANSAX)), withoutNaks + 2);
  EXPECT_EQ(view->getScrollRange(), 10);  // a short list keeps the least range
}

TEST_F(RowView, LeftClickFillsHexDumpAndDecodeRightClickOnlyMarks) {
  load(smallTraffic());
  const int transfer = firstOfKind(RK_TRANSFER);
  const int slot = slotOf(transfer);
  ASSERT_GE(slot, 0);
  realClick(slot);
  auto t = std::dynamic_pointer_cast<Ttransfer>(data().getDisplRowPtr(transfer));
  ASSERT_EQ(t->findData().size(), 18u);
  EXPECT_EQ(dump(), hexdump::heading(18) + hexdump::columnHeader(18) + hexdump::lines(t->findData()));
  const std::string decode = view->cache().getRowDecode(transfer);
  size_t shownItems = 0;
  for (const std::string& item : decodetext::items(decode)) shownItems += decodetext::kind(item) != decodetext::IK_NONE;
  ASSERT_GT(shownItems, 0u) << decode;
  EXPECT_EQ(decodeItems(), shownItems);
  EXPECT_EQ(view->cache().hiLightIx(transfer), 0);
  EXPECT_EQ(pixelAt(slot), wxColour(255, 192, 203));  // the left-click highlight

  // the bulk OUT's data packet: 9 bytes
  int data9 = -1;
  for (int i = 0; i < data().rowCount() && data9 < 0; ++i)
    if (data().getDisplRowPtr(i)->kind == RK_DATA && data().getData(i)->size() == 9) data9 = i;
  ASSERT_GE(slotOf(data9), 0);
  realClick(slotOf(data9));
  EXPECT_EQ(dump(), hexdump::heading(9) + hexdump::columnHeader(9) + hexdump::lines(*data().getData(data9)));
  EXPECT_EQ(view->cache().hiLightIx(transfer), -1);

  // right click: second highlight, panes untouched
  const std::string before = dump();
  const size_t itemsBefore = decodeItems();
  realClick(slotOf(transfer), wxMOUSE_BTN_RIGHT);
  EXPECT_EQ(view->cache().hiLightIx(transfer), 1);
  EXPECT_EQ(pixelAt(slotOf(transfer)), wxColour(173, 216, 230));
  EXPECT_EQ(dump(), before);
  EXPECT_EQ(decodeItems(), itemsBefore);
  EXPECT_FALSE(view->HasCapture());
}

TEST_F(RowView, ClicksOnBlankSlotsAndBeyondTheLastPaint) {
  load(smallTraffic());
  const int transfer = firstOfKind(RK_TRANSFER);
  realClick(slotOf(transfer));
  realClick(slotOf(transfer), wxMOUSE_BTN_RIGHT);
  const std::string shown = dump();
  const size_t items = decodeItems();
  const std::vector<int>& painted = view->getPaintedRows();
  const int blank = slotOf(-1);  // the first slot below the last row
  ASSERT_GT(blank, slotOf(transfer));

  // a blank slot below the last row drops the click's highlight only
  realClick(blank);
  EXPECT_EQ(view->cache().hiLightIx(transfer), 1);
  EXPECT_EQ(dump(), shown);
  EXPECT_EQ(decodeItems(), items);
  realClick(blank, wxMOUSE_BTN_RIGHT);
  EXPECT_EQ(view->cache().hiLightIx(transfer), -1);
  EXPECT_EQ(pixelAt(slotOf(transfer)), wxColour(232, 232, 232));

  // beyond the slots of the last paint: nothing at all
  realClick(slotOf(transfer));
  const int beyond = int(painted.size()) * rowHt() + 5;
  EXPECT_EQ(view->setClickRow(0, beyond), -1);
  send(wxEVT_LEFT_DOWN, beyond);
  send(wxEVT_LEFT_UP, beyond);
  send(wxEVT_RIGHT_DOWN, beyond);
  send(wxEVT_LEFT_DOWN, -3);  // just above the window
  send(wxEVT_LEFT_UP, -3);
  EXPECT_EQ(view->cache().hiLightIx(transfer), 0);
  EXPECT_EQ(dump(), shown);
}

TEST_F(RowView, RepaintAfterAResizeCoversTheWholeArea) {
  load(smallTraffic());
  const int transfer = firstOfKind(RK_TRANSFER);
  realClick(slotOf(transfer));
  frame->SetSize(frame->GetSize() + wxSize(150, -110));  // the buffer is made anew
  guitest::pump(200);
  paint();
  const wxImage img = guitest::grab(view);
  ASSERT_EQ(img.GetWidth(), view->GetClientSize().GetWidth());
  auto at = [&](int x, int y) { return wxColour(img.GetRed(x, y), img.GetGreen(x, y), img.GetBlue(x, y)); };
  const int right = img.GetWidth() - 2;
  EXPECT_EQ(at(right, slotOf(transfer) * rowHt() + 1), wxColour(255, 192, 203));
  EXPECT_EQ(at(right, slotOf(-1) * rowHt() + 1), wxColour(232, 232, 232));
  EXPECT_EQ(at(right, img.GetHeight() - 1), wxColour(232, 232, 232));  // the partly shown last slot
}

TEST_F(RowView, EmptyDataSetFirstSlotIsRowZero) {
  paint();
  EXPECT_EQ(data().rowCount(), 0);
  EXPECT_EQ(view->getTopRow(), 0);
  EXPECT_EQ(view->getScrollRange(), 10);
  ASSERT_GE(view->getPaintedRows().size(), 2u);
  EXPECT_EQ(view->getPaintedRows()[0], 0);
  EXPECT_EQ(view->getPaintedRows()[1], -1);
  EXPECT_EQ(pixelAt(3), wxColour(232, 232, 232));
  mid->decodePane->render("SHello");
  realClick(1);  // a lower slot: panes as they were
  EXPECT_EQ(decodeItems(), 1u);
  realClick(0);
  EXPECT_EQ(dump(), hexdump::heading(0));
  EXPECT_EQ(decodeItems(), 0u);
}

TEST_F(RowView, DoubleClickFlipsTheLeavesAndRefilters) {
  load(smallTraffic());
  const int transfer = firstOfKind(RK_TRANSFER);
  int leaf = transfer + 1;
  while (data().getDisplRowPtr(leaf)->kind > RK_HANDSHAKE) ++leaf;
  ASSERT_FALSE(data().userFlag(leaf));
  wxUIActionSimulator sim;
  sim.MouseMove(slotPoint(slotOf(transfer)));
  guitest::pump(30);
  sim.MouseDblClick();
  guitest::pump(100);
  EXPECT_TRUE(data().userFlag(leaf));
  EXPECT_FALSE(view->HasCapture());

  // on a blank slot or beyond the last paint: nothing beyond the press
  paint();
  const int blank = int(view->getPaintedRows().size()) - 1;
  send(wxEVT_LEFT_DCLICK, blank * rowHt() + 2);
  send(wxEVT_LEFT_DCLICK, (blank + 3) * rowHt());
  EXPECT_TRUE(data().userFlag(leaf));
  send(wxEVT_LEFT_DCLICK, slotOf(transfer) * rowHt() + 2);  // a second one restores them
  EXPECT_FALSE(data().userFlag(leaf));
}

TEST_F(RowView, WheelStepsByModifiersAndStopsAtTheEnds) {
  load(manyTransactions(500));  // 2000 rows, all visible
  ASSERT_EQ(data().rowCount(), 2000);
  const int y = rowHt() + 3;
  send(wxEVT_MOUSEWHEEL, y, -120);
  EXPECT_EQ(view->getTopRow(), 1);
  send(wxEVT_MOUSEWHEEL, y, -120, wxMOD_CONTROL);
  EXPECT_EQ(view->getTopRow(), 26);
  send(wxEVT_MOUSEWHEEL, y, -120, wxMOD_CONTROL | wxMOD_SHIFT);
  EXPECT_EQ(view->getTopRow(), 151);
  send(wxEVT_MOUSEWHEEL, y, 120, wxMOD_SHIFT);
  send(wxEVT_MOUSEWHEEL, y, 120, wxMOD_ALT);
  send(wxEVT_MOUSEWHEEL, y, 120, wxMOD_CONTROL | wxMOD_ALT);
  EXPECT_EQ(view->getTopRow(), 148);
  send(wxEVT_MOUSEWHEEL, y, -960);  // a big rotation is still one step
  EXPECT_EQ(view->getTopRow(), 149);
  EXPECT_EQ(bar->GetThumbPosition(), 149);
  EXPECT_EQ(published, (std::vector<int>{1, 26, 151, 150, 149, 148, 149}));

  // no vertical rotation: GTK 3's smooth-scroll slivers and horizontal wheels
  published.clear();
  send(wxEVT_MOUSEWHEEL, y, 0);
  send(wxEVT_MOUSEWHEEL, y, -120, 0, wxMOUSE_WHEEL_HORIZONTAL);
  EXPECT_EQ(view->getTopRow(), 149);
  EXPECT_TRUE(published.empty());

  // past either end: the first or last row, still published
  for (int i = 0; i < 20; ++i) send(wxEVT_MOUSEWHEEL, y, -120, wxMOD_CONTROL | wxMOD_SHIFT);
  EXPECT_EQ(view->getTopRow(), 1999);
  published.clear();
  send(wxEVT_MOUSEWHEEL, y, -120);
  EXPECT_EQ(published, std::vector<int>{1999});
  paint();
  EXPECT_EQ(view->getPaintedRows()[0], 1999);
  EXPECT_EQ(view->getPaintedRows()[1], -1);
  send(wxEVT_MOUSEWHEEL, y, 120, wxMOD_CONTROL | wxMOD_SHIFT);
  for (int i = 0; i < 20; ++i) send(wxEVT_MOUSEWHEEL, y, 120, wxMOD_CONTROL | wxMOD_SHIFT);
  EXPECT_EQ(view->getTopRow(), 0);
  EXPECT_EQ(published.back(), 0);
}

TEST_F(RowView, DragMovesWholeRowsWithThePointer) {
  load(manyTransactions(100));
  view->scrollByLines(50);
  paint();
  ASSERT_EQ(view->getTopRow(), 50);
  const int h = rowHt();
  wxUIActionSimulator sim;
  const wxPoint start = slotPoint(2);
  sim.MouseMove(start);
  guitest::pump(30);
  sim.MouseDown();
  guitest::pump(60);
  EXPECT_TRUE(view->HasCapture());
  sim.MouseMove(start + wxPoint(0, h - 2));  // under a row: nothing
  guitest::pump(60);
  EXPECT_EQ(view->getTopRow(), 50);
  sim.MouseMove(start + wxPoint(0, 2 * h + h / 2));  // 2.5 rows down: 2 rows towards the start
  guitest::pump(60);
  EXPECT_EQ(view->getTopRow(), 48);
  sim.MouseMove(start + wxPoint(0, -h));  // 3.5 rows up from the last step
  guitest::pump(60);
  EXPECT_EQ(view->getTopRow(), 51);
  sim.MouseUp();
  guitest::pump(60);
  EXPECT_FALSE(view->HasCapture());
  const int released = view->getTopRow();
  sim.MouseMove(start + wxPoint(0, 4 * h));
  guitest::pump(60);
  EXPECT_EQ(view->getTopRow(), released);  // no drag after the release

  // the same through events, exactly: 2.5 rows down moves 2 rows, the half is dropped
  send(wxEVT_LEFT_DOWN, 10);
  send(wxEVT_LEFT_DOWN, 10);  // a second press while captured: no second capture
  EXPECT_TRUE(view->HasCapture());
  send(wxEVT_MOTION, 10 + 2 * h + h / 2);
  EXPECT_EQ(view->getTopRow(), released - 2);
  send(wxEVT_MOTION, 10 + 3 * h);  // half a row on from the last step
  EXPECT_EQ(view->getTopRow(), released - 2);
  send(wxEVT_LEAVE_WINDOW, 10);
  EXPECT_FALSE(view->HasCapture());
  send(wxEVT_MOTION, 10 + 9 * h);
  EXPECT_EQ(view->getTopRow(), released - 2);
}

TEST_F(RowView, ThumbPublishesChangesAndNeverBlanksTheView) {
  load(manyTransactions(500));
  _G.showPackets = false;  // only the transactions: every fourth row
  _G.pub(TOPIC_VIS_ROWS, 0);
  paint();
  EXPECT_EQ(view->getScrollRange(), 1976);  // six visible rows back from the last
  EXPECT_EQ(bar->GetRange(), bar->GetThumbSize() + view->getScrollRange());
  auto thumb = [&](int pos) {
    bar->wxScrollBar::SetThumbPosition(pos);  // as the user's drag leaves it
    wxScrollEvent e(wxEVT_SCROLL_THUMBTRACK, bar->GetId(), pos, wxVERTICAL);
    e.SetEventObject(bar);
    bar->GetEventHandler()->ProcessEvent(e);
  };
  published.clear();
  thumb(401);
  thumb(401);  // repeated events at one position publish once
  EXPECT_EQ(published, std::vector<int>{401});
  EXPECT_EQ(view->getTopRow(), 400);  // the nearest visible row
  wxScrollEvent changed(wxEVT_SCROLL_CHANGED, bar->GetId(), 403, wxVERTICAL);
  bar->wxScrollBar::SetThumbPosition(403);
  bar->GetEventHandler()->ProcessEvent(changed);
  EXPECT_EQ(view->getTopRow(), 404);
  EXPECT_EQ(published.size(), 2u);

  // a short list: the range stays 10, the thumb can lie past the last row
  _G.showPackets = true;
  TtrafficBuilder few;
  few.bulkOut(1);
  load(few);
  EXPECT_EQ(view->getScrollRange(), 10);
  thumb(9);
  paint();
  EXPECT_EQ(view->getTopRow(), 3);
  EXPECT_EQ(view->getPaintedRows()[0], 3);  // the last row, not a blank view
  _G.pub(TOPIC_SCROLL, 1L << 40);           // nor from a position beyond int
  EXPECT_EQ(view->getTopRow(), 3);
  _G.pub(TOPIC_SCROLL, -7);
  EXPECT_EQ(view->getTopRow(), 0);
}

TEST_F(RowView, FilterKeepsTheTopRowOrItsNearestVisibleRow) {
  load(manyTransactions(100));
  view->scrollByLines(42);  // a data packet
  ASSERT_EQ(data().getDisplRowPtr(42)->kind, RK_DATA);
  _G.showPackets = false;
  _G.pub(TOPIC_VIS_ROWS, 0);
  EXPECT_EQ(view->getTopRow(), 40);  // a tie between rows 40 and 44 goes to the earlier
  _G.showPackets = true;
  _G.pub(TOPIC_VIS_ROWS, 0);
  EXPECT_EQ(view->getTopRow(), 40);
  view->scrollByLines(300);
  ASSERT_EQ(view->getTopRow(), 340);
  load(manyTransactions(50));  // shorter than the old top row: back to the start
  EXPECT_EQ(view->getTopRow(), 0);
}

// Show row 1500 of 2000, mark two rows, read 300 rows: no old marks on the
// new rows, and the thumb where the view is; the panes keep their texts.
TEST_F(RowView, ReadDataDropsTheMarksAndPutsTheThumbAtTheTopRow) {
  const std::string path = tempFile("qx_rows300_");
  TlinVecPtr rows;
  TrowVecPtr roots;
  manyTransactions(75).build(rows, roots);
  ASSERT_EQ(TdataIO().saveLinearToFile(rows, path), 300);
  load(manyTransactions(500));
  realClick(2);
  realClick(3, wxMOUSE_BTN_RIGHT);
  const std::string shown = dump();
  view->scrollByLines(1500);
  read(path);
  std::remove(path.c_str());
  ASSERT_EQ(data().rowCount(), 300);
  EXPECT_EQ(view->getTopRow(), 0);
  EXPECT_EQ(bar->GetThumbPosition(), 0);
  EXPECT_EQ(view->cache().hiLightIx(2) + view->cache().hiLightIx(3), -2);
  EXPECT_EQ(pixelAt(2), wxColour(232, 232, 232));
  EXPECT_EQ(pixelAt(3), wxColour(232, 232, 232));
  EXPECT_EQ(dump(), shown);
}

// More rows on screen than the least cache size: a wheel step draws only
// the row that came into view, and clicks after the zoom hit the row under
// the pointer.
TEST_F(RowView, SmallRowsScrollWithoutRedrawingAndClickTrue) {
  load(manyTransactions(100));
  mid->zoom(4);
  paint();
  const int slots = int(view->getPaintedRows().size());
  ASSERT_GT(slots, 36);
  const long before = decodes();
  send(wxEVT_MOUSEWHEEL, 10, -120);
  paint();
  send(wxEVT_MOUSEWHEEL, 10, 120);  // back: the row that left is still held
  paint();
  EXPECT_EQ(decodes(), before + 1);
  const int row = view->getPaintedRows()[slots - 3];
  realClick(slots - 3);
  EXPECT_EQ(view->cache().hiLightIx(row), 0);
}

// A transaction of a million ACKs in an 11.7 KB file: read and drawn at the
// cost of one screen; its boxes end at the bitmap's edge instead of wrapping
// round over its "Transaction" box.
TEST_F(RowView, MillionChildTransactionIsDrawnToTheRightEdgeOnly) {
  const std::string path = tempFile("qx_wide_");
  ASSERT_TRUE(qxhostile::writeWideTransaction(path, 1000000));
  read(path);
  std::remove(path.c_str());
  ASSERT_EQ(view->getPaintedRows()[0], 0);
  int drawn = 0, h = 0;
  EXPECT_LE(drawn, view->cache().getRowBitmap(0, view->GetClientSize().x, drawn, h).GetWidth());
  const wxImage img = guitest::grab(view);
  const TrowGeometry g = TrowCache::geometry();
  auto at = [&](int x, int y) { return wxColour(img.GetRed(x, y), img.GetGreen(x, y), img.GetBlue(x, y)); };
  // The box's left part, inside its border and clear of its centred texts.
  for (int x = 10; x < 8 + g.fontWid; ++x)
    for (int y = g.yBoxTop + 1; y < g.yBoxBot; ++y)
      if (y != g.yBoxMid) {
        ASSERT_EQ(at(x, y), wxColour(0x90, 0xee, 0x90)) << x << "," << y << ": " << at(x, y).GetAsString();
      }
  realClick(0);
  EXPECT_GT(decodeItems(), 0u);
}

// At the largest zoom steps the reset box (28 characters) is wider than the
// row's bitmap: its text is cut at the box's edges, never drawn over the
// left margin, and still shows inside the box.
TEST_F(RowView, BoxTextStaysInsideItsBoxAtLargeZooms) {
  load(smallTraffic());
  for (int points : {62, 72}) {
    mid->zoom(points);
    paint();
    const TrowGeometry g = TrowCache::geometry();
    ASSERT_EQ(slotOf(firstOfKind(RK_RESET)), 0);
    ASSERT_GT(28 * g.fontWid, view->GetClientSize().x + 100) << points;
    const wxImage img = guitest::grab(view);
    auto at = [&](int x, int y) { return wxColour(img.GetRed(x, y), img.GetGreen(x, y), img.GetBlue(x, y)); };
    for (int y = 0; y < img.GetHeight(); ++y)
      for (int x = 0; x < 8; ++x)
        ASSERT_EQ(at(x, y), wxColour(232, 232, 232))
            << points << " pt: " << x << "," << y << " " << at(x, y).GetAsString();
    int white = 0;
    for (int y = g.yTopTxt; y < g.yBoxMid; ++y)
      for (int x = 9; x < img.GetWidth(); ++x) white += at(x, y) == wxColour(255, 255, 255);
    EXPECT_GT(white, 20 * g.fontHt) << points;  // its text, not the box's plain fill
  }
}

// Figures for the closing note; not a timed pass/fail.
TEST_F(RowView, MillionRowsBenchmark) {
  if (std::getenv("QX_BENCH") == nullptr) GTEST_SKIP() << "set QX_BENCH=1 to run";
  using clock = std::chrono::steady_clock;
  auto ms = [](clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  TtrafficBuilder big = manyTransactions(249980);
  big.controlRead(4096, false);  // 3 + 64 + 1 transactions, 4 rows each, and the transfer
  auto t0 = clock::now();
  load(big);
  std::printf("rows %d, grouped, flattened and adopted in %.0f ms\n", data().rowCount(), ms(clock::now() - t0));
  ASSERT_GE(data().rowCount(), 1000000);

  auto repaint = [&](const std::function<void()>& act) {
    const auto a = clock::now();
    act();
    view->Update();
    return ms(clock::now() - a);
  };
  double worst = 0, sum = 0;
  for (int i = 0; i < 20; ++i) {
    const double t = repaint([&] { send(wxEVT_MOUSEWHEEL, 10, -120); });
    worst = std::max(worst, t), sum += t;
  }
  std::printf("wheel step + repaint: mean %.2f ms, worst %.2f ms (%zu slots)\n", sum / 20, worst,
              view->getPaintedRows().size());
  worst = 0, sum = 0;
  for (int i = 0; i < 5; ++i) {
    const int pos = data().rowCount() / 2 + i * 1000;
    const double t = repaint([&] {
      bar->wxScrollBar::SetThumbPosition(pos);
      wxScrollEvent e(wxEVT_SCROLL_THUMBTRACK, bar->GetId(), pos, wxVERTICAL);
      bar->GetEventHandler()->ProcessEvent(e);
    });
    worst = std::max(worst, t), sum += t;
  }
  std::printf("thumb jump to the middle + repaint: mean %.2f ms, worst %.2f ms\n", sum / 5, worst);
  const double cachedPaint = repaint([&] { view->Refresh(false); });
  const int fresh = view->getTopRow() + 200;
  const auto drawStart = clock::now();
  for (int r = fresh, n = 0; n < int(view->getPaintedRows().size()); r = data().nextVisibleRow(r), ++n) {
    int w = 0, h = 0;
    view->cache().getRowBitmap(r, 1000, w, h);
  }
  std::printf("repaint of cached rows only: %.2f ms; drawing as many uncached rows: %.2f ms\n", cachedPaint,
              ms(clock::now() - drawStart));

  int transfer = data().rowCount() - 1;
  while (data().getDisplRowPtr(transfer)->kind != RK_TRANSFER) --transfer;
  ASSERT_EQ(data().getDisplRowPtr(transfer)->kind, RK_TRANSFER);
  ASSERT_EQ(data().getData(transfer)->size(), 4096u);
  _G.pub(TOPIC_SCROLL, transfer);
  paint();
  // A click's handler, the panes' first paint and the row view's repaint.
  struct Tclick {
    double handler, panes, total;
  };
  auto clickTransfer = [&] {
    Tclick c{};
    c.total = repaint([&] {
      const auto a = clock::now();
      send(wxEVT_LEFT_DOWN, 5);
      send(wxEVT_LEFT_UP, 5);
      c.handler = ms(clock::now() - a);
      mid->dataPane->Update();
      mid->decodePane->Update();
      c.panes = ms(clock::now() - a) - c.handler;
    });
    return c;
  };
  ASSERT_EQ(decodeItems(), 0u);
  const Tclick first = clickTransfer();
  std::printf("first click, into empty panes: %.2f ms (handler %.2f ms, panes' paint %.2f ms, row view %.2f ms)\n",
              first.total, first.handler, first.panes, first.total - first.handler - first.panes);
  guitest::pump(30);
  Tclick warm{}, warmWorst{};
  for (int i = 0; i < 5; ++i) {
    const Tclick c = clickTransfer();
    warm.total += c.total / 5, warm.handler += c.handler / 5, warm.panes += c.panes / 5;
    if (c.total > warmWorst.total) warmWorst = c;
    guitest::pump(30);
  }
  std::printf("warm click, mean of 5: %.2f ms (handler %.2f ms, panes' paint %.2f ms), worst %.2f ms\n", warm.total,
              warm.handler, warm.panes, warmWorst.total);
  EXPECT_EQ(dump().substr(0, hexdump::heading(4096).size()), hexdump::heading(4096));
  const double dumpOnly = repaint([&] {
    mid->dataPane->renderPacket(*data().getData(transfer));
    mid->dataPane->Update();
  });
  const std::string decodeText = view->cache().getRowDecode(transfer);
  const double decodeOnly = repaint([&] {
    mid->decodePane->render(decodeText);
    mid->decodePane->Update();
  });
  std::printf("of which the hex dump alone %.2f ms, the decode pane alone %.2f ms\n", dumpOnly, decodeOnly);
  std::printf("left click on a 4 KB control transfer: %.2f ms (dump %zu chars, %zu decode items)\n", first.total,
              dump().size(), decodeItems());
}

}  // namespace
