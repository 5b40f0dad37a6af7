// Start-up with a large default capture: how long from start to the first
// painted row view, against loading the same sample file alone, and how much
// memory each takes. Each measurement runs in a process of its own.
//   qx_bench_startup make  <dir> [rows]   writes <dir>/default.vkd (>= rows
//                                         display rows) and <dir>/scripts
//   qx_bench_startup load  <dir>          loads <dir>/default.vkd alone
//   qx_bench_startup start <dir>          starts the main window in <dir>
// The start needs a display (xvfb-run -a -s "-screen 0 1920x1080x24").
#include <sys/resource.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

int start(const fs::path& dir, int argc, char** argv) {
  fs::current_path(dir);
  wxApp::SetInstance(new wxApp());
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "no display: run under xvfb-run\n");
    return 2;
  }
  wxTheApp->CallOnInit();
  auto* loop = new wxGUIEventLoop();
  wxEventLoopBase::SetActive(loop);
  const double before = rssNow();

  const auto t0 = Clock::now();
  TmainFrame* frame = startQuellix();
  const double built = msSince(t0);
  TreeMidPane* view = frame->midPanePtr->treePane->midPane;
  while (view->getPaintedRows().empty() || view->getPaintedRows()[0] < 0) {
    wxTheApp->ProcessPendingEvents();
    wxYield();
    if (msSince(t0) > 120000) break;
  }
  const double painted = msSince(t0);
  std::printf(
      "start: %d rows; frame built (file loaded) in %.0f ms, first rows painted after %.0f ms; "
      "RSS grew %.1f MiB; peak RSS %.1f MiB\n",
      view->cache().rData().rowCount(), built, painted, rssNow() - before, rssPeak());
  frame->Destroy();
  wxTheApp->ProcessPendingEvents();
  wxEventLoopBase::SetActive(nullptr);
  delete loop;
  wxEntryCleanup();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qx_bench_startup make|load|start <dir> [rows]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const fs::path dir = fs::absolute(argv[2]);
  if (mode == "make") return make(dir, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1000000);
  if (mode == "load") return load(dir);
  if (mode == "start") return start(dir, 1, argv);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
