// Engine benchmarks: a full 128 KiB capture through the three decode steps
// (dense bulk traffic and sparse enumeration traffic), and saving and loading
// a sample file of a million display rows against zcat and gzip -6, with the
// heap high-water mark against the size of the rows held in memory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "lineencoder.h"
#include "vkboard.h"
#include "vkdataio.h"
#include "vkrawgrp.h"
#include "vkrowutils.h"

// Heap accounting for the memory figures: requested bytes in use and their
// peak, kept in a header before each block. Counting is switched on only for
// the measuring runs, so the timed runs pay no more than the header.
namespace {
constexpr size_t HEAP_HEADER = 16;
bool gCounting = false;  // the benchmarks run on one thread
int64_t gHeapNow = 0;
int64_t gHeapPeak = 0;

struct TheapMeter {
  TheapMeter() {
    gHeapNow = 0;
    gHeapPeak = 0;
    gCounting = true;
  }
  ~TheapMeter() { gCounting = false; }
};
}  // namespace

void* operator new(size_t n) {
  auto* p = static_cast<char*>(std::malloc(n + HEAP_HEADER));
  if (!p) throw std::bad_alloc();
  auto* head = reinterpret_cast<int64_t*>(p);
  head[0] = gCounting ? static_cast<int64_t>(n) : -1;
  if (gCounting) {
    gHeapNow += static_cast<int64_t>(n);
    if (gHeapNow > gHeapPeak) gHeapPeak = gHeapNow;
  }
  return p + HEAP_HEADER;
}
__attribute__((noinline)) void operator delete(void* q) noexcept {
  if (!q) return;
  char* p = static_cast<char*>(q) - HEAP_HEADER;
  const int64_t n = reinterpret_cast<int64_t*>(p)[0];
  if (n >= 0 && gCounting) gHeapNow -= n;
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

namespace fs = std::filesystem;

constexpr size_t CAPTURE_BYTES = kelvo::MAX_CAPTURE;
constexpr size_t SAMPLE_ROWS = 1000000;
constexpr uint32_t FRAME_TICKS = 12000;  // 1 ms at full speed

std::vector<uint8_t> payload(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> p(n);
  for (auto& b : p) b = static_cast<uint8_t>(rng());
  return p;
}

// Cuts the coded stream where the board's memory would be full.
std::vector<uint8_t> finish(TlineEncoder& enc) {
  enc.flush();
  std::vector<uint8_t> raw = enc.takeBytes();
  raw.resize(CAPTURE_BYTES);
  return raw;
}

// Bulk traffic back to back: SOF, then IN and OUT transactions with 64-byte
// payloads and their handshakes, with the shortest idle gaps.
std::vector<uint8_t> denseCapture() {
  std::mt19937 rng(11);
  TlineEncoder enc;
  enc.add(linegen::idle(16));
  int frame = 0;
  while (enc.coder().bytesCoded() < CAPTURE_BYTES + 64) {
    enc.add(linegen::sof(frame++ & 0x7FF, 4));
    for (int i = 0; i < 6; ++i) {
      enc.add(linegen::token(PID_IN, 3, 1, 2));
      enc.add(linegen::data(i & 1 ? PID_DATA1 : PID_DATA0, payload(rng, 64), 2));
      enc.add(linegen::handshake(PID_ACK, 2));
      enc.add(linegen::token(PID_OUT, 3, 2, 2));
      enc.add(linegen::data(i & 1 ? PID_DATA1 : PID_DATA0, payload(rng, 64), 2));
      enc.add(linegen::handshake(i == 5 ? PID_NAK : PID_ACK, 2));
    }
  }
  return finish(enc);
}

// Enumeration: reset, then SOF every millisecond, with control transfers
// (GET_DESCRIPTOR, SET_ADDRESS, SET_CONFIGURATION) answered by NAKs and data
// spread over the frames, and many empty frames between them.
std::vector<uint8_t> sparseCapture() {
  std::mt19937 rng(5);
  TlineEncoder enc;
  enc.add(linegen::idle(100));
  enc.add(linegen::reset(120000, 200));
  uint64_t frameStart = enc.tick();
  int frame = 0;
  int step = 0;
  const std::vector<uint8_t> getDevice = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};
  const std::vector<uint8_t> setAddress = {0x00, 0x05, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00};
  while (enc.coder().bytesCoded() < CAPTURE_BYTES + 64) {
    enc.add(linegen::sof(frame++ & 0x7FF, 20));
    switch (step++ % 12) {
      case 0:
        enc.add({linegen::token(PID_SETUP, 0, 0, 6), linegen::data(PID_DATA0, getDevice, 10),
                 linegen::handshake(PID_ACK, 30)});
        break;
      case 1: enc.add({linegen::token(PID_IN, 0, 0, 6), linegen::handshake(PID_NAK, 30)}); break;
      case 2:
        enc.add({linegen::token(PID_IN, 0, 0, 6), linegen::data(PID_DATA1, payload(rng, 8), 10),
                 linegen::handshake(PID_ACK, 30), linegen::token(PID_IN, 0, 0, 6),
                 linegen::data(PID_DATA0, payload(rng, 8), 10), linegen::handshake(PID_ACK, 30)});
        break;
      case 3:
        enc.add({linegen::token(PID_OUT, 0, 0, 6), linegen::data(PID_DATA1, {}, 10), linegen::handshake(PID_ACK, 30)});
        break;
      case 6:
        enc.add({linegen::token(PID_SETUP, 0, 0, 6), linegen::data(PID_DATA0, setAddress, 10),
                 linegen::handshake(PID_ACK, 30), linegen::token(PID_IN, 0, 0, 6), linegen::data(PID_DATA1, {}, 10),
                 linegen::handshake(PID_ACK, 30)});
        break;
      default: break;  // an empty frame: only the SOF
    }
    frameStart += FRAME_TICKS;
    if (enc.tick() < frameStart) enc.add(linegen::idle(static_cast<uint32_t>(frameStart - enc.tick())));
  }
  return finish(enc);
}

