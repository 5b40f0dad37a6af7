// Row cache with real fonts and bitmaps: eviction, the width rule, click
// slots, zoom, plain rows, the pixels of a drawn row, the read topic, and the
// message box of a failed save.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/dcmemory.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/testing.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "displtest.h"
#include "guitest.h"
#include "vkcolors.h"
#include "vkrcache.h"

namespace {

namespace fs = std::filesystem;

// Counts the decode calls, so a test sees when a row is drawn.
const char* const COUNTING_SCRIPT = R"(
  draws = 0
  function reset_decode(t) draws = draws + 1 return "Sreset " .. t.handle end
  function token_decode(t) draws = draws + 1 return "Stoken " .. t.handle end
)";

wxColour rgb(uint64_t bgr) { return wxColour(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff); }

wxColour pixel(const wxImage& im, int x, int y) {
  return wxColour(im.GetRed(x, y), im.GetGreen(x, y), im.GetBlue(x, y));
}

class RowCache : public ::testing::Test {
 protected:
  void SetUp() override {
    old = fs::current_path();
    dir = fs::temp_directory_path() / ("qx_rcache_" + std::to_string(getpid()));
    fs::create_directories(dir / "scripts");
    std::ofstream(dir / "scripts" / "init.lua") << COUNTING_SCRIPT;
    // 40 resets, a hidden SOF at 40, a token at 41
    for (int i = 0; i < 40; ++i) roots->push_back(std::make_shared<Treset>());
    roots->push_back(std::make_shared<Tsof>());
    auto token = std::make_shared<Ttoken>();
    token->pid = PID_IN;
    roots->push_back(token);
    TdataIO().treeRootVecToLinVec(roots, rows);
    cache = makeCache();
    ASSERT_EQ(cache->rData().scriptError(), "");
  }
  std::unique_ptr<TrowCache> makeCache() {
    fs::current_path(dir);  // the cache's display data runs ./scripts/init.lua
    auto made = std::make_unique<TrowCache>();
    fs::current_path(old);
    EXPECT_EQ(made->rData().adopt(rows, roots), 42u);
    return made;
  }
  void TearDown() override {
    cache.reset();
    fs::remove_all(dir);
  }

  long draws() {
    lua_State* L = cache->rData().luaState();
    lua_getglobal(L, "draws");
    const long n = static_cast<long>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return n;
  }
  wxImage image(int ix, int width, int& drawn) {
    int height = 0;
    wxBitmap& bm = cache->getRowBitmap(ix, width, drawn, height);
    EXPECT_TRUE(bm.IsOk());
    EXPECT_EQ(height, cache->getRowHt());
    return bm.ConvertToImage();
  }

  fs::path old, dir;
  TrowVecPtr roots = std::make_shared<TrowVec>();
  TlinVecPtr rows = std::make_shared<TlinVec>();
  std::unique_ptr<TrowCache> cache;
};

TEST_F(RowCache, ThirtyThirdRowEvictsTheLeastRecentlyUsed) {
  int w = 0, h = 0;
  for (int ix = 0; ix < 32; ++ix) cache->getRowBitmap(ix, 800, w, h);
  EXPECT_EQ(cache->cachedRows(), 32u);
  EXPECT_EQ(draws(), 32);
  cache->getRowBitmap(0, 800, w, h);  // to the front, not drawn
  EXPECT_EQ(draws(), 32);
  EXPECT_EQ(cache->getRowDecode(0), "Sreset 0");
  cache->getRowBitmap(32, 800, w, h);
  EXPECT_EQ(cache->cachedRows(), 32u);
  EXPECT_TRUE(cache->isCached(0));
  EXPECT_FALSE(cache->isCached(1));
  EXPECT_TRUE(cache->isCached(32));
  cache->invalidateRow(5);
  cache->invalidateRow(-1);
  EXPECT_EQ(cache->cachedRows(), 31u);
  cache->invalidateAll();
  EXPECT_EQ(cache->cachedRows(), 0u);
}

