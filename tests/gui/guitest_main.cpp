#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdio>
#include <string>
#include <thread>

#include "guitest.h"

namespace {

void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
  ADD_FAILURE() << "toolkit assertion " << cond.utf8_string() << " in " << func.utf8_string() << " ("
                << file.utf8_string() << ":" << line << "): " << msg.utf8_string();
}

// Started in SetUp, not in main, so that listing the tests needs no display.
class TguiEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "guitest";
    static char* argv[] = {name, nullptr};
    wxSetAssertHandler(failOnAssert);
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(argc, argv)) {
      std::fprintf(stderr, "no display: run the GUI tests under xvfb-run\n");
      std::exit(2);
    }
    wxTheApp->CallOnInit();
    Floop = new wxGUIEventLoop();
    wxEventLoopBase::SetActive(Floop);
  }
  void TearDown() override {
    wxEventLoopBase::SetActive(nullptr);
    delete Floop;
    wxEntryCleanup();
  }

 private:
  wxGUIEventLoop* Floop = nullptr;
};

}  // namespace

namespace guitest {

void pump(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    wxTheApp->ProcessPendingEvents();
    wxYield();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < end);
}

bool pumpUntil(const std::function<bool()>& cond, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return cond();
    pump(10);
  }
  return true;
}

wxImage grab(wxWindow* win) {
  win->Update();
  const wxSize sz = win->GetClientSize();
  wxBitmap bmp(sz.x > 0 ? sz.x : 1, sz.y > 0 ? sz.y : 1);
  wxMemoryDC mem(bmp);
  wxClientDC dc(win);
  mem.Blit(0, 0, sz.x, sz.y, &dc, 0, 0);
  mem.SelectObject(wxNullBitmap);
  return bmp.ConvertToImage();
}

}  // namespace guitest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new TguiEnv);
  return RUN_ALL_TESTS();
}
