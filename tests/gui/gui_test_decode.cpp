// The "Decode" pane's windows: items for paragraphs and tables, banded
// virtual lists, re-wrapping on resize and on a sash move, subscriptions;
// then the pane in the program's frame, under real clicks and wheels.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>

#include "guitest.h"
#include "qxhostile.h"
#include "startdir.h"
#include "vkapp.h"
#include "vkdecode.h"
#include "vkglobs.h"
#include "vkmainframe.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

const std::string LONG_TEXT =
    "SThe device answered the request for its configuration descriptor with all nine "
    "bytes & the host went on to ask for the full set of interfaces and endpoints, "
    "which came back in one data stage of the control transfer.";

class DecodePaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fframe = new wxFrame(nullptr, wxID_ANY, "t", wxPoint(20, 20), wxSize(420, 700));
    Fpane = new TdecodePane(Fframe);
    Fframe->Show();
    ASSERT_TRUE(guitest::pumpUntil([&] { return Fframe->IsShownOnScreen(); }));
  }
  void TearDown() override {
    Fframe->Destroy();
    guitest::pump(20);
  }
  std::vector<wxWindow*> items() {
    std::vector<wxWindow*> out;
    for (wxSizerItem* it : Fpane->scroller->itemPanel->itemSizer->GetChildren()) out.push_back(it->GetWindow());
    return out;
  }
  TdecodeList* listOf(wxWindow* item) { return dynamic_cast<TdecodeList*>(item->GetChildren()[1]); }
  wxString titleOf(wxWindow* item) {
    return dynamic_cast<wxStaticText*>(item->GetChildren()[0]->GetChildren()[0])->GetLabelText();
  }
  static int lineCount(const wxStaticText* label) { return int(label->GetLabel().Freq('\n')) + 1; }
  wxFrame* Fframe = nullptr;
  TdecodePane* Fpane = nullptr;
};

}  // namespace

