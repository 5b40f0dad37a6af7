// Display benchmarks on a million display rows (the simulated board's
// enumeration scenario, captured many times over, with one run of 100,000
// hidden SOF rows in the middle): a toggle's re-filter as the row view does
// it, the nearest shown row from inside the hidden run, and one screenful of
// row bitmaps with their Lua decode texts from an empty cache. Needs a
// display (run under xvfb-run) and the source tree's scripts/init.lua.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kelvosim.h"
#include "vkdataio.h"
#include "vkrcache.h"

namespace {

constexpr int WANTED_ROWS = 1000000;
constexpr int HIDDEN_RUN = 100000;
constexpr int SCREEN_ROWS = 40;
constexpr int SCREEN_WIDTH = 1400;

struct TbenchData {
  TrowVecPtr roots = std::make_shared<TrowVec>();
  TlinVecPtr rows = std::make_shared<TlinVec>();
  int hiddenStart = 0;
};

TlinVecPtr flatten(const TrowVecPtr& roots) {
  auto rows = std::make_shared<TlinVec>();
  TdataIO().treeRootVecToLinVec(roots, rows);
  return rows;
}

TrowVecPtr decode(const std::vector<uint8_t>& stream, size_t copies) {
  static const char MAGIC[] = "VARNOKE.";
  std::vector<uint8_t> raw(8 + stream.size() * copies);
  std::memcpy(raw.data(), MAGIC, 8);
  for (size_t i = 0; i < copies; ++i) std::memcpy(raw.data() + 8 + i * stream.size(), stream.data(), stream.size());
  auto events = std::make_shared<TrowVec>();
  auto roots = std::make_shared<TrowVec>();
  TdataIO io;
  io.rawDataToEventVec(raw, events, nullptr);
  io.eventVecToTreeRootVec(events, roots);
  return roots;
}

TbenchData& benchData() {
  static TbenchData data = [] {
    TbenchData d;
    const std::vector<uint8_t> stream = kelvosim::scenarioStream();
    const size_t once = flatten(decode(stream, 1))->size();
    const size_t copies = (WANTED_ROWS - HIDDEN_RUN + once - 1) / once;
    d.roots = decode(stream, copies);
    auto run = std::make_shared<TsofGroup>();
    for (int i = 1; i < HIDDEN_RUN; ++i) run->children.push_back(std::make_shared<Tsof>());
    for (const TrowPtr& s : run->children) s->level = 1;
    d.roots->insert(d.roots->begin() + static_cast<long>(d.roots->size() / 2), run);
    d.rows = flatten(d.roots);
    d.hiddenStart = run->handle;
    std::fprintf(stderr, "data set: %zu display rows (%zu per scenario capture, %zu captures), hidden run at %d\n",
                 d.rows->size(), once, copies, d.hiddenStart);
    return d;
  }();
  return data;
}

// One row cache for all runs, built in the source tree so that it finds scripts/init.lua.
TrowCache& cache() {
  static TrowCache* c = [] {
    const char* here = getcwd(nullptr, 0);
    if (chdir(QX_SOURCE_DIR) != 0) std::perror("chdir");
    auto* made = new TrowCache();
    if (here && chdir(here) != 0) std::perror("chdir");
    std::free(const_cast<char*>(here));
    made->rData().adopt(benchData().rows, benchData().roots);
    return made;
  }();
  return *c;
}

// Flip the packet toggle, then what the row view does on topic 4.
void BM_ToggleRefilter(benchmark::State& state) {
  TdisplData& d = cache().rData();
  int top = d.rowCount() * 7 / 10;
  for (auto _ : state) {
    _G.showPackets = !_G.showPackets;
    d.resetVisibleRows();
    top = std::max(0, d.nearestVisibleRow(top));
    int last = d.prevVisibleRow(d.rowCount() - 1);
    for (int i = 0; i < 5; ++i) last = d.prevVisibleRow(last);
    benchmark::DoNotOptimize(std::max(last, 10));
  }
  _G.showPackets = true;
  state.counters["rows"] = d.rowCount();
}
BENCHMARK(BM_ToggleRefilter)->Unit(benchmark::kMillisecond);

// From the middle of the hidden run, with the filter forgotten each time.
void BM_NearestInHiddenRun(benchmark::State& state) {
  TdisplData& d = cache().rData();
  const int from = benchData().hiddenStart + HIDDEN_RUN / 2;
  for (auto _ : state) {
    d.resetVisibleRows();
    benchmark::DoNotOptimize(d.nearestVisibleRow(from));
  }
}
BENCHMARK(BM_NearestInHiddenRun)->Unit(benchmark::kMillisecond);

// 40 rows at 1,400 pixels from an empty cache: boxes, bitmaps and decode texts.
void BM_Screenful(benchmark::State& state) {
  TrowCache& c = cache();
  TdisplData& d = c.rData();
  d.resetVisibleRows();
  const int top = d.nearestVisibleRow(d.rowCount() / 3);
  size_t decodeBytes = 0;
  for (auto _ : state) {
    c.invalidateAll();
    int row = top, w = 0, h = 0;
    for (int i = 0; i < SCREEN_ROWS && row >= 0; ++i, row = d.nextVisibleRow(row)) {
      benchmark::DoNotOptimize(c.getRowBitmap(row, SCREEN_WIDTH, w, h));
      decodeBytes += c.getRowDecode(row).size();
    }
  }
  state.counters["decodeBytesPerScreen"] = static_cast<double>(decodeBytes) / state.iterations();
}
BENCHMARK(BM_Screenful)->Unit(benchmark::kMillisecond);

// As BM_Screenful, but each screenful is the next one down, so that its
// numbers and values are new texts, as when the user pages through a capture.
void BM_ScreenfulPaging(benchmark::State& state) {
  TrowCache& c = cache();
  TdisplData& d = c.rData();
  d.resetVisibleRows();
  const int start = d.nearestVisibleRow(d.rowCount() / 3);
  int top = start;
  for (auto _ : state) {
    c.invalidateAll();
    int row = top, w = 0, h = 0;
    for (int i = 0; i < SCREEN_ROWS && row >= 0; ++i, row = d.nextVisibleRow(row))
      benchmark::DoNotOptimize(c.getRowBitmap(row, SCREEN_WIDTH, w, h));
    top = row >= 0 ? row : start;
  }
}
BENCHMARK(BM_ScreenfulPaging)->Unit(benchmark::kMillisecond);

// The share of the screenful spent in Lua and in building the boxes.
void BM_ScreenfulDecodeAndBoxes(benchmark::State& state) {
  TdisplData& d = cache().rData();
  d.resetVisibleRows();
  const int top = d.nearestVisibleRow(d.rowCount() / 3);
  for (auto _ : state) {
    int row = top;
    for (int i = 0; i < SCREEN_ROWS && row >= 0; ++i, row = d.nextVisibleRow(row)) {
      benchmark::DoNotOptimize(d.genRowDecode(row));
      benchmark::DoNotOptimize(d.genRowBoxes(row)->size());
    }
  }
}
BENCHMARK(BM_ScreenfulDecodeAndBoxes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  int wxArgc = 1;
  char name[] = "qx_bench_display";
  char* wxArgv[] = {name, nullptr};
  wxApp::SetInstance(new wxApp());
  if (!wxEntryStart(wxArgc, wxArgv)) {
    std::fprintf(stderr, "no display: run under xvfb-run\n");
    return 2;
  }
  wxTheApp->CallOnInit();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  wxEntryCleanup();
  return 0;
}
