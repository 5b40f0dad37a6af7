// Program entry: the application object and the start-up that follows the
// toolkit's own. Start-up is a function of its own so that a test can build
// the main window exactly as the program does, under a toolkit it started.
#pragma once

#include <wx/app.h>

class TmainFrame;

class TvkApp : public wxApp {
 public:
  ~TvkApp() override = default;
  bool OnInit() override;

  TmainFrame* framePtr = nullptr;
};

// Fills _G, creates the main window (which loads ./default.vkd when present),
// gives it the icon and shows it.
TmainFrame* startQuellix();