TEST_F(DecodePaneTest, ParagraphsAndTablesFromTheGrammar) {
  Fpane->render(
      ";SHello & bye;sskipped;TStatus\nName#Value\nSpeed#Full\nDir#In;xx;T\nA#B;TX;"
      "TY\nA#B#C\n1##3\n\n4#5;");
  guitest::pump(100);
  const std::vector<wxWindow*> all = items();
  ASSERT_EQ(all.size(), 5u);

  auto* para = dynamic_cast<TdecodeTextItem*>(all[0]);
  ASSERT_NE(para, nullptr);
  EXPECT_EQ(para->label->GetLabelText(), "Hello & bye");

  ASSERT_NE(dynamic_cast<TdecodeListItem*>(all[1]), nullptr);
  EXPECT_EQ(titleOf(all[1]), "Status");
  TdecodeList* status = listOf(all[1]);
  ASSERT_EQ(status->GetColumnCount(), 2);
  EXPECT_EQ(status->GetItemCount(), 2);
  wxListItem col;
  col.SetMask(wxLIST_MASK_TEXT);
  ASSERT_TRUE(status->GetColumn(1, col));
  EXPECT_EQ(col.GetText(), "Value");
  EXPECT_EQ(status->GetItemText(0, 0), "Speed");
  EXPECT_EQ(status->GetItemText(1, 1), "In");
  // The pane's font is fontSize; the title bar's is 1.2 times that.
  EXPECT_EQ(Fpane->GetFont().GetPointSize(), _G.fontSize);
  EXPECT_EQ(all[1]->GetChildren()[0]->GetFont().GetPointSize(), _G.fontSize * 12 / 10);
  EXPECT_EQ(all[1]->GetChildren()[0]->GetBackgroundColour(), wxColour(215, 215, 215));
  EXPECT_EQ(Fpane->scroller->GetBackgroundColour(), wxColour(232, 232, 232));
  int rateX = -1, rateY = -1;
  Fpane->scroller->GetScrollPixelsPerUnit(&rateX, &rateY);
  EXPECT_EQ(rateX, 0);
  EXPECT_EQ(rateY, 5);

  // Every row is inside the list's fixed height; the first row is banded.
  wxRect last;
  ASSERT_TRUE(status->GetItemRect(1, last, wxLIST_RECT_BOUNDS));
  EXPECT_LE(last.GetBottom(), status->GetSize().y);
  EXPECT_EQ(status->GetMinSize().y, status->GetSize().y);
  wxRect first;
  ASSERT_TRUE(status->GetItemRect(0, first, wxLIST_RECT_BOUNDS));
  // The rows live in the list's main window, under the heading.
  wxWindow* rows = nullptr;
  for (wxWindow* child : status->GetChildren())
    if (!rows || child->GetPosition().y > rows->GetPosition().y) rows = child;
  ASSERT_NE(rows, nullptr);
  const int top = rows->GetPosition().y;
  const wxImage img = guitest::grab(rows);
  auto colourAt = [&](int x, int y) {
    return wxColour(img.GetRed(x, y - top), img.GetGreen(x, y - top), img.GetBlue(x, y - top));
  };
  const int x = first.x + first.width - 5;
  EXPECT_EQ(colourAt(x, first.y + first.height / 2), wxColour(239, 239, 255));
  EXPECT_NE(colourAt(x, last.y + last.height / 2), wxColour(239, 239, 255));

  EXPECT_EQ(titleOf(all[2]), " ");
  EXPECT_EQ(listOf(all[2])->GetColumnCount(), 2);
  EXPECT_EQ(listOf(all[2])->GetItemCount(), 0);
  EXPECT_EQ(listOf(all[2])->GetSize().y, 12);
  // No item is wider than the pane, not even a list without columns.
  for (wxWindow* item : all) EXPECT_LE(item->GetSize().x, Fpane->GetSize().x - 20);

  EXPECT_EQ(titleOf(all[3]), "X");
  EXPECT_EQ(listOf(all[3])->GetColumnCount(), 0);

  TdecodeList* gaps = listOf(all[4]);
  ASSERT_EQ(gaps->GetItemCount(), 2);
  EXPECT_EQ(gaps->GetItemText(0, 0), "1");
  EXPECT_EQ(gaps->GetItemText(0, 1), "3");
  EXPECT_EQ(gaps->GetItemText(0, 2), "");

  // Columns follow the list's width: a quarter, then three quarters less 20.
  const int w = gaps->GetClientSize().x;
  EXPECT_EQ(gaps->GetColumnWidth(0), w / 4);
  EXPECT_EQ(gaps->GetColumnWidth(1), 3 * w / 4 - 20);

  // Texts that are nothing but separators or unknown items leave the pane empty.
  Fpane->render(";;");
  EXPECT_TRUE(items().empty());
  Fpane->render("sHello;Q");
  EXPECT_TRUE(items().empty());
}

TEST_F(DecodePaneTest, ParagraphWrapsToItsWidthAndFollowsResizes) {
  Fpane->render(LONG_TEXT);
  guitest::pump(100);
  auto* para = dynamic_cast<TdecodeTextItem*>(items().at(0));
  ASSERT_NE(para, nullptr);
  // The item fits in the pane and its label is wrapped inside it.
  ASSERT_TRUE(guitest::pumpUntil(
      [&] { return para->GetSize().y >= para->label->GetBestSize().y && lineCount(para->label) > 2; }, 3000));
  EXPECT_LE(para->GetSize().x, Fpane->scroller->GetClientSize().x - 20);
  EXPECT_LE(para->label->GetBestSize().x, para->GetClientSize().x - 20 + 1);
  const int narrowLines = lineCount(para->label);

  Fframe->SetSize(1400, 700);
  ASSERT_TRUE(guitest::pumpUntil([&] { return lineCount(para->label) < narrowLines; }, 3000));
  const int wideLines = lineCount(para->label);
  Fframe->SetSize(420, 700);
  ASSERT_TRUE(guitest::pumpUntil([&] { return lineCount(para->label) == narrowLines; }, 3000));
  EXPECT_GT(narrowLines, wideLines);
  // The whole paragraph shows: the item grew with its line count.
  EXPECT_TRUE(guitest::pumpUntil([&] { return para->GetSize().y >= para->label->GetBestSize().y; }, 3000));

  // A sash move re-wraps every paragraph, even one whose size did not change.
  para->label->SetLabel("x");
  _G.pub(TOPIC_SPLITTER, 0);
  EXPECT_EQ(lineCount(para->label), narrowLines);
}

