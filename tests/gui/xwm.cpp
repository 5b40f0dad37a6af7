#include "xwm.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace guitest {

namespace {
Display* dpy(void* d) { return static_cast<Display*>(d); }
}  // namespace

TwindowManager::TwindowManager() : Fdisplay(XOpenDisplay(nullptr)) {
  char* argv[] = {const_cast<char*>("openbox"), const_cast<char*>("--sm-disable"), nullptr};
  if (posix_spawnp(&Fpid, "openbox", nullptr, nullptr, argv, environ) != 0) Fpid = 0;
}

TwindowManager::~TwindowManager() {
  if (Fpid > 0) {
    kill(Fpid, SIGTERM);
    waitpid(Fpid, nullptr, 0);
  }
  if (Fdisplay) XCloseDisplay(dpy(Fdisplay));
}

bool TwindowManager::managing() const {
  Display* d = dpy(Fdisplay);
  const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  const bool ok = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, AnyPropertyType, &type, &format, &n,
                                     &after, &data) == Success &&
                  n == 1;
  if (data) XFree(data);
  return ok;
}

void TwindowManager::resize(unsigned long window, int width, int height) const {
  XResizeWindow(dpy(Fdisplay), window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFlush(dpy(Fdisplay));
}

wxSize TwindowManager::size(unsigned long window) const {
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy(Fdisplay), window, &a)) return wxSize();
  return wxSize(a.width, a.height);
}

}  // namespace guitest
