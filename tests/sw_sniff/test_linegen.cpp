#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lineencoder.h"
#include "vkraw.h"

namespace {

std::string states(const std::vector<uint8_t>& st) {
  static const char NAMES[] = "0KJ1";
  std::string s;
  for (uint8_t v : st) s += NAMES[v & 3];
  return s;
}

// Line states of packets, worked by hand from the PID and field bits (low
// bit first; a 0 toggles the level, a 1 keeps it; a 0 goes in after six 1s).
TEST(LineEncoder, PacketStates) {
  struct Case {
    const char* name;
    TlineEvent e;
    const char* want;
  };
  TlineEvent ack6 = linegen::handshake(PID_ACK);
  ack6.syncLen = 6;
  TlineEvent nakShort = linegen::handshake(PID_NAK);
  nakShort.bitLimit = 3;
  TlineEvent glitch = linegen::handshake(PID_ACK);
  glitch.se1At = 2;
  TlineEvent unstuffed = linegen::packet({0xC3, 0xFF}, 1);
  unstuffed.stuff = false;
  const Case cases[] = {
      // ACK 0xD2: 0 1 0 0 1 0 1 1.
      {"ack", linegen::handshake(PID_ACK),
       "KJKJKJKK"
       "JJKJJKKK"},
      {"ack, short sync", ack6,
       "KJKJKK"
       "JJKJJKKK"},
      // NAK 0x5A: 0 1 0 1 1 0 1 0; three bits only.
      {"nak cut after three bits", nakShort,
       "KJKJKJKK"
       "JJK"},
      // The first J at or after state 2 of the PID becomes SE1.
      {"se1 in place of a J", glitch,
       "KJKJKJKK"
       "JJK1JKKK"},
      // DATA0 0xC3: 1 1 0 0 0 0 1 1, then 0xFF: the SYNC's closing 1 and
      // the PID's two make three; four more 1s reach six, a 0 is stuffed.
      {"stuffing after six 1s", linegen::packet({0xC3, 0xFF}, 1),
       "KJKJKJKK"
       "KKJKJKKK"
       "KKKK"
       "J"
       "JJJJ"},
      {"stuffing switched off", unstuffed,
       "KJKJKJKK"
       "KKJKJKKK"
       "KKKKKKKK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(states(linegen::packetStates(c.e)), c.want);
  }
}

TEST(LineEncoder, PacketBytes) {
  EXPECT_EQ(linegen::pidByte(PID_SETUP), 0x2D);
  EXPECT_EQ(linegen::pidByte(PID_MDATA), 0x0F);
  EXPECT_EQ(linegen::tokenBytes(PID_SETUP, 0x15, 0xE), (std::vector<uint8_t>{0x2D, 0x15, 0xEF}));
  EXPECT_EQ(linegen::tokenBytes(PID_SETUP, 0x15, 0xE, 1), (std::vector<uint8_t>{0x2D, 0x15, 0xE7}));
  EXPECT_EQ(linegen::sofBytes(0x7FF), (std::vector<uint8_t>{0xA5, 0xFF, 0x47}));
  EXPECT_EQ(linegen::dataBytes(PID_DATA1, {0x23, 0x45, 0x67, 0x89}),
            (std::vector<uint8_t>{0x4B, 0x23, 0x45, 0x67, 0x89, 0x0E, 0x1C}));
  EXPECT_EQ(linegen::dataBytes(PID_DATA0, {}), (std::vector<uint8_t>{0xC3, 0x00, 0x00}));
  EXPECT_EQ(linegen::handshakeBytes(PID_STALL), (std::vector<uint8_t>{0x1E}));
}

struct CoderRun {
  int state;
  uint32_t ticks;
  bool whole;
};

std::vector<uint8_t> code(const std::vector<CoderRun>& runs, TrawCoderOptions o = TrawCoderOptions(),
                          uint32_t* pad = nullptr) {
  o.header = false;
  TrawCoder c(o);
  for (const auto& r : runs) c.addRun(r.state, r.ticks, r.whole);
  const uint32_t p = c.flush();
  if (pad) *pad = p;
  return c.takeBytes();
}

// Raw bytes worked by hand: six-state bytes put the earliest state in bit
// 5, three-state bytes in bits 5-4; count bytes lengthen the latest state.
TEST(RawCoder, ExactBytes) {
  struct Case {
    const char* name;
    std::vector<CoderRun> runs;
    std::vector<uint8_t> want;
    uint32_t pad;
  };
  const Case cases[] = {
      {"six states",
       {{LS_K, 1, false}, {LS_J, 1, false}, {LS_K, 1, false}, {LS_J, 1, false}, {LS_K, 1, false}, {LS_J, 1, false}},
       {0x15},
       0},
      {"whole J of 3", {{LS_J, 3, true}}, {0x6A}, 0},
      {"whole J of 100", {{LS_J, 100, true}}, {0x6A, 0xA1, 0xC1}, 0},
      {"K of 2054", {{LS_K, 2054, false}}, {0x00, 0xBF, 0xDF, 0x81}, 0},
      {"reset", {{LS_SE0, 2, true}, {LS_J, 1, true}}, {0x42}, 0},
      {"six-state byte cut for an SE0",
       {{LS_K, 1, false}, {LS_J, 1, false}, {LS_K, 1, false}, {LS_J, 1, false}, {LS_SE0, 2, true}},
       {0x59, 0x60},
       0},
      {"flush pads the last run", {{LS_K, 1, false}, {LS_J, 1, false}}, {0x5A}, 1},
      {"equal states join", {{LS_J, 2, true}, {LS_J, 1, true}}, {0x6A}, 0},
      {"zero ticks add nothing", {{LS_K, 0, false}, {LS_J, 3, true}}, {0x6A}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t pad = 99;
    EXPECT_EQ(code(c.runs, TrawCoderOptions(), &pad), c.want);
    EXPECT_EQ(pad, c.pad);
  }
}

TEST(RawCoder, HeaderAndFiller) {
  TrawCoderOptions o;
  o.filler = 3;
  TrawCoder c(o);
  c.addRun(LS_J, 3, true);
  c.flush();
  EXPECT_EQ(c.takeBytes(), (std::vector<uint8_t>{'V', 'A', 'R', 'N', 'O', 'K', 'E', '.', 0xFF, 0x80, 0xC0, 0x6A}));
}

std::vector<std::pair<int, int>> readRuns(std::vector<uint8_t> stream) {
  static const char MAGIC[] = "VARNOKE.";
  std::vector<uint8_t> raw(MAGIC, MAGIC + 8);
  raw.resize(8 + stream.size());
  std::copy(stream.begin(), stream.end(), raw.begin() + 8);
  Traw reader(raw);
  std::vector<std::pair<int, int>> runs;
  TrawItem item;
  while (reader.getItem(item)) runs.emplace_back(item.val, item.count);
  return runs;
}

// Every count in every coding reads back as the one run it was.
TEST(RawCoder, CountsReadBackInEveryForm) {
  const uint32_t COUNTS[] = {
      1,          3, 4, 31, 35, 63, 66, 67, 2047, 2050, 2051, 4095, 4096, 4099, 100000, (1u << 24) + 5, (1u << 30) + 77,
      2147483000u};
  const TcountForm FORMS[] = {CF_COMPACT, CF_MIXED};
  for (TcountForm form : FORMS) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
      for (uint32_t ticks : COUNTS) {
        SCOPED_TRACE(std::to_string(ticks) + " form " + std::to_string(form) + " seed " + std::to_string(seed));
        TrawCoderOptions o;
        o.counts = form;
        o.seed = seed;
        const auto runs = readRuns(code({{LS_J, 2, false}, {LS_SE0, ticks, true}, {LS_J, 5, true}}, o));
        ASSERT_EQ(runs.size(), 3u);
        EXPECT_EQ(runs[1], std::make_pair(0, static_cast<int>(ticks)));
        EXPECT_EQ(runs[2].first, 2);
      }
    }
  }
}

// Splittable K/J runs may come out in pieces, whole runs and SE runs never.
TEST(RawCoder, SymbolFormsKeepWholeRunsWhole) {
  const TsymbolForm FORMS[] = {SF_DENSE, SF_TWOBIT, SF_MIXED};
  for (TsymbolForm form : FORMS) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      TrawCoderOptions o;
      o.symbols = form;
      o.counts = CF_MIXED;
      o.seed = seed;
      std::vector<CoderRun> runs;
      uint32_t x = seed;
      int state = LS_K;
      uint32_t body = 0;
      for (int i = 0; i < 200; ++i) {
        x = x * 1103515245u + 12345u;
        const uint32_t len = 1 + (x >> 16) % 9;
        if (i % 10 == 9) {
          runs.push_back({LS_SE0, len, true});
          runs.push_back({LS_J, len + 40, true});
          state = LS_K;
        } else if (i % 10 == 5) {
          runs.push_back({LS_SE1, len, true});
        } else {
          runs.push_back({state, len, false});
          body += len;
          state = state == LS_K ? LS_J : LS_K;
        }
      }
      const auto got = readRuns(code(runs, o));
      // Walk both lists: pieces of a splittable run must add up to it.
      size_t g = 0;
      for (const auto& r : runs) {
        ASSERT_LT(g, got.size());
        if (r.whole || r.state == LS_SE0 || r.state == LS_SE1) {
          EXPECT_EQ(got[g], std::make_pair(r.state, static_cast<int>(r.ticks))) << "run at " << g;
          ++g;
          continue;
        }
        int sum = 0;
        while (g < got.size() && got[g].first == r.state && sum < static_cast<int>(r.ticks)) sum += got[g++].second;
        EXPECT_EQ(sum, static_cast<int>(r.ticks)) << "split run ending at " << g;
      }
      EXPECT_EQ(g, got.size());
      EXPECT_GT(body, 0u);
    }
  }
}

