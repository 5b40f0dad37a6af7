// Start-up with a large default capture: how long from start to the first
// painted row view, against loading the same sample file alone, and how much
// memory each takes. Each measurement runs in a process of its own.
//   qx_bench_startup make  <dir> [rows]   writes <dir>/default.vkd (>= rows
//                                         display rows) and <dir>/scripts
//   qx_bench_startup load  <dir>          loads <dir>/default.vkd alone
//   qx_bench_startup start <dir>          starts the main window in <dir>
//   qx_bench_startup hostile <dir> [startMs clickMs]
//                                         for each small hostile file as
//                                         default.vkd: time to the first
//                                         painted rows and the slowest click
//                                         on a row shown; fails past the limits
//                                         or on an unexpected message
//   qx_bench_startup bounded <dir>        the same, the limits relative to the
//                                         bundled capture's start in this run
// The start needs a display (xvfb-run -a -s "-screen 0 1920x1080x24").
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <string>

#include "qxhostile.h"
#include "vkapp.h"
#include "vkdataio.h"
#include "vkmainframe.h"
#include "vkrcache.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double PAINT_WAIT_MS = 300000;

double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Resident memory now and at its peak, in MiB.
double rssNow() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}
double rssPeak() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

int make(const fs::path& dir, size_t wanted) {
  fs::create_directories(dir / "scripts");
  fs::copy_file(QX_SOURCE_DIR "/scripts/init.lua", dir / "scripts" / "init.lua", fs::copy_options::overwrite_existing);
  // Whole copies of the bundled capture, one after another.
  auto all = std::make_shared<TlinVec>();
  std::vector<TrowVecPtr> keep;
  while (all->size() < wanted) {
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    if (TdataIO().loadLinearFile(QX_RUN_DIR "/default.vkd", roots, rows) <= 0) {
      std::fprintf(stderr, "cannot read %s\n", QX_RUN_DIR "/default.vkd");
      return 1;
    }
    all->insert(all->end(), rows->begin(), rows->end());
    keep.push_back(roots);
  }
  const int n = TdataIO().saveLinearToFile(all, (dir / "default.vkd").string());
  std::printf("wrote %d display rows to %s (%.1f MiB)\n", n, (dir / "default.vkd").c_str(),
              fs::file_size(dir / "default.vkd") / double(1 << 20));
  return n > 0 ? 0 : 1;
}

int load(const fs::path& dir) {
  const double before = rssNow();
  const auto t0 = Clock::now();
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  const int n = TdataIO().loadLinearFile((dir / "default.vkd").string(), roots, rows);
  const double ms = msSince(t0);
  std::printf("load: %d rows in %.0f ms; rows hold %.1f MiB; peak RSS %.1f MiB\n", n, ms, rssNow() - before, rssPeak());
  return n > 0 ? 0 : 1;
}

// Answers every message box at once, so that a start-up message cannot hold
// the measurement.
class TanswerAll : public wxModalDialogHook {
 protected:
  int Enter(wxDialog* dialog) override {
    std::printf("  message: %s\n", dialog->GetTitle().utf8_str().data());
    return wxID_OK;
  }
  void Exit(wxDialog*) override {}
};

// Starts the main window in dir and waits for its first painted rows; the
// frame, the resident memory before it was built and the milliseconds to the
// first paint.
TmainFrame* startFrame(const fs::path& dir, int argc, char** argv, double& rssBefore, double& painted) {
  fs::current_path(dir);
  wxApp::SetInstance(new wxApp());
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "no display: run under xvfb-run\n");
    return nullptr;
  }
  wxTheApp->CallOnInit();
  wxEventLoopBase::SetActive(new wxGUIEventLoop());
  rssBefore = rssNow();
  const auto t0 = Clock::now();
  TmainFrame* frame = startQuellix();
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  while (view->getPaintedRows().empty() || view->getPaintedRows()[0] < 0) {
    wxTheApp->ProcessPendingEvents();
    wxYield();
    if (msSince(t0) > PAINT_WAIT_MS) break;  // not shown
  }
  painted = msSince(t0);
  return frame;
}

void endFrame(TmainFrame* frame) {
  frame->Destroy();
  wxTheApp->ProcessPendingEvents();
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  wxEventLoopBase::SetActive(nullptr);
  delete loop;
  wxEntryCleanup();
}

