// The display harness itself: a shown frame paints and a button press
// delivered as a real event reaches its handler.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/uiaction.h>

#include "guitest.h"

TEST(GuiHarness, FramePaintsAndButtonClickArrives) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "t", wxPoint(10, 10), wxSize(200, 120));
  auto* panel = new wxPanel(frame);
  panel->SetBackgroundColour(wxColour(255, 0, 0));
  auto* button = new wxButton(panel, wxID_ANY, "Go", wxPoint(10, 10), wxSize(80, 30));
  int clicks = 0;
  button->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++clicks; });
  frame->Show();
  ASSERT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
  guitest::pump(200);

  wxUIActionSimulator sim;
  sim.MouseMove(button->GetScreenPosition() + wxPoint(20, 15));
  guitest::pump(50);
  sim.MouseClick();
  EXPECT_TRUE(guitest::pumpUntil([&] { return clicks == 1; }, 3000));

  const wxImage img = guitest::grab(panel);
  ASSERT_TRUE(img.IsOk());
  EXPECT_EQ(img.GetRed(150, 100), 255);
  EXPECT_EQ(img.GetGreen(150, 100), 0);
  frame->Destroy();
  guitest::pump(20);
}
