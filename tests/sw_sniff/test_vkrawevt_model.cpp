// The packet decoder against a plain model of its rules: the model takes the
// runs one by one from the reader, keeps one byte a state, and does NRZI and
// unstuffing a bit at a time, with the bitwise CRCs of the line encoder. The
// decoder's bulk paths (whole bytes of K and J, counts, long runs, the rest
// of a byte after a packet's first K) must give the same rows and progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "linepacket.h"
#include "qxcapture.h"
#include "vkrawevt.h"
#include "vkutils.h"

namespace {

const std::vector<uint8_t> MAGIC = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};

// The decoder passes over packets of more line states than this.
constexpr size_t MAX_STATES = size_t(1) << 20;

struct Tdecoded {
  TrowVec rows;
  std::vector<uint64_t> progress;
};

TrowPtr modelRow(const std::vector<uint8_t>& b, uint64_t tick, uint32_t idle) {
  const int pid = b[0] & 15;
  const size_t n = b.size();
  const unsigned v = (n > 1 ? b[1] : 0u) | (n > 2 ? b[2] : 0u) << 8;
  const bool crc5OK = linegen::crc5(v & 0x7FFu) == (v >> 11);
  std::shared_ptr<TpacketBase> p;
  switch (utils::packetType(pid)) {
    case L0_DATA: {
      auto d = std::make_shared<Tdata>();
      if (n > 2) {
        d->crc16 = b[n - 2] | b[n - 1] << 8;
        d->crcOK = linegen::crc16(b.data() + 1, n - 3) == d->crc16;
      }
      if (n > 3) d->data.assign(b.begin() + 1, b.end() - 2);
      p = d;
      break;
    }
    case L0_TOKEN: {
      auto t = std::make_shared<Ttoken>();
      t->addr = static_cast<int>(v & 127u);
      t->endp = static_cast<int>((v >> 7) & 15u);
      t->crc5 = static_cast<int>(v >> 11);
      t->crcOK = crc5OK;
      p = t;
      break;
    }
    case L0_SOF: {
      auto s = std::make_shared<Tsof>();
      s->frame = static_cast<int>(v & 0x7FFu);
      s->crc5 = static_cast<int>(v >> 11);
      s->crcOK = crc5OK;
      p = s;
      break;
    }
    case L0_HANDSHAKE: p = std::make_shared<Thandshake>(); break;
    default: return nullptr;
  }
  p->tick = tick;
  p->pid = pid;
  p->idle = idle;
  return p;
}

// False when the data end inside the packet.
bool modelPacket(Traw& reader, const TrawItem& firstK, TrowVec& rows) {
  std::vector<uint8_t> st;  // 0 K, 1 J
  size_t total = static_cast<size_t>(firstK.count);
  if (total <= MAX_STATES) st.assign(total, 0);
  TrawItem item;
  for (;;) {
    if (!reader.getItem(item)) return false;
    if (item.val == 0) break;
    const size_t len = item.val == 3 ? 1 : static_cast<size_t>(item.count);
    total += len;
    if (total <= MAX_STATES) st.insert(st.end(), len, item.val == 1 ? 0 : 1);
  }
  if (!reader.getItem(item)) return false;  // the idle after the end of packet
  if (total > MAX_STATES || st.size() < 8) return true;
  const uint8_t sync8[] = {0, 1, 0, 1, 0, 1, 0, 0};
  size_t p = 0;
  if (std::equal(sync8, sync8 + 8, st.begin()))
    p = 8;
  else if (std::equal(sync8 + 2, sync8 + 8, st.begin()))
    p = 6;
  else
    return true;
  std::vector<uint8_t> bytes;
  unsigned acc = 0, nbits = 0, ones = 0, previous = 0;
  for (size_t i = p; i < st.size(); ++i) {
    const unsigned bit = 1u - (st[i] ^ previous);
    previous = st[i];
    if (ones == 6) {
      ones = 0;
      continue;
    }
    ones = bit ? ones + 1 : 0;
    acc |= bit << nbits;
    if (++nbits == 8) {
      bytes.push_back(static_cast<uint8_t>(acc));
      acc = nbits = 0;
    }
  }
  if (bytes.empty()) return true;
  if (TrowPtr row = modelRow(bytes, firstK.strt, static_cast<uint32_t>(item.count))) rows.push_back(row);
  return true;
}

Tdecoded modelDecode(const std::vector<uint8_t>& raw) {
  Tdecoded out;
  Traw reader(raw);
  TrawItem item;
  while (reader.getItem(item)) {
    if (item.val == 0) {
      TrawItem next;
      if (!reader.getItem(next)) break;
      auto r = std::make_shared<Treset>();
      r->tick = item.strt;
      r->duration = static_cast<uint32_t>(item.count);
      r->idleTicks = static_cast<uint32_t>(next.count);
      out.rows.push_back(r);
    } else if (item.val == 1 && !modelPacket(reader, item, out.rows)) {
      break;
    }
    out.progress.push_back(reader.getRawDataIx());
  }
  return out;
}