TEST(RawCoder, SymbolFormsAreAsAsked) {
  auto countForms = [](const std::vector<uint8_t>& bytes, int& six, int& three) {
    six = three = 0;
    for (uint8_t b : bytes) {
      if ((b & 0xC0) == 0x00) ++six;
      if ((b & 0xC0) == 0x40) ++three;
    }
  };
  std::vector<TlineEvent> ev;
  for (int i = 0; i < 50; ++i) ev.push_back(linegen::data(PID_DATA1, std::vector<uint8_t>(20, uint8_t(i * 37)), 3));
  int six = 0;
  int three = 0;
  TrawCoderOptions o;
  o.header = false;  // the magic's letters would pass for symbol bytes
  o.symbols = SF_TWOBIT;
  countForms(linegen::encodeCapture(ev, o), six, three);
  EXPECT_EQ(six, 0);
  EXPECT_GT(three, 0);
  o.symbols = SF_DENSE;
  countForms(linegen::encodeCapture(ev, o), six, three);
  EXPECT_GT(six, 5 * three);
  o.symbols = SF_MIXED;
  countForms(linegen::encodeCapture(ev, o), six, three);
  EXPECT_GT(six, 0);
  EXPECT_GT(three, six / 5);
}

// The simulated board takes bytes as they are coded; pieces taken along the
// way make up the same stream, and tick() counts every event's ticks.
TEST(LineEncoder, StreamingMatchesOneShot) {
  std::vector<TlineEvent> ev = {linegen::idle(5),
                                linegen::reset(30000, 40),
                                linegen::sof(0x123, 7),
                                linegen::token(PID_IN, 5, 1, 3),
                                linegen::data(PID_DATA0, {1, 2, 3}, 2),
                                linegen::handshake(PID_ACK, 9),
                                linegen::se1(4),
                                linegen::idle(3000)};
  std::vector<uint64_t> starts;
  const std::vector<uint8_t> whole = linegen::encodeCapture(ev, TrawCoderOptions(), &starts);
  TlineEncoder enc;
  std::vector<uint8_t> pieces;
  for (const auto& e : ev) {
    enc.add(e);
    const auto part = enc.takeBytes();
    pieces.insert(pieces.end(), part.begin(), part.end());
  }
  EXPECT_EQ(enc.flush(), 0u);
  const auto rest = enc.takeBytes();
  pieces.insert(pieces.end(), rest.begin(), rest.end());
  EXPECT_EQ(pieces, whole);
  EXPECT_EQ(enc.coder().bytesCoded(), whole.size());
  // idle 5; reset 30000 + 40; SOF 8 + 24 + 2 + 7 = 41 (no stuffing in 0xA5 0x23 ...).
  ASSERT_EQ(starts.size(), ev.size());
  EXPECT_EQ(starts[1], 5u);
  EXPECT_EQ(starts[2], 30045u);
  EXPECT_EQ(enc.tick(), starts.back() + 3000);
}

}  // namespace
