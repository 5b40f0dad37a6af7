#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "qxcapture.h"
#include "vkrawevt.h"

namespace {

struct Style {
  const char* name;
  TsymbolForm symbols;
  TcountForm counts;
  int syncLen;
  bool mixSync;
  bool glitches;
  unsigned filler;
};

const Style STYLES[] = {
    {"dense, compact counts", SF_DENSE, CF_COMPACT, 8, false, false, 0},
    {"three-state bytes", SF_TWOBIT, CF_COMPACT, 8, false, false, 2},
    {"mixed forms and counts", SF_MIXED, CF_MIXED, 8, false, false, 5},
    {"six-state SYNC", SF_DENSE, CF_MIXED, 6, false, false, 0},
    {"mixed SYNC and SE1 glitches", SF_MIXED, CF_MIXED, 8, true, true, 1},
    {"three-state, mixed SYNC, glitches", SF_TWOBIT, CF_MIXED, 8, true, true, 0},
};

qxtest::TcaptureStyle captureStyle(const Style& s, uint32_t seed) {
  qxtest::TcaptureStyle c;
  c.coder.symbols = s.symbols;
  c.coder.counts = s.counts;
  c.coder.filler = s.filler;
  c.coder.seed = seed;
  c.syncLen = s.syncLen;
  c.mixSync = s.mixSync;
  c.glitches = s.glitches;
  return c;
}

// Random traffic coded in every style decodes to the very rows it came
// from: fields, payloads, CRC values and verdicts, ticks and idles.
TEST(RoundTrip, RandomTrafficInEveryStyle) {
  for (const Style& s : STYLES) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
      SCOPED_TRACE(std::string(s.name) + ", seed " + std::to_string(seed));
      TrowVec rows = qxtest::randomRows(seed, 250);
      const std::vector<uint8_t> raw = qxtest::captureFromRows(rows, captureStyle(s, seed));
      ASSERT_EQ(qxtest::rowsDiff(rows, qxtest::decodeCapture(raw)), "");
    }
  }
}

// The traffic really holds what the round trip is meant to exercise.
TEST(RoundTrip, TrafficCoversStuffingCrcErrorsAndLongRuns) {
  TrowVec rows;
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    TrowVec r = qxtest::randomRows(seed, 250);
    rows.insert(rows.end(), r.begin(), r.end());
  }
  int stuffed = 0, badCrc = 0, resets = 0, longIdle = 0, sync6 = 0;
  for (const TrowPtr& r : rows) {
    if (r->kind == RK_RESET) {
      ++resets;
      continue;
    }
    auto& p = static_cast<TpacketBase&>(*r);
    longIdle += p.idle > 2047;
    if (r->kind == RK_DATA) {
      auto& d = static_cast<Tdata&>(*r);
      badCrc += !d.crcOK;
      if (std::search_n(d.data.begin(), d.data.end(), 2, 0xFF) != d.data.end()) ++stuffed;
    }
    if (r->kind == RK_TOKEN) badCrc += !static_cast<Ttoken&>(*r).crcOK;
  }
  const auto events = qxtest::eventsFromRows(rows, captureStyle(STYLES[4], 3));
  for (const auto& e : events) sync6 += e.kind == LE_PACKET && e.syncLen == 6;
  EXPECT_GT(stuffed, 20);
  EXPECT_GT(badCrc, 20);
  EXPECT_GT(resets, 20);
  EXPECT_GT(longIdle, 50);
  EXPECT_GT(sync6, 500);
}

