// A window manager on the test's own X server, and what a user or a tool
// asks of it through a connection of its own.
#pragma once

#include <sys/types.h>
#include <wx/gdicmn.h>

namespace guitest {

class TwindowManager {
 public:
  TwindowManager();
  ~TwindowManager();
  TwindowManager(const TwindowManager&) = delete;
  TwindowManager& operator=(const TwindowManager&) = delete;

  bool started() const { return Fdisplay && Fpid > 0; }
  // The manager has taken over the screen.
  bool managing() const;
  // Asks for a new size of a top-level window, as a drag or xdotool would.
  void resize(unsigned long window, int width, int height) const;
  wxSize size(unsigned long window) const;

 private:
  void* Fdisplay = nullptr;
  pid_t Fpid = 0;
};

}  // namespace guitest
