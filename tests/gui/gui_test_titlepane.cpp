// The caption bar: font half as large again as its parent's, centred caption.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "guitest.h"
#include "vkwxmid.h"

namespace {

wxStaticText* captionOf(TitlePane* pane) {
  return dynamic_cast<wxStaticText*>(pane->GetChildren().GetFirst()->GetData());
}

}  // namespace

TEST(TitlePane, CaptionFontIsParentsTimesOnePointFive) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "t");
  for (const auto& [parentPt, captionPt] : {std::pair{12, 18}, {13, 19}, {6, 9}}) {
    auto* parent = new wxPanel(frame);
    parent->SetFont(wxFontInfo(parentPt).FaceName("DejaVu Sans"));
    auto* pane = new TitlePane(parent, L"Decode");
    wxStaticText* text = captionOf(pane);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetLabel(), "Decode");
    EXPECT_EQ(text->GetFont().GetPointSize(), captionPt) << "parent " << parentPt;
    EXPECT_EQ(pane->GetBackgroundColour(), wxColour(211, 211, 211));
  }
  frame->Destroy();
  guitest::pump(20);
}

TEST(TitlePane, CaptionStaysCentredWhenWidened) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "t", wxPoint(20, 20), wxSize(300, 200));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* pane = new TitlePane(frame, L"Raw Data");
  sizer->Add(pane, 0, wxEXPAND);
  frame->SetSizer(sizer);
  frame->Show();
  ASSERT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
  wxStaticText* text = captionOf(pane);
  for (int width : {300, 700, 1100}) {
    frame->SetClientSize(width, 200);
    ASSERT_TRUE(guitest::pumpUntil([&] { return pane->GetSize().x == width; }, 3000));
    frame->Layout();
    const wxRect r = text->GetRect();
    EXPECT_GT(r.width, 0);
    EXPECT_LE(std::abs(r.x + r.width / 2 - width / 2), 1) << "width " << width;
  }
  frame->Destroy();
  guitest::pump(20);
}