TEST_F(DecodePaneTest, NarrowParagraphIsNotWrapped) {
  auto* item = new TdecodeTextItem(Fframe, "Sa b c d e f");
  item->SetSize(15, 40);
  item->doResize();
  EXPECT_EQ(item->label->GetLabel(), "a b c d e f");
  item->Destroy();
}

TEST_F(DecodePaneTest, OnlyLiveParagraphsHoldSubscriptions) {
  const size_t before = _G.topicSubs(TOPIC_SPLITTER).size();
  Fpane->render("SOne;TX\nA#B\n1#2;STwo");
  std::vector<wxWindow*> all = items();
  ASSERT_EQ(all.size(), 3u);
  const auto& subs = _G.topicSubs(TOPIC_SPLITTER);
  ASSERT_EQ(subs.size(), before + 2);
  EXPECT_EQ(subs[before].id, dynamic_cast<TdecodeTextItem*>(all[0])->subId());
  EXPECT_EQ(subs[before + 1].id, dynamic_cast<TdecodeTextItem*>(all[2])->subId());

  Fpane->render("SThree");
  const auto& after = _G.topicSubs(TOPIC_SPLITTER);
  ASSERT_EQ(after.size(), before + 1);
  auto* three = dynamic_cast<TdecodeTextItem*>(items().at(0));
  EXPECT_EQ(after[before].id, three->subId());
  three->label->SetLabel("x");
  _G.pub(TOPIC_SPLITTER, 0);  // reaches only the live paragraph
  EXPECT_EQ(three->label->GetLabel(), "Three");

  Fpane->render("");
  EXPECT_EQ(_G.topicSubs(TOPIC_SPLITTER).size(), before);
  _G.pub(TOPIC_SPLITTER, 0);
}

// A click on another row refills the windows of the previous text where the
// kinds allow: they must show exactly what new windows show.
TEST_F(DecodePaneTest, RefilledItemsShowWhatNewOnesShow) {
  Fpane->render("SOld words;TOld\nP#Q#R#S\n1#2#3#4\n5#6#7#8\n9#a#b#c;TGone\nA#B\n1#2;SLast");
  guitest::pump(50);
  TdecodeList* old = listOf(items().at(1));
  old->Select(1);
  ASSERT_EQ(old->GetSelectedItemCount(), 1);
  const std::string text = "TNew\nName#Value\nSpeed#Full;" + LONG_TEXT + ";TX;SShort";
  Fpane->render(text);
  auto* other = new wxFrame(nullptr, wxID_ANY, "t", wxPoint(500, 20), Fframe->GetSize());
  auto* fresh = new TdecodePane(other);
  other->Show();
  ASSERT_TRUE(guitest::pumpUntil([&] { return other->IsShownOnScreen(); }));
  fresh->render(text);
  guitest::pump(200);

  std::vector<wxWindow*> refilled = items();
  std::vector<wxWindow*> made;
  for (wxSizerItem* it : fresh->scroller->itemPanel->itemSizer->GetChildren()) made.push_back(it->GetWindow());
  ASSERT_EQ(refilled.size(), 4u);
  ASSERT_EQ(made.size(), 4u);
  EXPECT_EQ(refilled[0], old->GetParent());                         // the table's windows were refilled
  EXPECT_EQ(Fpane->scroller->itemPanel->GetChildren().size(), 4u);  // the unused ones are gone
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(refilled[i]->GetSize(), made[i]->GetSize()) << "item " << i;
    if (auto* para = dynamic_cast<TdecodeTextItem*>(refilled[i])) {
      EXPECT_EQ(para->label->GetLabel(), dynamic_cast<TdecodeTextItem*>(made[i])->label->GetLabel());
      continue;
    }
    EXPECT_EQ(titleOf(refilled[i]), titleOf(made[i]));
    EXPECT_EQ(refilled[i]->GetChildren()[0]->GetChildren()[0]->GetRect(),
              made[i]->GetChildren()[0]->GetChildren()[0]->GetRect());  // centred alike
    TdecodeList* a = listOf(refilled[i]);
    TdecodeList* b = listOf(made[i]);
    ASSERT_EQ(a->GetColumnCount(), b->GetColumnCount()) << "item " << i;
    ASSERT_EQ(a->GetItemCount(), b->GetItemCount());
    EXPECT_EQ(a->GetSelectedItemCount(), 0);
    EXPECT_EQ(a->GetMinSize(), b->GetMinSize());
    for (int c = 0; c < a->GetColumnCount(); ++c) {
      EXPECT_EQ(a->GetColumnWidth(c), b->GetColumnWidth(c));
      for (int r = 0; r < a->GetItemCount(); ++r) EXPECT_EQ(a->GetItemText(r, c), b->GetItemText(r, c));
    }
  }
  EXPECT_EQ(titleOf(refilled[0]), "New");
  EXPECT_EQ(listOf(refilled[2])->GetColumnCount(), 0);
  EXPECT_EQ(dynamic_cast<TdecodeTextItem*>(refilled[3])->label->GetLabel(), "Short");
  other->Destroy();
}