void expectLikeModel(const std::vector<uint8_t>& raw, const std::string& what) {
  SCOPED_TRACE(what);
  const Tdecoded want = modelDecode(raw);
  Tdecoded got;
  got.rows = qxtest::decodeCapture(raw, &got.progress);
  ASSERT_EQ(qxtest::rowsDiff(want.rows, got.rows), "");
  ASSERT_EQ(want.progress, got.progress);
}

std::vector<std::vector<uint8_t>> styledCaptures() {
  std::vector<std::vector<uint8_t>> caps;
  uint32_t seed = 1;
  for (TsymbolForm symbols : {SF_DENSE, SF_TWOBIT, SF_MIXED})
    for (TcountForm counts : {CF_COMPACT, CF_MIXED})
      for (bool glitches : {false, true}) {
        qxtest::TcaptureStyle style;
        style.coder.symbols = symbols;
        style.coder.counts = counts;
        style.coder.seed = seed;
        style.coder.filler = seed % 3;
        style.mixSync = glitches;
        style.glitches = glitches;
        TrowVec rows = qxtest::randomRows(seed++, 120);
        caps.push_back(qxtest::captureFromRows(rows, style));
      }
  return caps;
}

TEST(DecoderModel, CapturesInEveryStyle) {
  int i = 0;
  for (const auto& raw : styledCaptures()) expectLikeModel(raw, "style " + std::to_string(i++));
  expectLikeModel(qxtest::denseFullCapture(3).raw, "full dense capture");
}

// Flipped, inserted and dropped bytes break SYNCs, counts and packet ends
// anywhere; cut-off ends leave a last packet unfinished.
TEST(DecoderModel, DamagedCaptures) {
  const auto caps = styledCaptures();
  std::mt19937 rng(41);
  for (int round = 0; round < 600; ++round) {
    std::vector<uint8_t> raw = caps[rng() % caps.size()];
    for (unsigned m = 0, n = 1 + rng() % 6; m < n; ++m) {
      const size_t at = 8 + rng() % (raw.size() - 8);
      switch (rng() % 4) {
        case 0: raw[at] = static_cast<uint8_t>(rng()); break;
        case 1: raw[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 2: raw.insert(raw.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
        default: raw.erase(raw.begin() + static_cast<long>(at)); break;
      }
    }
    if (rng() % 3 == 0) raw.resize(8 + rng() % (raw.size() - 7));
    expectLikeModel(raw, "round " + std::to_string(round));
  }
}

// Streams of SYNC-like K/J bytes, counts of every length (long runs inside
// packets, a state list that must grow), SE0 and SE1 bytes and strays.
TEST(DecoderModel, SyncHeavyStreams) {
  const uint8_t PIECES[] = {0x2A, 0x15, 0x2A, 0x15, 0x00, 0x3F, 0x80, 0x81, 0xBF, 0xBA, 0xC1, 0xDF,
                            0x40, 0x60, 0x44, 0x56, 0x59, 0x6A, 0x55, 0x7F, 0xE1, 0x2B, 0x35, 0x0A};
  std::mt19937 rng(7);
  for (int round = 0; round < 800; ++round) {
    std::vector<uint8_t> raw = MAGIC;
    for (size_t i = 0, n = rng() % 1500; i < n; ++i)
      raw.push_back(rng() % 3 ? PIECES[rng() % sizeof PIECES] : static_cast<uint8_t>(rng() % 64));
    expectLikeModel(raw, "round " + std::to_string(round));
  }
}

// A good SYNC, then J runs that take the state list past its first size and
// up to and past the decoder's cap (SYNC 8 + run + 100 states, and one J for
// an SE1 that ends the packet run by run), then a packet that must decode.
TEST(DecoderModel, LongRunsInsidePackets) {
  const uint32_t cap = 1u << 20;
  for (uint32_t se1 : {0u, 1u}) {
    for (uint32_t run : {57u, 58u, 63u, 64u, 1000u, 5000u, 70000u, cap - 108 - se1, cap - 107 - se1, 3000000u}) {
      std::vector<TlineEvent> ev = {linegen::idle(3)};
      for (int i = 0; i < 7; ++i) ev.push_back(linegen::lineState(i % 2 ? LS_J : LS_K, 1));
      ev.push_back(linegen::lineState(LS_K, 1));
      ev.push_back(linegen::lineState(LS_J, run));
      for (int i = 0; i < 40; ++i) ev.push_back(linegen::lineState(i % 3 ? LS_J : LS_K, 1 + i % 4));
      if (se1) ev.push_back(linegen::se1(3));
      ev.push_back(linegen::lineState(LS_SE0, 2));
      ev.push_back(linegen::idle(5));
      ev.push_back(linegen::handshake(PID_ACK, 4));
      const auto raw = linegen::encodeCapture(ev);
      expectLikeModel(raw, "J run " + std::to_string(run) + (se1 ? " and SE1" : ""));
      const size_t rows = qxtest::decodeCapture(raw).size();
      EXPECT_EQ(rows, run <= cap - 108 - se1 ? 2u : 1u) << run;  // the long packet and the ACK
    }
  }
}

}  // namespace
