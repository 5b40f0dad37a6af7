#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qxcapture.h"
#include "vkrawevt.h"

namespace {

const std::vector<uint8_t> MAGIC = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};

// Decodes to the end, checking what must hold for any input: the decode
// ends, progress never goes back or past the buffer, rows are packet or
// reset rows in time order, and no payload is larger than a packet of a
// million line states can hold, whatever counts the bytes code.
size_t decodeChecked(const std::vector<uint8_t>& raw) {
  TrowVec rows;
  Tevents ev(raw);
  uint64_t progress = 0;
  uint64_t last = 0;
  size_t calls = 0;
  while (ev.getNextEvent(rows, progress)) {
    EXPECT_GE(progress, last);
    EXPECT_LE(progress, raw.size());
    last = progress;
    if (++calls > raw.size() * 6 + 8) {
      ADD_FAILURE() << "decode does not end";
      break;
    }
  }
  EXPECT_LE(progress, raw.size());
  uint64_t tick = 0;
  for (const TrowPtr& r : rows) {
    EXPECT_LE(static_cast<unsigned>(r->kind), static_cast<unsigned>(RK_HANDSHAKE));
    EXPECT_GE(r->tick, tick);
    tick = r->tick;
    if (r->kind == RK_DATA) {
      EXPECT_LE(static_cast<Tdata&>(*r).data.size(), (size_t(1) << 20) / 8);
    }
  }
  return rows.size();
}

// Random bytes behind the magic, from several distributions: uniform, mostly
// symbol bytes, mostly count bytes, mostly stray 111xxxxx bytes.
TEST(BadInput, RandomBytesAfterTheMagic) {
  std::mt19937 rng(2024);
  const uint8_t BIAS[][2] = {{0x00, 0xFF}, {0x00, 0x7F}, {0x80, 0xDF}, {0xE0, 0xFF}};
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> raw = MAGIC;
    const size_t n = rng() % 3000;
    const auto& bias = BIAS[round % 4];
    for (size_t i = 0; i < n; ++i) {
      const bool biased = rng() % 4 != 0;
      raw.push_back(biased ? static_cast<uint8_t>(bias[0] + rng() % (bias[1] - bias[0] + 1))
                           : static_cast<uint8_t>(rng()));
    }
    SCOPED_TRACE("round " + std::to_string(round));
    decodeChecked(raw);
  }
}

// Cutting a capture anywhere loses at most the row being cut: every row
// before it decodes as in the whole capture.
TEST(BadInput, TruncatedCaptures) {
  TrowVec rows = qxtest::randomRows(17, 60, qxtest::TrandomTraffic{true, true, 24, 3000, false});
  qxtest::TcaptureStyle style;
  style.coder.symbols = SF_MIXED;
  style.coder.counts = CF_MIXED;
  const std::vector<uint8_t> raw = qxtest::captureFromRows(rows, style);
  const TrowVec whole = qxtest::decodeCapture(raw);
  ASSERT_EQ(qxtest::rowsDiff(rows, whole), "");
  for (size_t len = 0; len <= raw.size(); ++len) {
    const std::vector<uint8_t> cut(raw.begin(), raw.begin() + static_cast<long>(len));
    const TrowVec got = qxtest::decodeCapture(cut);
    ASSERT_LE(got.size(), whole.size()) << len;
    for (size_t i = 0; i + 1 < got.size(); ++i)
      ASSERT_EQ(qxtest::rowDiff(*whole[i], *got[i]), "") << len << " row " << i;
    if (!got.empty()) {
      ASSERT_EQ(got.back()->kind, whole[got.size() - 1]->kind) << len;
      ASSERT_EQ(got.back()->tick, whole[got.size() - 1]->tick) << len;
    }
  }
}

TEST(BadInput, MissingOrDamagedMagic) {
  TrowVec rows = qxtest::randomRows(3, 40);
  std::vector<uint8_t> raw = qxtest::captureFromRows(rows);
  ASSERT_EQ(decodeChecked(raw), rows.size());
  for (size_t i = 0; i < MAGIC.size(); ++i) {
    std::vector<uint8_t> bad = raw;
    bad[i] = static_cast<uint8_t>(bad[i] + 1);
    EXPECT_EQ(decodeChecked(bad), 0u) << i;
  }
  const std::vector<uint8_t> stream(raw.begin() + 8, raw.end());
  EXPECT_EQ(decodeChecked(stream), 0u);
  EXPECT_EQ(decodeChecked({}), 0u);
  EXPECT_EQ(decodeChecked(MAGIC), 0u);
}

// Runs of the largest counts, inside and between packets: no overflow, no
// packet buffer of the run's size, and the decode goes on after them.
TEST(BadInput, HugeRuns) {
  std::vector<uint8_t> raw = MAGIC;
  const std::vector<uint8_t> maxCount = {0xBF, 0xDF, 0xDF, 0xDF, 0xDF, 0xC3};
  for (uint8_t sym : {0x3F, 0x00, 0x55, 0x6A, 0x40, 0x7F, 0x2A}) {
    raw.push_back(sym);
    raw.insert(raw.end(), maxCount.begin(), maxCount.end());
  }
  decodeChecked(raw);
  // A SYNC, then a J run of 2^31 ticks, an end of packet and a good ACK.
  std::vector<TlineEvent> ev = {linegen::lineState(LS_K, 1),   linegen::lineState(LS_J, 1),
                                linegen::lineState(LS_K, 1),   linegen::lineState(LS_J, 1),
                                linegen::lineState(LS_K, 2),   linegen::lineState(LS_J, 0x7FFFFFF0u),
                                linegen::lineState(LS_SE0, 2), linegen::idle(3),
                                linegen::handshake(PID_ACK, 5)};
  const TrowVec got = qxtest::decodeCapture(linegen::encodeCapture(ev));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->kind, RK_HANDSHAKE);
  EXPECT_EQ(got[0]->tick, 6u + 0x7FFFFFF0u + 2 + 3);
}

}  // namespace