// The pane is made with hidden table windows for its first text: nothing of
// them shows before it, they look like tables made for it, and those it
// does not need are gone after it.
TEST_F(DecodePaneTest, SpareTablesOfTheFirstTextLookLikeNewOnes) {
  EXPECT_TRUE(items().empty());
  for (wxWindow* w : Fpane->scroller->itemPanel->GetChildren()) EXPECT_FALSE(w->IsShown());
  const std::string table = "TX\nName#Value\nSpeed#Full;";
  Fpane->render(table + table + table + table);  // three spares, then a new one
  guitest::pump(100);
  const std::vector<wxWindow*> all = items();
  ASSERT_EQ(all.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(all[i]->IsShownOnScreen()) << i;
    EXPECT_EQ(all[i]->GetSize(), all[3]->GetSize()) << i;
    EXPECT_EQ(listOf(all[i])->GetColumnWidth(1), listOf(all[3])->GetColumnWidth(1)) << i;
    EXPECT_EQ(listOf(all[i])->GetItemText(0, 1), "Full");
  }
  auto* other = new TdecodePane(Fframe);
  other->render("SText;" + table);
  EXPECT_EQ(other->scroller->itemPanel->GetChildren().size(), 2u);
  other->Destroy();
}

// Figures, not a timed pass/fail: the decode text of a GET_DESCRIPTOR whose data
// stage is 4 KB (a paragraph, the setup table, 66 stages, the descriptor).
TEST_F(DecodePaneTest, FourKilobyteTransferRenderTime) {
  std::string text =
      "SGET_DESCRIPTOR (DEVICE) to device 0, endpoint 0. The device sent 4096 bytes of the 4096 "
      "asked for. The status stage was acknowledged: the request completed.;TSETUP request\n"
      "Field#Value#Meaning\nbmRequestType#0x80#device-to-host, Standard, Device\nbRequest#0x06#"
      "GET_DESCRIPTOR\nwValue#0x0100#descriptor DEVICE, index 0\nwIndex#0x0000#-\nwLength#4096#at most "
      "4096 bytes to the host;TStages\nStage#Transaction#Bytes#Handshake\nSetup#SETUP#8#ACK";
  for (int i = 0; i < 64; ++i) text += "\nData#IN#64#ACK";
  text += "\nStatus#OUT#0#ACK;TDevice descriptor\nField#Value#Meaning";
  for (int i = 0; i < 14; ++i) text += "\nbField" + std::to_string(i) + "#0x0" + std::to_string(i % 10) + "#meaning";
  Fframe->SetSize(420, 560);
  Fpane->render(text);  // warm the fonts and the list's classes up
  guitest::pump(50);
  // Shown again over the same kinds of items, and over an empty pane: the
  // time to the end of render and of the pane's repaint, and the processor
  // time of the whole change, windows painted later included.
  auto cpuMs = [] { return 1000.0 * double(std::clock()) / CLOCKS_PER_SEC; };
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::vector<double> idle;
  for (int i = 0; i < 9; ++i) {
    const double c0 = cpuMs();
    guitest::pump(40);
    idle.push_back(cpuMs() - c0);
  }
  for (const bool again : {true, false}) {
    std::vector<double> built, painted, cpu;
    for (int i = 0; i < 9; ++i) {
      Fpane->render(again ? text : "");
      guitest::pump(20);
      const double c0 = cpuMs();
      const auto t0 = std::chrono::steady_clock::now();
      Fpane->render(text);
      built.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      Fpane->Update();
      painted.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      guitest::pump(40);
      cpu.push_back(cpuMs() - c0);
    }
    std::printf("4 KB transfer's decode pane over %s: median render %.2f ms, with repaint %.2f ms, processor %.2f ms\n",
                again ? "the same kinds" : "an empty pane", median(built), median(painted), median(cpu) - median(idle));
  }
  const std::vector<wxWindow*> all = items();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(listOf(all[2])->GetItemCount(), 66);
  EXPECT_EQ(listOf(all[2])->GetItemText(65, 0), "Status");
}