TEST_F(RowCache, WidthRule) {
  int drawn = 0, h = 0;
  EXPECT_EQ(cache->getRowBitmap(7, 500, drawn, h).GetWidth(), 600);
  EXPECT_EQ(cache->getRowBitmap(7, 550, drawn, h).GetWidth(), 600);
  EXPECT_EQ(draws(), 1);
  EXPECT_EQ(cache->getRowBitmap(7, 700, drawn, h).GetWidth(), 800);
  EXPECT_EQ(draws(), 2);
  EXPECT_EQ(cache->getRowBitmap(7, 300, drawn, h).GetWidth(), 800);  // a wider bitmap serves
  // A decode of an uncached row draws it at 100 pixels; the view's width draws it again.
  EXPECT_EQ(cache->getRowDecode(9), "Sreset 9");
  EXPECT_EQ(draws(), 3);
  EXPECT_EQ(cache->getRowBitmap(9, 100, drawn, h).GetWidth(), 100);
  EXPECT_EQ(draws(), 3);
  EXPECT_EQ(cache->getRowBitmap(9, 1400, drawn, h).GetWidth(), 1500);
  EXPECT_EQ(draws(), 4);
}

TEST_F(RowCache, ClickSlotsDropTheirRowsAndColourThem) {
  int drawn = 0, h = 0;
  for (int ix : {5, 12, 13}) cache->getRowBitmap(ix, 400, drawn, h);
  EXPECT_EQ(cache->setClickRow(0, 5), -1);
  EXPECT_FALSE(cache->isCached(5));
  cache->getRowBitmap(5, 400, drawn, h);
  EXPECT_EQ(cache->setClickRow(0, 12), 5);
  EXPECT_FALSE(cache->isCached(5) || cache->isCached(12));
  EXPECT_TRUE(cache->isCached(13));
  EXPECT_EQ(cache->setClickRow(2, 13), -1);
  EXPECT_TRUE(cache->isCached(13));
  EXPECT_EQ(cache->setClickRow(1, 13), -1);
  EXPECT_EQ(cache->hiLightIx(12), 0);
  EXPECT_EQ(cache->hiLightIx(13), 1);
  EXPECT_EQ(cache->hiLightIx(5), -1);
  EXPECT_EQ(cache->hiLightIx(-1), -1);

  // Background at the right end, beyond the boxes.
  EXPECT_EQ(pixel(image(12, 1300, drawn), 1350, 1), rgb(PINK));
  EXPECT_EQ(pixel(image(13, 1300, drawn), 1350, 1), rgb(LIGHTBLUE));
  EXPECT_EQ(pixel(image(14, 1300, drawn), 1350, 1), rgb(ROWS_BG));
  cache->setClickRow(1, 12);  // in both slots: slot 0's colour
  EXPECT_EQ(pixel(image(12, 1300, drawn), 1350, 1), rgb(PINK));
  EXPECT_EQ(cache->setClickRow(0, -1), 12);  // a blank slot clears the mark
  EXPECT_EQ(cache->hiLightIx(12), 1);
}

// The decode text does not depend on the mark: a row dropped for a new mark
// is drawn again in its colour without a Lua call, until the data changes.
TEST_F(RowCache, MarkedRowsKeepTheirDecodeTexts) {
  int drawn = 0, h = 0;
  cache->getRowBitmap(5, 1300, drawn, h);
  const std::string text = cache->getRowDecode(5);
  const long before = draws();
  cache->setClickRow(0, 5);
  EXPECT_FALSE(cache->isCached(5));
  EXPECT_EQ(pixel(image(5, 1300, drawn), 1350, 1), rgb(PINK));
  EXPECT_GT(drawn, 0);
  EXPECT_EQ(cache->getRowDecode(5), text);
  EXPECT_EQ(draws(), before);
  cache->setClickRow(0, 7);  // 7 was not cached: its text is made when it is drawn
  EXPECT_EQ(pixel(image(5, 1300, drawn), 1350, 1), rgb(ROWS_BG));
  EXPECT_EQ(draws(), before);
  EXPECT_EQ(cache->getRowDecode(7), "Sreset 7");
  EXPECT_EQ(draws(), before + 1);
  cache->setClickRow(0, 5);
  cache->invalidateAll();
  EXPECT_EQ(cache->getRowDecode(5), text);
  EXPECT_EQ(draws(), before + 2);
}