int start(const fs::path& dir, int argc, char** argv) {
  double before = 0, painted = 0;
  TmainFrame* frame = startFrame(dir, argc, argv, before, painted);
  if (!frame) return 2;
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  std::printf("start: %d rows; first rows painted after %.0f ms; RSS grew %.1f MiB; peak RSS %.1f MiB\n",
              view->cache().rData().rowCount(), painted, rssNow() - before, rssPeak());
  endFrame(frame);
  return 0;
}

// A left click on the row shown in slot k, as the mouse gives it, and the
// repaint of every pane it changes; milliseconds.
double clickSlot(TmainFrame* frame, TreeMidPane* view, int k) {
  const int y = k * view->cache().getRowHt() + 2;
  const auto t0 = Clock::now();
  for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP}) {
    wxMouseEvent event(type);
    event.SetEventObject(view);
    event.m_x = 60, event.m_y = y;
    view->GetEventHandler()->ProcessEvent(event);
  }
  frame->Update();
  wxTheApp->ProcessPendingEvents();
  return msSince(t0);
}

// What one start with a sample file came to; filled in by the child process.
struct Toutcome {
  bool shown;  // rows painted
  double windowMs;
  int clicks;
  double slowestClickMs;
  int messages;
  bool outOfMemory;  // one of them said so
};

// Answers every message box at once, noting what it said.
class TanswerAndNote : public TanswerAll {
 public:
  explicit TanswerAndNote(Toutcome& out) : Fout(out) {}

 protected:
  int Enter(wxDialog* dialog) override {
    ++Fout.messages;
    if (auto* box = dynamic_cast<wxMessageDialog*>(dialog))
      Fout.outOfMemory |= box->GetMessage().Contains("not enough memory");
    return TanswerAll::Enter(dialog);
  }
  Toutcome& Fout;
};

// The start with dir/default.vkd, its memory capped as a user's
// `ulimit -v 2500000` would: the window, then a click on every row shown.
void startAndClick(const fs::path& dir, char** argv, Toutcome& out) {
  const rlimit cap{2500000ul << 10, 2500000ul << 10};
  setrlimit(RLIMIT_AS, &cap);
  TanswerAndNote answer(out);
  answer.Register();
  double before = 0;
  TmainFrame* frame = startFrame(dir, 1, argv, before, out.windowMs);
  if (!frame) return;
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  out.shown = !view->getPaintedRows().empty() && view->getPaintedRows()[0] >= 0;
  for (size_t k = 0; out.shown && k < view->getPaintedRows().size(); ++k) {
    if (view->getPaintedRows()[k] < 0) continue;
    out.slowestClickMs = std::max(out.slowestClickMs, clickSlot(frame, view, int(k)));
    ++out.clicks;
  }
  std::printf("  %d rows; window painted after %.0f ms; %d clicks, the slowest %.0f ms; peak RSS %.0f MiB\n",
              view->cache().rData().rowCount(), out.windowMs, out.clicks, out.slowestClickMs, rssPeak());
  endFrame(frame);
}

