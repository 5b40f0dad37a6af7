#include "vkapp.h"

#include "vkglobs.h"
#include "vkmainframe.h"

bool TvkApp::OnInit() {
  if (!wxApp::OnInit()) return false;
  framePtr = startQuellix();
  return true;
}

TmainFrame* startQuellix() {
  _G.init();
  _G.fullName = "Varnoke Quellix";
  _G.shortName = "Quellix";
  _G.maxBuffer = 128;
  _G.helpFile = "quellix_help.html";
  auto* frame = new TmainFrame(nullptr, wxID_ANY, wxString::FromUTF8(_G.fullName), wxPoint(50, 50), wxSize(1400, 500));
  frame->SetIcon(quellixIcon());
  frame->Show(true);
  return frame;
}