// Row ticks come from the encoder's own count of line states; check one
// sequence against ticks worked by hand.
TEST(RoundTrip, TicksByHand) {
  auto reset = std::make_shared<Treset>();
  reset->duration = 30000;
  reset->idleTicks = 100;
  auto sof = std::make_shared<Tsof>();
  sof->pid = 5;
  sof->frame = 0x123;
  sof->idle = 40;
  auto ack = std::make_shared<Thandshake>();
  ack->pid = 2;
  ack->idle = 3;
  TrowVec rows = {reset, sof, ack};
  const auto raw = qxtest::captureFromRows(rows);
  const TrowVec got = qxtest::decodeCapture(raw);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0]->tick, 0u);
  EXPECT_EQ(got[1]->tick, 30100u);
  EXPECT_EQ(got[2]->tick, 30100u + 32 + 2 + 40);  // SOF 0xA5 0x23 0x61: no stuffed bit
  EXPECT_EQ(qxtest::rowsDiff(rows, got), "");
}

// The board writes the stream behind a magic of its own: the headerless
// stream is the headed one without the magic and filler.
TEST(RoundTrip, HeaderlessStreamForTheBoard) {
  TrowVec rows = qxtest::randomRows(99, 100);
  qxtest::TcaptureStyle headed;
  headed.coder.filler = 0;
  qxtest::TcaptureStyle bare = headed;
  bare.coder.header = false;
  TrowVec copy = rows;
  const auto a = qxtest::captureFromRows(rows, headed);
  const auto b = qxtest::captureFromRows(copy, bare);
  ASSERT_EQ(a.size(), b.size() + 8);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), a.begin() + 8));
  EXPECT_TRUE(qxtest::decodeCapture(b).empty());  // no magic, no rows
}

TEST(RoundTrip, GroupRowsGiveTheirChildren) {
  TrowVec leaves = qxtest::randomRows(5, 6, qxtest::TrandomTraffic{false, false, 8, 50, false});
  auto trx = std::make_shared<Ttransax>(TRX_IN);
  trx->children.assign(leaves.begin() + 1, leaves.begin() + 4);
  TrowVec tree = {leaves[0], trx, leaves[4], leaves[5]};
  const auto raw = qxtest::captureFromRows(tree);
  EXPECT_EQ(qxtest::rowsDiff(leaves, qxtest::decodeCapture(raw)), "");
}

TEST(DenseCapture, FullMemoryDecodesWhole) {
  const qxtest::TdenseCapture cap = qxtest::denseFullCapture(1);
  ASSERT_EQ(cap.raw.size(), 8 + qxtest::FULL_CAPTURE_BYTES);
  const TrowVec got = qxtest::decodeCapture(cap.raw);
  EXPECT_GT(got.size(), 2000u);
  EXPECT_EQ(qxtest::rowsDiff(cap.rows, got), "");
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QX_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define QX_SLOW_BUILD 1
#endif
#endif

#if !defined(QX_SLOW_BUILD) && defined(NDEBUG)
// CPU time of this thread: a loaded machine stretches wall time far more.
double threadMillis() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}
#endif

// A guard against pathological slowness only (a step gone quadratic, a
// buffer per run): the packet step of a full dense memory takes about 1 ms,
// and the speed target itself is qx_bench's to measure, as CI machines may
// be slow or loaded. Best of a few runs, optimised builds only.
TEST(DenseCapture, PacketStepIsNotPathologicallySlow) {
#if defined(QX_SLOW_BUILD) || !defined(NDEBUG)
  GTEST_SKIP() << "timing only in optimised builds without sanitizers";
#else
  const qxtest::TdenseCapture cap = qxtest::denseFullCapture(2);
  double best = 1e9;
  size_t rows = 0;
  for (int i = 0; i < 3; ++i) {
    TrowVec events;
    const double t0 = threadMillis();
    Tevents ev(cap.raw);
    uint64_t position = 0;
    while (ev.getNextEvent(events, position)) {
    }
    best = std::min(best, threadMillis() - t0);
    rows = events.size();
  }
  EXPECT_EQ(rows, cap.rows.size());
  RecordProperty("best_ms", std::to_string(best));
  EXPECT_LT(best, 100.0) << "packet step of a full dense capture took " << best << " ms";
#endif
}

}  // namespace