// One sample file as default.vkd of dir/name, started in a process of its
// own; false when the file could not be written or the process died.
bool runCase(const fs::path& dir, const char* name, const std::function<bool(const std::string&)>& write, char** argv,
             Toutcome& out) {
  const fs::path sub = dir / name;
  fs::create_directories(sub / "scripts");
  fs::copy_file(QX_SOURCE_DIR "/scripts/init.lua", sub / "scripts" / "init.lua", fs::copy_options::overwrite_existing);
  if (!write((sub / "default.vkd").string())) {
    std::fprintf(stderr, "cannot write %s\n", (sub / "default.vkd").c_str());
    return false;
  }
  std::printf("%s (%.0f KB):\n", name, fs::file_size(sub / "default.vkd") / 1024.0);
  std::fflush(stdout);
  void* shared = mmap(nullptr, sizeof(Toutcome), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return false;
  auto* result = new (shared) Toutcome{};
  const pid_t child = fork();
  if (child == 0) {
    startAndClick(sub, argv, *result);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  const bool ended = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  out = *result;
  munmap(shared, sizeof(Toutcome));
  if (!ended) std::printf("  the program died (status %d)\n", status);
  return ended;
}

struct Tcase {
  const char* name;
  std::function<bool(const std::string&)> write;
  bool outOfMemory;  // the file cannot be read within the memory cap
};

const Tcase HOSTILE[] = {
    {"descriptor-flood", [](const std::string& p) { return qxhostile::writeDescriptorFlood(p) > 0; }, false},
    {"huge-data-stage", [](const std::string& p) { return qxhostile::writeHugeDataStage(p, 300, 349000); }, false},
    {"million-child-transaction", [](const std::string& p) { return qxhostile::writeWideTransaction(p, 1000000); },
     false},
    {"tiny-rows-20M", [](const std::string& p) { return qxhostile::writeTinyRows(p, 20000000); }, true},
};

// The window shows, every row shown answers its click, the messages are the
// expected ones, and all within the limits.
bool judge(const Tcase& c, const Toutcome& o, double startLimit, double clickLimit) {
  bool ok = o.shown && o.clicks > 0;
  if (!ok) std::printf("  %s: no rows shown or no click answered\n", c.name);
  if (o.outOfMemory != c.outOfMemory || o.messages != (c.outOfMemory ? 1 : 0)) {
    std::printf("  %s: %d messages, %s the out-of-memory one\n", c.name, o.messages,
                o.outOfMemory ? "with" : "without");
    ok = false;
  }
  if (o.windowMs > startLimit || o.slowestClickMs > clickLimit) {
    std::printf("  %s: past the limits of %.0f ms to the window and %.0f ms a click\n", c.name, startLimit, clickLimit);
    ok = false;
  }
  return ok;
}

// Fixed limits: the exact timings, for a quiet machine.
int hostile(const fs::path& dir, double startLimit, double clickLimit, char** argv) {
  int failed = 0;
  for (const Tcase& c : HOSTILE) {
    Toutcome o{};
    failed += !(runCase(dir, c.name, c.write, argv, o) && judge(c, o, startLimit, clickLimit));
  }
  return failed ? 1 : 0;
}

// Limits relative to the bundled capture's start, measured before and after
// the hostile files (the slower counts), so that a busy machine slows the
// yardstick too; the floors hold when it was measured in a quiet moment. A
// file without its bounds took 44 s and more to start, and seconds a click.
constexpr double START_RATIO = 100, START_FLOOR_MS = 30000;
constexpr double CLICK_RATIO = 100, CLICK_FLOOR_MS = 2000;
constexpr double NO_LIMIT = std::numeric_limits<double>::infinity();

int bounded(const fs::path& dir, char** argv) {
  const auto bundled = [](const std::string& p) {
    std::error_code e;
    return fs::copy_file(QX_RUN_DIR "/default.vkd", p, fs::copy_options::overwrite_existing, e);
  };
  const Tcase base{"bundled-capture", bundled, false};
  Toutcome first{}, last{};
  if (!runCase(dir, base.name, base.write, argv, first) || !judge(base, first, NO_LIMIT, NO_LIMIT)) return 1;
  Toutcome seen[std::size(HOSTILE)]{};
  bool ran[std::size(HOSTILE)]{};
  for (size_t i = 0; i < std::size(HOSTILE); ++i)
    ran[i] = runCase(dir, HOSTILE[i].name, HOSTILE[i].write, argv, seen[i]);
  if (!runCase(dir, base.name, base.write, argv, last) || !judge(base, last, NO_LIMIT, NO_LIMIT)) return 1;
  const double startLimit = std::max(START_FLOOR_MS, START_RATIO * std::max(first.windowMs, last.windowMs));
  const double clickLimit = std::max(CLICK_FLOOR_MS, CLICK_RATIO * std::max(first.slowestClickMs, last.slowestClickMs));
  std::printf("limits: %.0f ms to the window, %.0f ms a click\n", startLimit, clickLimit);
  int failed = 0;
  for (size_t i = 0; i < std::size(HOSTILE); ++i)
    failed += !(ran[i] && judge(HOSTILE[i], seen[i], startLimit, clickLimit));
  std::printf("%s\n", failed ? "FAILED" : "every hostile file within its bounds");
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qx_bench_startup make|load|start|hostile|bounded <dir> [rows | startMs clickMs]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const fs::path dir = fs::absolute(argv[2]);
  if (mode == "make") return make(dir, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1000000);
  if (mode == "load") return load(dir);
  if (mode == "start") return start(dir, 1, argv);
  if (mode == "hostile")
    return hostile(dir, argc > 3 ? std::atof(argv[3]) : 3000, argc > 4 ? std::atof(argv[4]) : 500, argv);
  if (mode == "bounded") return bounded(dir, argv);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
