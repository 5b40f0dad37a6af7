// The main window as a new user first sees it, on the default capture with a
// control transfer clicked: the screen must show painted rows, not an empty,
// black or one-colour row view. With QX_SCREENSHOT=<file.png> the picture is
// also written there (tools/screenshot.sh makes docs/quellix.png this way).
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <map>

#include "startdir.h"
#include "vkapp.h"
#include "vkdpane.h"
#include "vkmainframe.h"
#include "vkrcache.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

// What the screen shows inside rect (screen coordinates).
wxImage screenImage(const wxRect& rect) {
  wxBitmap bmp(rect.width, rect.height);
  wxMemoryDC mem(bmp);
  wxScreenDC screen;
  mem.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
  mem.SelectObject(wxNullBitmap);
  return bmp.ConvertToImage();
}

struct TcolourStats {
  size_t pixels = 0;
  size_t distinct = 0;
  double commonest = 0;  // share of the commonest colour
  double black = 0;      // share of pure black
};

TcolourStats stats(const wxImage& img) {
  std::map<unsigned, size_t> count;
  const unsigned char* p = img.GetData();
  const size_t n = static_cast<size_t>(img.GetWidth()) * img.GetHeight();
  for (size_t i = 0; i < n; ++i, p += 3) ++count[p[0] << 16 | p[1] << 8 | p[2]];
  TcolourStats s;
  s.pixels = n;
  s.distinct = count.size();
  size_t most = 0;
  for (auto [c, k] : count) most = std::max(most, k);
  s.commonest = n ? double(most) / n : 1;
  s.black = n ? double(count[0]) / n : 0;
  return s;
}

TEST(Screenshot, MainWindowOnTheDefaultCapture) {
  startdir::TstartDir dir(true, true, "qx-shot");
  startdir::freshSettings();
  TmainFrame* frame = startQuellix();
  ASSERT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  TdisplData& data = view->cache().rData();
  ASSERT_TRUE(guitest::pumpUntil([&] { return view->getPaintedRows().size() > 5; }));
  guitest::pump(300);

  // Click the first control transfer on screen that has a data stage.
  const std::vector<int> painted = view->getPaintedRows();
  int slot = -1;
  for (size_t k = 0; k < painted.size() && slot < 0; ++k) {
    const int r = painted[k];
    if (r >= 0 && data.getDisplRowPtr(r)->kind == RK_TRANSFER && !data.getData(r)->empty()) slot = static_cast<int>(k);
  }
  ASSERT_GE(slot, 0) << "no control transfer with data on the first screen";
  const int rowHt = view->cache().getRowHt();
  wxUIActionSimulator sim;
  sim.MouseMove(view->GetScreenPosition() + wxPoint(40, slot * rowHt + rowHt / 2));
  guitest::pump(50);
  sim.MouseClick();
  TdataPane* dump = frame->midPanePtr->dataPane;
  ASSERT_TRUE(guitest::pumpUntil([&] { return dump->textCtrl->GetValue().Contains("08"); }, 3000));
  guitest::pump(300);

  const wxImage rows = screenImage(view->GetScreenRect());
  const TcolourStats s = stats(rows);
  EXPECT_GT(s.distinct, 8u) << "the row view is painted in too few colours";
  EXPECT_LT(s.commonest, 0.9) << "the row view is mostly one colour";
  EXPECT_LT(s.black, 0.3) << "the row view is mostly black";

  // The whole window, menu bar included (no window manager under Xvfb).
  const wxImage shot = screenImage(frame->GetScreenRect());
  EXPECT_GT(stats(shot).distinct, 16u);
  if (const char* out = std::getenv("QX_SCREENSHOT")) {
    wxImage::AddHandler(new wxPNGHandler);
    EXPECT_TRUE(shot.SaveFile(wxString::FromUTF8(out), wxBITMAP_TYPE_PNG)) << out;
  }
  startdir::closeAll();
}

}  // namespace