TEST_F(RowCache, ZoomSetsTheRowHeightFromTheFontAndHasACeiling) {
  int drawn = 0, h = 0;
  cache->getRowBitmap(0, 400, drawn, h);
  for (int points : {9, 20, 72}) {
    cache->zoom(points);
    EXPECT_EQ(cache->cachedRows(), 0u);
    wxBitmap scratch(1, 1);
    wxMemoryDC dc(scratch);
    wxFont probe = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    probe.SetPointSize(points);
    dc.SetFont(probe);
    const int x = dc.GetTextExtent("X").GetHeight();
    EXPECT_EQ(cache->getRowHt(), 2 * x + 9) << points;
    EXPECT_EQ(TrowCache::geometry().yBoxBot, 2 * x + 6);
  }
  const int at72 = cache->getRowHt();
  cache->zoom(5000);
  EXPECT_EQ(cache->rowPointSize(), 72);
  EXPECT_EQ(cache->getRowHt(), at72);
  EXPECT_TRUE(cache->getRowBitmap(0, 1400, drawn, h).IsOk());
  EXPECT_GT(drawn, 0);
  cache->zoom(-3);
  EXPECT_GE(cache->rowPointSize(), 1);
  EXPECT_TRUE(cache->getRowBitmap(0, 1400, drawn, h).IsOk());
}

TEST_F(RowCache, ZoomForgetsTheTextSizes) {
  int drawn = 0, h = 0;
  cache->zoom(9);
  image(3, 800, drawn);  // the texts measured at 9 points
  cache->zoom(20);
  const wxImage zoomed = image(3, 800, drawn);
  auto fresh = makeCache();
  fresh->zoom(20);
  const wxImage expected = fresh->getRowBitmap(3, 800, drawn, h).ConvertToImage();
  ASSERT_EQ(zoomed.GetSize(), expected.GetSize());
  EXPECT_EQ(std::memcmp(zoomed.GetData(), expected.GetData(), 3 * zoomed.GetWidth() * zoomed.GetHeight()), 0);
}

// Dropped rows lend their bitmaps to the rows drawn next; a lent bitmap is
// painted afresh, and one the caller still holds is never drawn over.
TEST_F(RowCache, DroppedRowsLendTheirBitmaps) {
  int drawn = 0, h = 0;
  cache->setClickRow(0, 12);
  cache->setClickRow(1, 13);
  const wxObjectRefData* lent = cache->getRowBitmap(12, 1300, drawn, h).GetRefData();
  const wxBitmap held = cache->getRowBitmap(13, 1300, drawn, h);
  cache->invalidateAll();
  const wxBitmap& reused = cache->getRowBitmap(14, 1300, drawn, h);
  EXPECT_EQ(reused.GetRefData(), lent);
  const wxImage im = reused.ConvertToImage();
  EXPECT_EQ(pixel(im, 1350, 1), rgb(ROWS_BG));
  EXPECT_EQ(pixel(im, 3, (TrowCache::geometry().yBoxTop + TrowCache::geometry().yBoxBot) / 2), rgb(ROWS_BG));
  EXPECT_NE(cache->getRowBitmap(15, 1300, drawn, h).GetRefData(), held.GetRefData());
  EXPECT_EQ(pixel(held.ConvertToImage(), 1350, 1), rgb(LIGHTBLUE));
  // A new width draws on new bitmaps of that width.
  cache->invalidateAll();
  EXPECT_EQ(cache->getRowBitmap(16, 700, drawn, h).GetWidth(), 800);
}

TEST_F(RowCache, InvisibleOrBadRowsArePlain) {
  for (int ix : {-1, 40, 42, 1000}) {
    int drawn = 7;
    const wxImage im = image(ix, 300, drawn);
    EXPECT_EQ(drawn, 0) << ix;
    EXPECT_EQ(cache->getRowDecode(ix), "") << ix;
    for (int x = 0; x < im.GetWidth(); x += 13)
      for (int y = 0; y < im.GetHeight(); y += 3) ASSERT_EQ(pixel(im, x, y), rgb(ROWS_BG)) << ix;
  }
  EXPECT_EQ(draws(), 0);
}