// Latin-1 bytes from a user's script show as U+FFFD, the rest of the
// paragraph, title, heading or cell as it is.
TEST_F(DecodePaneTest, TextsThatAreNotUtf8KeepTheirOtherCharacters) {
  Fpane->render("SCaf\xe9 au lait;TR\xe9sum\xe9\nN\xb0#Time\nspeed#12\xb5s");
  ASSERT_EQ(items().size(), 2u);
  EXPECT_EQ(dynamic_cast<TdecodeTextItem*>(items()[0])->label->GetLabelText(), wxString(L"Caf\uFFFD au lait"));
  EXPECT_EQ(titleOf(items()[1]), wxString(L"R\uFFFDsum\uFFFD"));
  TdecodeList* list = listOf(items()[1]);
  wxListItem col;
  col.SetMask(wxLIST_MASK_TEXT);
  EXPECT_TRUE(list->GetColumn(0, col) && col.GetText() == wxString(L"N\uFFFD"));
  EXPECT_EQ(list->GetItemText(0, 1), wxString(L"12\uFFFDs"));
}

// A script's text of a thousand tables: a bounded number of windows, then a
// paragraph counting the items left out.
TEST_F(DecodePaneTest, ItemsPastTheBoundAreCountedNotShown) {
  std::string text = "SFirst";
  for (int i = 0; i < 1000; ++i) text += ";TDescriptor\nField#Value\nbLength#2;x";
  Fpane->render(text);
  ASSERT_EQ(items().size(), decodetext::MAX_SHOWN_ITEMS + 1);
  const std::string note = std::to_string(1001 - decodetext::MAX_SHOWN_ITEMS) + " more items of this decode text";
  EXPECT_EQ(dynamic_cast<TdecodeTextItem*>(items().back())->paraText.rfind(note + " are left out", 0), 0u);
}

