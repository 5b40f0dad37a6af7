// The "Raw Data" pane's window: text, fonts per style, replacement, fill time.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <chrono>
#include <cstdio>

#include "guitest.h"
#include "vkdpane.h"
#include "vkglobs.h"

namespace {

class DataPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fframe = new wxFrame(nullptr, wxID_ANY, "t", wxPoint(20, 20), wxSize(500, 400));
    Fpane = new TdataPane(Fframe, -1);
    Fframe->Show();
    ASSERT_TRUE(guitest::pumpUntil([&] { return Fframe->IsShownOnScreen(); }));
  }
  void TearDown() override {
    Fframe->Destroy();
    guitest::pump(20);
  }
  wxTextAttr styleAt(long pos) {
    wxTextAttr attr;
    EXPECT_TRUE(Fpane->textCtrl->GetStyle(pos, attr));
    return attr;
  }

  wxFrame* Fframe = nullptr;
  TdataPane* Fpane = nullptr;
};

}  // namespace

TEST_F(DataPaneTest, ShowsTheDumpInHeadingAndDumpFonts) {
  EXPECT_EQ(Fpane->textCtrl->GetValue(), "");
  EXPECT_EQ(Fpane->textCtrl->GetBackgroundColour(), wxColour(144, 238, 144));
  const TbyteVec bytes = {0x2d, 0x00, 0x10, 'Q', 'x', 1, 2, 3, 0xe4};
  Fpane->renderPacket(bytes);
  const std::string expected =
      " 9 bytes\n\n      0  1  2  3  4  5  6  7  01234567"
      "\n  0: 2d 00 10 51 78 01 02 03  -..Qx..."
      "\n 08: e4                       .";
  EXPECT_EQ(Fpane->textCtrl->GetValue().utf8_string(), expected);
  long from = -1, to = -1;
  Fpane->textCtrl->GetSelection(&from, &to);
  EXPECT_EQ(from, 0);
  EXPECT_EQ(to, 0);

  const wxTextAttr heading = styleAt(2);
  EXPECT_EQ(heading.GetFont().GetPointSize(), _G.fontSize + 2);
  EXPECT_EQ(heading.GetFont().GetWeight(), wxFONTWEIGHT_NORMAL);
  const long dumpPos = long(expected.find("2d"));
  const wxTextAttr dump = styleAt(dumpPos);
  EXPECT_EQ(dump.GetFont().GetPointSize(), _G.fontSize);
  EXPECT_EQ(dump.GetFont().GetWeight(), wxFONTWEIGHT_BOLD);
  EXPECT_TRUE(dump.GetFont().IsFixedWidth());
  EXPECT_EQ(dump.GetTextColour(), *wxBLACK);

  // A second click replaces everything; no bytes leave " No Data" alone.
  Fpane->renderPacket({});
  EXPECT_EQ(Fpane->textCtrl->GetValue(), " No Data");
  EXPECT_EQ(styleAt(1).GetFont().GetPointSize(), _G.fontSize + 2);
  Fpane->head(3);
  EXPECT_EQ(Fpane->textCtrl->GetValue(), " 3 bytes\n\n      0  1  2  3  4  5  6  7  01234567");

  // A colour is 0x00BBGGRR and changes nothing but the text colour.
  Fpane->colour(0x00ff8000);
  Fpane->render("x");
  const wxTextAttr coloured = styleAt(Fpane->textCtrl->GetLastPosition() - 1);
  EXPECT_EQ(coloured.GetTextColour(), wxColour(0x00, 0x80, 0xff));
  EXPECT_EQ(coloured.GetFont().GetWeight(), wxFONTWEIGHT_BOLD);
  EXPECT_EQ(coloured.GetFont().GetPointSize(), _G.fontSize);
  // The next dump is black again.
  Fpane->renderPacket({'A'});
  EXPECT_EQ(styleAt(long(Fpane->textCtrl->GetValue().find("41"))).GetTextColour(), *wxBLACK);
}

TEST_F(DataPaneTest, FourKilobyteDumpFillsQuickly) {
  TbyteVec bytes(4096);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
  Fpane->renderPacket(bytes);  // warm the fonts up
  guitest::pump(20);
  double worst = 0;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    Fpane->renderPacket(bytes);
    Fpane->textCtrl->Update();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    worst = std::max(worst, ms);
  }
  std::printf("4 KB dump fill: worst of 5 %.2f ms\n", worst);
  EXPECT_EQ(Fpane->textCtrl->GetNumberOfLines(), 3 + 512);
  EXPECT_EQ(Fpane->textCtrl->GetLineText(3 + 511).utf8_string().substr(0, 5), " ff8:");
}
