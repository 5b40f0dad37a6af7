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
// The start needs a display (xvfb-run -a -s "-screen 0 1920x1080x24").
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/modalhook.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
    if (msSince(t0) > 120000) break;
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

// One hostile file in a process of its own, its memory capped as a user's
// `ulimit -v 2500000` would; 0 when it kept within the limits.
int hostileOne(const fs::path& dir, double startLimit, double clickLimit, char** argv) {
  const rlimit cap{2500000ul << 10, 2500000ul << 10};
  setrlimit(RLIMIT_AS, &cap);
  TanswerAll answer;
  answer.Register();
  double before = 0, painted = 0;
  TmainFrame* frame = startFrame(dir, 1, argv, before, painted);
  if (!frame) return 2;
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  double slowest = 0;
  int clicks = 0;
  for (size_t k = 0; k < view->getPaintedRows().size(); ++k) {
    if (view->getPaintedRows()[k] < 0) continue;
    slowest = std::max(slowest, clickSlot(frame, view, int(k)));
    ++clicks;
  }
  std::printf("  %d rows; window painted after %.0f ms; %d clicks, the slowest %.0f ms; peak RSS %.0f MiB\n",
              view->cache().rData().rowCount(), painted, clicks, slowest, rssPeak());
  endFrame(frame);
  return painted <= startLimit && slowest <= clickLimit ? 0 : 1;
}

int hostile(const fs::path& dir, double startLimit, double clickLimit, char** argv) {
  const std::pair<const char*, std::function<bool(const std::string&)>> kinds[] = {
      {"descriptor-flood", [](const std::string& p) { return qxhostile::writeDescriptorFlood(p) > 0; }},
      {"huge-data-stage", [](const std::string& p) { return qxhostile::writeHugeDataStage(p, 300, 349000); }},
      {"million-child-transaction", [](const std::string& p) { return qxhostile::writeWideTransaction(p, 1000000); }},
      {"tiny-rows-20M", [](const std::string& p) { return qxhostile::writeTinyRows(p, 20000000); }},
  };
  int failed = 0;
  for (const auto& [name, write] : kinds) {
    const fs::path sub = dir / name;
    fs::create_directories(sub / "scripts");
    fs::copy_file(QX_SOURCE_DIR "/scripts/init.lua", sub / "scripts" / "init.lua",
                  fs::copy_options::overwrite_existing);
    if (!write((sub / "default.vkd").string())) {
      std::fprintf(stderr, "cannot write %s\n", (sub / "default.vkd").c_str());
      return 2;
    }
    std::printf("%s (%.0f KB):\n", name, fs::file_size(sub / "default.vkd") / 1024.0);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      const int rc = hostileOne(sub, startLimit, clickLimit, argv);
      std::fflush(stdout);
      _exit(rc);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) std::printf("  past the limits of %.0f ms to the window and %.0f ms a click\n", startLimit, clickLimit);
    failed += !ok;
  }
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qx_bench_startup make|load|start|hostile <dir> [rows | startMs clickMs]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const fs::path dir = fs::absolute(argv[2]);
  if (mode == "make") return make(dir, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1000000);
  if (mode == "load") return load(dir);
  if (mode == "start") return start(dir, 1, argv);
  if (mode == "hostile")
    return hostile(dir, argc > 3 ? std::atof(argv[3]) : 3000, argc > 4 ? std::atof(argv[4]) : 500, argv);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