struct Tdecoded {
  TrowVecPtr events = std::make_shared<TrowVec>();
  TrowVecPtr roots = std::make_shared<TrowVec>();
  TlinVecPtr rows = std::make_shared<TlinVec>();
};

void decodeAll(const std::vector<uint8_t>& raw, Tdecoded& out) {
  TdataIO io;
  io.rawDataToEventVec(raw, out.events, [](uint64_t) {});
  io.eventVecToTreeRootVec(out.events, out.roots);
  io.treeRootVecToLinVec(out.roots, out.rows);
}

void runDecode(benchmark::State& state, const std::vector<uint8_t>& raw) {
  Tdecoded out;
  for (auto _ : state) {
    decodeAll(raw, out);
    benchmark::DoNotOptimize(out.rows->data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
  state.counters["rows"] = static_cast<double>(out.rows->size());
  state.counters["packets"] = static_cast<double>(out.events->size());
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(out.rows->size() * state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeDense(benchmark::State& state) {
  static const std::vector<uint8_t> raw = denseCapture();
  runDecode(state, raw);
}
BENCHMARK(BM_DecodeDense)->Unit(benchmark::kMicrosecond);

// Steps 2 and 3 alone (grouping and flattening) on the dense capture's packets.
void BM_GroupFlattenDense(benchmark::State& state) {
  static const std::vector<uint8_t> raw = denseCapture();
  Tdecoded out;
  decodeAll(raw, out);
  for (auto _ : state) {
    TdataIO io;
    io.eventVecToTreeRootVec(out.events, out.roots);
    io.treeRootVecToLinVec(out.roots, out.rows);
    benchmark::DoNotOptimize(out.rows->data());
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(out.rows->size() * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GroupFlattenDense)->Unit(benchmark::kMicrosecond);

void BM_DecodeSparse(benchmark::State& state) {
  static const std::vector<uint8_t> raw = sparseCapture();
  runDecode(state, raw);
}
BENCHMARK(BM_DecodeSparse)->Unit(benchmark::kMicrosecond);

// ---- sample files of a million display rows ----

template <class T>
std::shared_ptr<T> packet(int pid, uint64_t& tick, uint32_t idle) {
  auto p = std::make_shared<T>();
  p->pid = pid;
  p->tick = tick;
  p->idle = idle;
  tick += 40 + idle;
  return p;
}

// Packet rows of a busy full-speed bus: runs of idle frames, bulk IN/OUT,
// polls answered by NAK, and control transfers, then grouped and flattened.
Tdecoded sampleRows() {
  std::mt19937 rng(3);
  auto events = std::make_shared<TrowVec>();
  uint64_t tick = 1000;
  int frame = 0;
  auto sof = [&] {
    auto s = packet<Tsof>(PID_SOF, tick, 20);
    s->frame = frame++ & 0x7FF;
    s->crc5 = static_cast<int>(rng() & 31);
    events->push_back(s);
  };
  auto token = [&](int pid, int addr, int endp) {
    auto t = packet<Ttoken>(pid, tick, 4);
    t->addr = addr;
    t->endp = endp;
    t->crc5 = static_cast<int>(rng() & 31);
    events->push_back(t);
  };
  auto data = [&](int pid, size_t n) {
    auto d = packet<Tdata>(pid, tick, 6);
    d->data = payload(rng, n);
    d->crc16 = static_cast<int>(rng() & 0xFFFF);
    tick += n * 8;
    events->push_back(d);
  };
  auto hs = [&](int pid) { events->push_back(packet<Thandshake>(pid, tick, 30)); };

  while (events->size() < SAMPLE_ROWS) {
    const unsigned pick = rng() % 10;
    sof();
    if (pick < 3) {
      for (unsigned i = 0, n = 2 + rng() % 20; i < n; ++i) sof();  // idle frames
    } else if (pick < 6) {
      token(PID_IN, 4, 1);
      data(PID_DATA0, 64);
      hs(PID_ACK);
      token(PID_OUT, 4, 2);
      data(PID_DATA1, 64);
      hs(PID_ACK);
    } else if (pick < 8) {
      token(PID_IN, 4, 3);
      hs(PID_NAK);
      token(PID_IN, 4, 3);
      data(PID_DATA0, 1 + rng() % 8);
      hs(PID_ACK);
    } else {
      token(PID_SETUP, 4, 0);
      data(PID_DATA0, 8);
      hs(PID_ACK);
      token(PID_IN, 4, 0);
      hs(PID_NAK);
      token(PID_IN, 4, 0);
      data(PID_DATA1, 18);
      hs(PID_ACK);
      token(PID_OUT, 4, 0);
      data(PID_DATA1, 0);
      hs(PID_ACK);
    }
    if (rng() % 500 == 0) {
      auto r = std::make_shared<Treset>();
      r->tick = tick;
      r->duration = 120000;
      r->idleTicks = 200;
      tick += 120200;
      events->push_back(r);
    }
  }
  Tdecoded out;
  out.events = events;
  TdataIO io;
  io.eventVecToTreeRootVec(out.events, out.roots);
  io.treeRootVecToLinVec(out.roots, out.rows);
  if (out.rows->size() < SAMPLE_ROWS) std::abort();
  out.rows->erase(out.rows->begin() + SAMPLE_ROWS, out.rows->end());
  return out;
}

double seconds(const std::chrono::steady_clock::time_point& from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Best of a few runs of a shell command, in seconds.
double timeCommand(const std::string& command) {
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    best = std::min(best, seconds(start));
  }
  return best;
}

struct TsampleFiles {
  std::string dir;
  std::string vkd;
  std::string body;
  Tdecoded rows;
  int64_t rowBytes = 0;  // heap held by the tree and the display rows
  TsampleFiles() {
    char templ[] = "/tmp/qx_bench_XXXXXX";
    dir = mkdtemp(templ);
    vkd = dir + "/sample.vkd";
    body = dir + "/body.txt";
    {
      TheapMeter meter;
      rows = sampleRows();
      rows.events.reset();  // the tree and the list hold the rows, as after a load
      rowBytes = gHeapNow;
    }
    TdataIO().saveLinearToFile(rows.rows, vkd);
    // The uncompressed content, for gzip -6.
    FILE* f = std::fopen(body.c_str(), "wb");
    std::string text = "VKFMT01\n0\n";
    for (const auto& r : *rows.rows) text += rowutils::toString(r.row);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  ~TsampleFiles() { fs::remove_all(dir); }
};

TsampleFiles& files() {
  static TsampleFiles f;
  return f;
}

void BM_SaveSampleFile(benchmark::State& state) {
  TsampleFiles& f = files();
  const std::string out = f.dir + "/saved.vkd";
  double best = 1e9;
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int n = TdataIO().saveLinearToFile(f.rows.rows, out);
    best = std::min(best, seconds(start));
    total += seconds(start);
    if (n != static_cast<int>(SAMPLE_ROWS)) state.SkipWithError("save failed");
  }
  int64_t peakExtra = 0;
  {
    TheapMeter meter;
    TdataIO().saveLinearToFile(f.rows.rows, out);
    peakExtra = gHeapPeak;
  }
  const double gzipTime = timeCommand("gzip -6 -c " + f.body + " > " + f.dir + "/gzip6.gz");
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(SAMPLE_ROWS * state.iterations()), benchmark::Counter::kIsRate);
  state.counters["best_s"] = best;
  state.counters["gzip6_s"] = gzipTime;
  state.counters["save/gzip6"] = best / gzipTime;
  state.counters["mean_s"] = total / static_cast<double>(state.iterations());
  state.counters["rows_MB"] = static_cast<double>(f.rowBytes) / 1e6;
  state.counters["peak/rows"] = static_cast<double>(f.rowBytes + peakExtra) / static_cast<double>(f.rowBytes);
  state.counters["file_MB"] = static_cast<double>(fs::file_size(out)) / 1e6;
}
BENCHMARK(BM_SaveSampleFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LoadSampleFile(benchmark::State& state) {
  TsampleFiles& f = files();
  double best = 1e9;
  double total = 0;
  for (auto _ : state) {
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    const auto start = std::chrono::steady_clock::now();
    const int n = TdataIO().loadLinearFile(f.vkd, roots, rows);
    best = std::min(best, seconds(start));
    total += seconds(start);
    if (n != static_cast<int>(SAMPLE_ROWS) || rows->size() != SAMPLE_ROWS) state.SkipWithError("load failed");
    state.PauseTiming();
    roots.reset();
    rows.reset();
    state.ResumeTiming();
  }
  int64_t peak = 0;
  int64_t held = 0;
  {
    TheapMeter meter;
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO().loadLinearFile(f.vkd, roots, rows);
    held = gHeapNow;
    peak = gHeapPeak;
  }
  const double zcatTime = timeCommand("zcat " + f.vkd + " > /dev/null");
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(SAMPLE_ROWS * state.iterations()), benchmark::Counter::kIsRate);
  state.counters["best_s"] = best;
  state.counters["zcat_s"] = zcatTime;
  state.counters["load/zcat"] = best / zcatTime;
  state.counters["mean_s"] = total / static_cast<double>(state.iterations());
  state.counters["rows_MB"] = static_cast<double>(held) / 1e6;
  state.counters["peak/rows"] = static_cast<double>(peak) / static_cast<double>(held);
}
BENCHMARK(BM_LoadSampleFile)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