TEST_F(RowCache, PixelsOfADrawnResetRow) {
  const TrowGeometry g = TrowCache::geometry();
  const int W = g.fontWid;
  int drawn = 0;
  const wxImage im = image(3, 1400, drawn);
  // Reset box: gap 0, 28 characters; idle box: gap 10, 8 characters.
  EXPECT_EQ(drawn, 8 + 28 * W + 10 + 8 * W + 125);
  const int x0 = 8, x1 = 8 + 28 * W, x2 = x1 + 10, x3 = x2 + 8 * W;
  const wxColour black(0, 0, 0);
  const int top = g.yBoxTop, mid = g.yBoxMid, bot = g.yBoxBot;
  EXPECT_EQ(pixel(im, x0, (top + bot) / 2), black);  // left edge
  EXPECT_EQ(pixel(im, x1, (top + bot) / 2), black);  // right edge
  EXPECT_EQ(pixel(im, x0 + 3, top), black);          // top edge
  EXPECT_EQ(pixel(im, x0 + 3, bot), black);          // bottom edge
  EXPECT_EQ(pixel(im, x0 + 3, mid), black);          // the bar between the lines
  EXPECT_EQ(pixel(im, x0 + 2, top + 2), rgb(BG_RESET));
  EXPECT_EQ(pixel(im, x0 + 2, bot - 2), rgb(BG_RESET));
  EXPECT_EQ(pixel(im, x2 + 2, top + 2), rgb(BG_IDLE));                 // idle label
  EXPECT_EQ(pixel(im, x2 + 2, bot - 2), rgb(BG_BOT));                  // idle value
  EXPECT_EQ(pixel(im, (x1 + x2) / 2, (top + bot) / 2), rgb(ROWS_BG));  // the gap
  EXPECT_EQ(pixel(im, x3 + 5, (top + bot) / 2), rgb(ROWS_BG));
  EXPECT_EQ(pixel(im, 3, (top + bot) / 2), rgb(ROWS_BG));  // no user mark
  EXPECT_EQ(cache->getRowDecode(3), "Sreset 3");
}

TEST_F(RowCache, UserFlagShowsAsAMark) {
  TdisplData& d = cache->rData();
  auto trx = std::make_shared<Ttransax>(TRX_IN);
  for (int i = 0; i < 2; ++i) trx->children.push_back(std::make_shared<Ttoken>());
  auto roots = std::make_shared<TrowVec>(TrowVec{trx});
  auto rows = std::make_shared<TlinVec>();
  TdataIO().treeRootVecToLinVec(roots, rows);
  d.adopt(rows, roots);
  ASSERT_EQ(d.doubleClick(0), 1);
  cache->invalidateAll();
  const int mid = (TrowCache::geometry().yBoxTop + TrowCache::geometry().yBoxBot) / 2;
  int drawn = 0;
  EXPECT_EQ(pixel(image(1, 400, drawn), 3, mid), rgb(ORANGERED));
  EXPECT_EQ(pixel(image(2, 400, drawn), 3, mid), rgb(ORANGERED));
  EXPECT_EQ(pixel(image(0, 400, drawn), 3, mid), rgb(ROWS_BG));  // the group keeps no mark
}

TEST_F(RowCache, ReadTopicPublishesOnceOnlyForRows) {
  int visRows = 0;
  TsubToken counter(TOPIC_VIS_ROWS, [&](long) { ++visRows; });
  const std::string saved = (dir / "rows.vkd").string();
  std::string reason;
  ASSERT_GT(cache->rData().sampleFileSave(saved, reason), 0u);
  int drawn = 0, h = 0;
  cache->getRowBitmap(0, 400, drawn, h);

  const std::string missing = (dir / "missing.vkd").string();
  _G.pub(TOPIC_FILE_READ, reinterpret_cast<long>(missing.c_str()));
  EXPECT_EQ(visRows, 0);
  EXPECT_EQ(cache->cachedRows(), 1u);
  EXPECT_EQ(cache->rData().rowCount(), 42);

  const TlinVecPtr before = cache->rData().linRows();
  _G.pub(TOPIC_FILE_READ, reinterpret_cast<long>(saved.c_str()));
  EXPECT_EQ(visRows, 1);
  EXPECT_EQ(cache->cachedRows(), 0u);
  EXPECT_NE(cache->rData().linRows(), before);
  EXPECT_EQ(cache->rData().rowCount(), 42);
}

TEST_F(RowCache, FailedSaveShowsAMessageBox) {
  wxString seen;
  const std::string bad = (dir / "no" / "such.vkd").string();
  wxTEST_DIALOG(_G.pub(TOPIC_FILE_SAVE, reinterpret_cast<long>(bad.c_str())), guitest::TmessageBox(&seen));
  EXPECT_NE(seen.utf8_string().find(bad + ": No such file or directory"), std::string::npos) << seen;
}

}  // namespace