namespace {

// Real wheel notches at the pointer (X button 5 down, 4 up) through XTest,
// which the toolkit has loaded already.
void wheel(int notches) {
  static void* x11 = dlopen("libX11.so.6", RTLD_NOW);
  static void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
  ASSERT_TRUE(x11 && xtst);
  static void* display = reinterpret_cast<void* (*)(const char*)>(dlsym(x11, "XOpenDisplay"))(nullptr);
  auto fake = reinterpret_cast<int (*)(void*, unsigned, int, unsigned long)>(dlsym(xtst, "XTestFakeButtonEvent"));
  for (int i = 0; i < std::abs(notches); ++i) {
    for (int press : {1, 0}) fake(display, notches < 0 ? 4 : 5, press, 0);
    reinterpret_cast<int (*)(void*)>(dlsym(x11, "XFlush"))(display);
    guitest::pump(30);
  }
}

// The pane of the frame that startQuellix builds, filled by a real click on
// the first display row whose decode text holds a given piece.
class DecodeInFrame : public DecodePaneTest {
 protected:
  void SetUp() override {}
  void TearDown() override { startdir::closeAll(); }
  void startAndClick(const std::string& piece) {
    startdir::freshSettings();
    TmainFrame* frame = startQuellix();
    TreeMidPane* view = Fview = frame->midPanePtr->treePane->midPane;
    Fpane = frame->midPanePtr->decodePane;
    ASSERT_TRUE(guitest::pumpUntil([&] { return !view->getPaintedRows().empty(); }));
    TdisplData& data = view->cache().rData();
    int ix = 0;
    while (ix < data.rowCount() && data.genRowDecode(ix).find(piece) == std::string::npos) ++ix;
    view->onScrolled(ix);
    view->Refresh();
    ASSERT_TRUE(guitest::pumpUntil([&] { return view->getPaintedRows().at(0) == ix; }));
    pointAt(view, wxPoint(60, view->cache().getRowHt() / 2));
    const auto t0 = std::chrono::steady_clock::now();
    wxUIActionSimulator().MouseClick();
    ASSERT_TRUE(guitest::pumpUntil([&] { return !items().empty(); }));
    clickSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  static void pointAt(wxWindow* w, wxPoint at) {
    wxUIActionSimulator().MouseMove(w->GetScreenPosition() + at);
    guitest::pump(30);
  }
  // Shows each kind of decode text of the rows, or each text at all, and
  // checks that every heading and cell fits its column; how many it showed.
  size_t expectTablesFit(bool everyText) {
    TdisplData& data = Fview->cache().rData();
    std::set<std::string> shown;  // texts, or the titles of a text's tables
    for (int ix = 0; ix < data.rowCount(); ++ix) {
      const std::string text = data.genRowDecode(ix);
      std::string titles;
      for (const std::string& item : decodetext::items(text))
        if (item[0] == 'T') titles += decodetext::title(decodetext::tableLines(item)) + "|";
      if (!shown.insert(everyText ? text : titles).second) continue;
      Fpane->render(text);
      guitest::pump(30);
      for (wxWindow* item : items()) {
        if (!dynamic_cast<TdecodeListItem*>(item)) continue;
        TdecodeList* list = listOf(item);
        EXPECT_LE(list->GetColumnCount(), 2) << titleOf(item);
        for (int c = 0; c < list->GetColumnCount(); ++c) {
          wxListItem head;
          head.SetMask(wxLIST_MASK_TEXT);
          EXPECT_TRUE(list->GetColumn(c, head));
          wxString widest = head.GetText();
          for (int r = 0; r < list->GetItemCount(); ++r)
            if (list->GetTextExtent(list->GetItemText(r, c)).x > list->GetTextExtent(widest).x)
              widest = list->GetItemText(r, c);
          EXPECT_LE(list->GetTextExtent(widest).x, list->GetColumnWidth(c) - 8)
              << titleOf(item) << ", column " << c << ": " << widest;
        }
      }
    }
    return shown.size();
  }
  double clickSeconds = 0;
  TreeMidPane* Fview = nullptr;
};

}  // namespace

// On the bundled capture the first GET_DESCRIPTOR's device descriptor lies
// below the pane's bottom: the wheel over the tables above brings it up.
TEST_F(DecodeInFrame, WheelOverATableScrollsThePane) {
  startdir::TstartDir dir(true, true);
  startAndClick("TDevice descriptor");
  auto table = [&](const char* title) -> wxWindow* {
    for (wxWindow* w : items())
      if (dynamic_cast<TdecodeListItem*>(w) && titleOf(w) == title) return w;
    return nullptr;
  };
  wxWindow* stages = table("Stages");
  wxWindow* device = table("Device descriptor");
  ASSERT_TRUE(stages && device);
  const int bottom = Fpane->scroller->GetScreenRect().GetBottom();
  ASSERT_GT(device->GetScreenRect().GetBottom(), bottom);
  pointAt(stages, wxPoint(stages->GetSize().x / 2, stages->GetSize().y - 20));
  wheel(1);
  EXPECT_GT(Fpane->scroller->GetViewStart().y, 0) << "a notch over a table's rows";
  // on over whatever the pane brings under the pointer
  for (int i = 0; i < 40 && device->GetScreenRect().GetBottom() > bottom; ++i) wheel(1);
  EXPECT_LE(device->GetScreenRect().GetBottom(), bottom);
  const int down = Fpane->scroller->GetViewStart().y;
  wheel(-2);
  EXPECT_LT(Fpane->scroller->GetViewStart().y, down);
}

// At the default layout each kind of decode text of the bundled capture
// shows whole: no heading or cell is wider than its column less the list's
// 8 px margin, the first column (a quarter of the width) included.
TEST_F(DecodeInFrame, BundledTablesFitTheDefaultPane) {
  startdir::TstartDir dir(true, true);
  startAndClick("");
  EXPECT_GT(expectTablesFit(false), 10u);
}

// So do the tables of common requests that the bundled capture lacks: a CDC
// function with its interface association and functional descriptors, mass
// storage, a HID mouse's report descriptor, a device qualifier, class
// requests, standard requests with long names.
TEST_F(DecodeInFrame, CommonRequestTablesFitTheDefaultPane) {
  startdir::TstartDir dir(false, true);
  const TbyteVec cdc = {9, 2, 75, 0, 2, 1, 0, 0xc0, 0xfa, 8, 0x0b, 0, 2, 2, 2, 1, 0,  // with an IAD
                        9, 4, 0, 0, 1, 2, 2, 1, 0, 5, 0x24, 0, 0x10, 1, 5, 0x24, 1, 0, 1, 4, 0x24, 2, 2,
                        5, 0x24, 6, 0, 1, 7, 5, 0x82, 3, 8, 0, 0xff, 9, 4, 1, 0, 2, 0x0a, 0, 0, 0,
                        7, 5, 0x01, 2, 0x40, 0, 0, 7, 5, 0x81, 2, 0x40, 0, 0};
  const TbyteVec storage = {9, 2, 32, 0, 1, 1, 4, 0x80, 0x32, 9, 4, 0, 0, 2, 8, 6, 0x50, 5,
                            7, 5, 0x81, 2, 0x40, 0, 0, 7, 5, 0x02, 2, 0x40, 0, 0};
  const TbyteVec mouse = {0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x09, 0x01, 0xa1, 0x00, 0x05, 0x09, 0x19, 0x01,
                          0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01,
                          0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x16, 0x01,
                          0x80, 0x26, 0xff, 0x7f, 0x75, 0x10, 0x95, 0x03, 0x81, 0x06, 0xc0, 0xc0};
  ASSERT_GT(qxhostile::writeControlTransfers(
                (dir.path / "default.vkd").string(),
                {{{0x80, 6, 0, 2, 0, 0, 75, 0}, cdc},
                 {{0x80, 6, 0, 2, 0, 0, 32, 0}, storage},
                 {{0x81, 6, 0, 0x22, 0, 0, uint8_t(mouse.size()), 0}, mouse},
                 {{0x80, 6, 0, 6, 0, 0, 10, 0}, {10, 6, 0, 2, 0, 0, 0, 64, 1, 0}},
                 {{0x80, 6, 0, 3, 0, 0, 0xff, 0}, {8, 3, 0x09, 0x04, 0x07, 0x04, 0x16, 0x04}},
                 {{0xa1, 0x21, 0, 0, 0, 0, 7, 0}, {0x00, 0xc2, 0x01, 0x00, 0, 0, 8}},
                 {{0x21, 0x22, 3, 0, 0, 0, 0, 0}, {}},
                 {{0x21, 0x0b, 0, 0, 0, 0, 0, 0}, {}},
                 {{0x21, 0x0a, 0, 0x7d, 0, 0, 0, 0}, {}},
                 {{0xa1, 0xfe, 0, 0, 0, 0, 1, 0}, {0}},
                 {{0x02, 1, 0, 0, 0x81, 0, 0, 0}, {}},
                 {{0x00, 9, 1, 0, 0, 0, 0, 0}, {}}}),
            0);
  startAndClick("");
  EXPECT_GT(expectTablesFit(true), 20u);
}

// A 2.5 KB default capture whose one control transfer carries 32,767
// descriptors: the window comes up and a click on the transfer returns soon,
// showing bounded items that say how many descriptors were left out.
TEST_F(DecodeInFrame, DescriptorFloodClickIsBounded) {
  startdir::TstartDir dir(false, true);
  ASSERT_GT(qxhostile::writeDescriptorFlood((dir.path / "default.vkd").string()), 0);
  const auto t0 = std::chrono::steady_clock::now();
  startAndClick("");
  const double all = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("descriptor flood: start and click %.2f s, of which the click %.2f s\n", all, clickSeconds);
  EXPECT_LT(all, 10.0);
  EXPECT_LT(clickSeconds, 5.0);
  size_t tables = 0;
  wxString notes;
  for (wxWindow* w : items()) {
    if (auto* para = dynamic_cast<TdecodeTextItem*>(w)) notes += para->label->GetLabelText();
    tables += dynamic_cast<TdecodeListItem*>(w) && titleOf(w) == "CS_INTERFACE descriptor";
  }
  EXPECT_GT(tables, 20u);
  EXPECT_LE(items().size(), decodetext::MAX_SHOWN_ITEMS);
  EXPECT_NE(notes.Find(std::to_string(32767 - tables) + " more descriptors"), wxNOT_FOUND) << notes;
}

// Strings of 64 and 126 characters (no blank in the serial number, none in the
// product's first 52) read whole in the default pane: each line fits the label
// in the pane's font, the label the pane, and the lines hold every character.
TEST_F(DecodeInFrame, LongStringsReadWholeInTheDefaultPane) {
  startdir::TstartDir dir(false, true);
  const std::string strings[] = {
      "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF",
      "Quellix_Feldbus-Analysator_mit_galvanischer_Trennung fuer Laborplaetze und Pruefstaende, Baureihe 2026/B "
      "Extended Edition Plus"};
  std::vector<std::pair<TbyteVec, TbyteVec>> reads;
  for (const std::string& text : strings) {
    TbyteVec d = {uint8_t(2 + 2 * text.size()), 3};
    for (char c : text) d.insert(d.end(), {uint8_t(c), 0});
    reads.push_back({{0x80, 6, uint8_t(reads.size() + 2), 3, 9, 4, 0xff, 0}, d});
  }
  ASSERT_GT(qxhostile::writeControlTransfers((dir.path / "default.vkd").string(), reads), 0);
  startAndClick("String 2:");
  TdisplData& data = Fview->cache().rData();
  for (const std::string& text : strings) {
    for (int ix = 0; ix < data.rowCount(); ++ix)
      if (data.genRowDecode(ix).find(text) != std::string::npos) Fpane->render(data.genRowDecode(ix));
    guitest::pump(100);
    auto* para = dynamic_cast<TdecodeTextItem*>(items().at(items().size() - 2));  // above its table
    ASSERT_TRUE(para && para->paraText.find(text) != std::string::npos) << text;
    const wxRect pane = Fpane->scroller->GetScreenRect(), label = para->label->GetScreenRect();
    EXPECT_TRUE(label.GetLeft() >= pane.GetLeft() && label.GetRight() <= pane.GetRight());
    wxString shown, all = wxString::FromUTF8(para->paraText);
    for (const wxString& line : wxSplit(para->label->GetLabelText(), '\n', 0)) {
      EXPECT_LE(para->label->GetTextExtent(line).x, label.width) << line;
      shown += line;
    }
    shown.Replace(" ", ""), all.Replace(" ", "");
    EXPECT_EQ(shown, all);
    EXPECT_GE(para->GetSize().y, para->label->GetBestSize().y) << "every line within the item";
  }
}
