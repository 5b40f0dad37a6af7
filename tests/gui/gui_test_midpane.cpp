// The pane layout under a real frame: initial sashes, the gravity split of a
// resize, minimum pane sizes, sash moves (dragged with the real mouse)
// announced on TOPIC_SPLITTER, and zoom reaching the row view only.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/splitter.h>
#include <wx/uiaction.h>

#include "guitest.h"
#include "vkdecode.h"
#include "vkdpane.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

class PaneLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wxSetWorkingDirectory(QX_SOURCE_DIR));
    frame = new wxFrame(nullptr, wxID_ANY, "layout", wxPoint(30, 30), wxSize(1200, 800));
    mid = new MidPane(frame, wxID_ANY);
    frame->Show();
    ASSERT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
    guitest::pump(200);
    outer = dynamic_cast<wxSplitterWindow*>(mid->treePane->GetParent());
    ASSERT_NE(outer, nullptr);
    inner = dynamic_cast<wxSplitterWindow*>(mid->decodePane->GetParent());
    ASSERT_NE(inner, nullptr);
    splits = TsubToken(TOPIC_SPLITTER, [this](long arg) { splitterPubs.push_back(arg); });
  }
  void TearDown() override {
    splits.reset();
    frame->Destroy();
    guitest::pump(20);
  }
  int rightWidth() { return inner->GetSize().GetWidth(); }
  void resize(wxSize by) {
    frame->SetSize(frame->GetSize() + by);
    guitest::pumpUntil([&] { return false; }, 300);
  }

  wxFrame* frame = nullptr;
  MidPane* mid = nullptr;
  wxSplitterWindow* outer = nullptr;
  wxSplitterWindow* inner = nullptr;
  std::vector<long> splitterPubs;
  TsubToken splits;
};

TEST_F(PaneLayout, InitialSashesAndGravity) {
  EXPECT_EQ(outer->GetName(), "splitter");
  EXPECT_EQ(outer->GetSplitMode(), wxSPLIT_VERTICAL);
  EXPECT_EQ(inner->GetSplitMode(), wxSPLIT_HORIZONTAL);
  EXPECT_EQ(outer->GetWindow1(), mid->treePane);
  EXPECT_EQ(inner->GetWindow1(), mid->decodePane);
  EXPECT_EQ(inner->GetWindow2(), mid->dataPane);
  EXPECT_EQ(rightWidth(), 420);
  EXPECT_EQ(mid->dataPane->GetSize().GetHeight(), 220);

  const int left = mid->treePane->GetSize().GetWidth();
  const int decodeHt = mid->decodePane->GetSize().GetHeight();
  resize(wxSize(100, 100));
  EXPECT_NEAR(mid->treePane->GetSize().GetWidth() - left, 80, 1);
  EXPECT_NEAR(rightWidth() - 420, 20, 1);
  EXPECT_NEAR(mid->decodePane->GetSize().GetHeight() - decodeHt, 60, 1);
  EXPECT_NEAR(mid->dataPane->GetSize().GetHeight() - 220, 40, 1);
}

TEST_F(PaneLayout, MinimumPaneSizes) {
  outer->SetSashPosition(outer->GetSize().GetWidth() - 50);
  EXPECT_GE(rightWidth(), 300);
  outer->SetSashPosition(40);
  EXPECT_GE(mid->treePane->GetSize().GetWidth(), 300);
  inner->SetSashPosition(inner->GetSize().GetHeight() - 30);
  guitest::pump(50);
  EXPECT_GE(mid->dataPane->GetSize().GetHeight(), 200);
  inner->SetSashPosition(10);
  guitest::pump(50);
  EXPECT_GE(mid->decodePane->GetSize().GetHeight(), 200);
}

TEST_F(PaneLayout, EverySashMovePublishesOnceAndRewrapsParagraphs) {
  mid->decodePane->render(
      "SA paragraph long enough to wrap into several lines when the column is narrow, "
      "and into fewer lines when it is wide again.");
  guitest::pump(100);
  auto* item = dynamic_cast<TdecodeTextItem*>(mid->decodePane->scroller->itemPanel->GetChildren()[0]);
  ASSERT_NE(item, nullptr);
  const int before = item->label->GetSize().GetHeight();

  // the outer sash, dragged with the real mouse: the column gets narrower
  int notified = 0;
  outer->Bind(wxEVT_SPLITTER_SASH_POS_CHANGED, [&](wxSplitterEvent& e) {
    ++notified;
    e.Skip();
  });
  splitterPubs.clear();
  wxUIActionSimulator sim;
  const wxPoint sash = outer->GetScreenPosition() +
                       wxPoint(outer->GetSashPosition() + outer->GetSashSize() / 2, outer->GetSize().GetHeight() / 2);
  const int oldSash = outer->GetSashPosition();
  sim.MouseMove(sash);
  guitest::pump(50);
  sim.MouseDown();
  guitest::pump(50);
  sim.MouseMove(sash + wxPoint(60, 0));
  guitest::pump(50);
  sim.MouseMove(sash + wxPoint(120, 0));
  guitest::pump(50);
  sim.MouseUp();
  guitest::pump(200);
  EXPECT_NEAR(outer->GetSashPosition(), oldSash + 120, 8);
  EXPECT_GE(splitterPubs.size(), 1u);
  EXPECT_EQ(int(splitterPubs.size()), notified);  // one publication per notification
  for (long arg : splitterPubs) EXPECT_EQ(arg, 0);
  EXPECT_GT(item->label->GetSize().GetHeight(), before);

  // the inner sash's notification rises to the same handler
  splitterPubs.clear();
  notified = 0;
  inner->SetSashPosition(inner->GetSashPosition() - 20, true);
  wxSplitterEvent e(wxEVT_SPLITTER_SASH_POS_CHANGED, inner);
  e.SetSashPosition(inner->GetSashPosition());
  inner->GetEventHandler()->ProcessEvent(e);
  EXPECT_EQ(splitterPubs.size(), 1u);

  // a frame resize sends one notification of its own on wx 3.2 with GTK 3
  splitterPubs.clear();
  notified = 0;
  resize(wxSize(-60, 0));
  EXPECT_EQ(int(splitterPubs.size()), notified);
  EXPECT_EQ(notified, 1);
}

TEST_F(PaneLayout, ZoomReachesTheRowViewOnly) {
  const wxFont decodeFont = mid->decodePane->GetFont();
  const wxFont dumpFont = mid->dataPane->textCtrl->GetFont();
  TreeMidPane* view = mid->treePane->midPane;
  const int rowHt = view->cache().getRowHt();
  mid->zoom(19);
  EXPECT_EQ(view->cache().rowPointSize(), 19);
  EXPECT_GT(view->cache().getRowHt(), rowHt);
  EXPECT_EQ(mid->decodePane->GetFont(), decodeFont);
  EXPECT_EQ(mid->dataPane->textCtrl->GetFont(), dumpFont);
  mid->zoom(6);
  EXPECT_EQ(view->cache().rowPointSize(), 6);
  EXPECT_LT(view->cache().getRowHt(), rowHt);
}

}  // namespace
