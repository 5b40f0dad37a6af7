// Row text line: writer output, reader fields, malformed lines, round trips.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>

#include "vkrowutils.h"

namespace {

TrowPtr reset(int level, uint64_t tick, uint32_t duration, uint32_t idleTicks) {
  auto r = std::make_shared<Treset>();
  r->level = level;
  r->tick = tick;
  r->duration = duration;
  r->idleTicks = idleTicks;
  return r;
}

TrowPtr sof(int level, int pid, uint64_t tick, int frame, int crc5, bool crcOK, uint32_t idle) {
  auto s = std::make_shared<Tsof>();
  s->level = level;
  s->pid = pid;
  s->tick = tick;
  s->frame = frame;
  s->crc5 = crc5;
  s->crcOK = crcOK;
  s->idle = idle;
  return s;
}

TrowPtr token(int level, int pid, uint64_t tick, int addr, int endp, int crc5, bool crcOK, uint32_t idle) {
  auto k = std::make_shared<Ttoken>();
  k->level = level;
  k->pid = pid;
  k->tick = tick;
  k->addr = addr;
  k->endp = endp;
  k->crc5 = crc5;
  k->crcOK = crcOK;
  k->idle = idle;
  return k;
}

TrowPtr data(int level, int pid, uint64_t tick, TbyteVec bytes, int crc16, bool crcOK, uint32_t idle) {
  auto d = std::make_shared<Tdata>();
  d->level = level;
  d->pid = pid;
  d->tick = tick;
  d->data = std::move(bytes);
  d->crc16 = crc16;
  d->crcOK = crcOK;
  d->idle = idle;
  return d;
}

TrowPtr handshake(int level, int pid, uint64_t tick, uint32_t idle) {
  auto h = std::make_shared<Thandshake>();
  h->level = level;
  h->pid = pid;
  h->tick = tick;
  h->idle = idle;
  return h;
}

template <class G>
std::shared_ptr<G> group(int level, size_t children) {
  auto g = std::make_shared<G>();
  g->level = level;
  for (size_t i = 0; i < children; ++i) g->children.push_back(std::make_shared<Tsof>());
  return g;
}

TrowPtr transax(int level, TtrxType type, size_t children) {
  auto t = group<Ttransax>(level, children);
  t->trxType = type;
  return t;
}

std::string read(const std::string& text) {
  std::string line = text;
  TrowPtr row = rowutils::fromString(line);
  return row ? rowutils::toString(row) : "<null>";
}

TEST(RowTextWriter, LinesOfEveryKind) {
  struct Case {
    const char* what;
    TrowPtr row;
    const char* line;
  };
  const Case cases[] = {
      {"root reset", reset(0, 120, 150, 40), "0;Y:Reset;TI:120;RL:150;TL:40\n"},
      {"reset never indented", reset(2, 1, 2, 3), "2;Y:Reset;TI:1;RL:2;TL:3\n"},
      {"reset at full widths", reset(0, 5000000000ull, UINT32_MAX, UINT32_MAX),
       "0;Y:Reset;TI:5000000000;RL:4294967295;TL:4294967295\n"},
      {"sof, crc passed", sof(1, 5, 7, 2047, 3, true, 9), "  1;S:5;TI:7;FR:2047;5P:03;TL:9\n"},
      {"sof, crc failed", sof(0, 5, 7, 0, 0x1f, false, 0), "0;S:5;TI:7;FR:0;5F:1f;TL:0\n"},
      {"token level 3", token(3, 9, 100, 5, 1, 0x1a, false, 3), "      3;K:9;TI:100;AD:5;EP:1;5F:1a;TL:3\n"},
      {"data, 3 bytes, level 2", data(2, 3, 512, {0x80, 0x06, 0x00}, 0x0a1f, true, 30),
       "    2;D:3;TI:512;DA:80,06,00;6P:0a1f;TL:30\n"},
      {"data, empty payload", data(0, 11, 1, {}, 0, true, 0), "0;D:11;TI:1;DA:;6P:0000;TL:0\n"},
      {"data, 00 and ff", data(0, 3, 1, {0x00, 0xff}, 0x1a, false, 0), "0;D:3;TI:1;DA:00,ff;6F:001a;TL:0\n"},
      {"crc16 wider than 4 digits", data(0, 3, 1, {}, 0x12345, true, 0), "0;D:3;TI:1;DA:;6P:12345;TL:0\n"},
      {"handshake", handshake(2, 2, 120, 40), "    2;H:2;TI:120;TL:40\n"},
      {"no tick", handshake(0, 10, MAX_TICK, 0), "0;H:10;TI:18446744073709551615;TL:0\n"},
      {"sof group", group<TsofGroup>(0, 12), "0;G:SOFgroup;X:12\n"},
      {"setup transaction", transax(1, TRX_SETUP, 3), "  1;T:SETUP;X:3\n"},
      {"in transaction", transax(0, TRX_IN, 2), "0;T:IN;X:2\n"},
      {"out transaction", transax(0, TRX_OUT, 0), "0;T:OUT;X:0\n"},
      {"undefined transaction", transax(0, TRX_UNDEFINED, 0), "0;T:OUT;X:0\n"},
      {"control transfer", group<Ttransfer>(0, 4), "0;C:CONTROL;X:4\n"},
      {"negative fields keep their sign", token(0, -1, 0, -5, -1, -0x1a, true, 0),
       "0;K:-1;TI:0;AD:-5;EP:-1;5P:-1a;TL:0\n"},
      {"negative crcs are zero-filled after the sign", data(0, 3, 0, {}, -0x1a, true, 0),
       "0;D:3;TI:0;DA:;6P:-001a;TL:0\n"},
      {"negative crc5 filled", sof(0, 5, 0, 0, -3, false, 0), "0;S:5;TI:0;FR:0;5F:-03;TL:0\n"},
      {"full-width crcs", token(0, 9, 0, 0, 0, INT_MIN, true, 0), "0;K:9;TI:0;AD:0;EP:0;5P:-80000000;TL:0\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(rowutils::toString(c.row), c.line) << c.what;
}

TEST(RowTextWriter, RowsOfNoKindGiveNothing) {
  EXPECT_EQ(rowutils::toString(std::make_shared<Tbase>()), "");
  EXPECT_EQ(rowutils::toString(std::make_shared<TpacketBase>()), "");
  auto liar = std::make_shared<Tbase>();
  liar->kind = RK_DATA;  // kind without the class behind it
  EXPECT_EQ(rowutils::toString(liar), "");
  auto negative = std::make_shared<Tbase>();
  negative->kind = -1;
  EXPECT_EQ(rowutils::toString(negative), "");
  EXPECT_EQ(rowutils::toString(nullptr), "");
}

TEST(RowTextWriter, AbsurdLevelKeepsItsValueButNotItsIndentation) {
  const std::string line = rowutils::toString(handshake(INT_MAX, 2, 1, 1));
  EXPECT_EQ(line, std::string(2000, ' ') + "2147483647;H:2;TI:1;TL:1\n");
  EXPECT_EQ(read(line.substr(0, line.size() - 1)), line);
}

TEST(RowTextReader, LinesThatAreNoRows) {
  const char* lines[] = {"",      "-",     "-1;K:9;TI:1", "0",      ";",     ";;;;",     "0;",      ";0;",
                         "0;Q:1", "0;k:9", "0;1:2",       "0; K:9", "  ;  ", "0;!;TI:1", "0;?;K:9", "0;\r"};
  for (const char* text : lines) {
    std::string line = text;
    EXPECT_EQ(rowutils::fromString(line), nullptr) << '"' << text << '"';
  }
}

TEST(RowTextReader, TheDocumentedTokenExample) {
  std::string line = "1;K:9;TI:100;AD:5;EP:1;5F:1a;TL:3";
  TrowPtr row = rowutils::fromString(line);
  ASSERT_NE(row, nullptr);
  auto k = std::dynamic_pointer_cast<Ttoken>(row);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->level, 1);
  EXPECT_EQ(k->pid, 9);
  EXPECT_EQ(k->tick, 100u);
  EXPECT_EQ(k->addr, 5);
  EXPECT_EQ(k->endp, 1);
  EXPECT_EQ(k->crc5, 0x1a);
  EXPECT_FALSE(k->crcOK);
  EXPECT_EQ(k->idle, 3u);
  EXPECT_TRUE(k->ok);
  EXPECT_EQ(line, "1;K:9;TI:100;AD:5;EP:1;5F:1a;TL:3");  // not changed
  EXPECT_EQ(rowutils::toString(row), "  1;K:9;TI:100;AD:5;EP:1;5F:1a;TL:3\n");
}

// Each line is read and written again; the written line shows every field the
// reader set (or left at its default), and ok tells whether a field was bad.
struct ReadCase {
  const char* line;
  int kind;
  bool ok;
  const char* written;
};

void checkReads(const char* group, std::initializer_list<ReadCase> cases) {
  for (const ReadCase& c : cases) {
    std::string line = c.line;
    TrowPtr row = rowutils::fromString(line);
    ASSERT_NE(row, nullptr) << group << ": " << c.line;
    EXPECT_EQ(row->kind, c.kind) << group << ": " << c.line;
    EXPECT_EQ(row->ok, c.ok) << group << ": " << c.line;
    EXPECT_EQ(rowutils::toString(row), c.written) << group << ": " << c.line;
  }
}

TEST(RowTextReader, WellFormedLines) {
  checkReads(
      "well formed",
      {
          {"0;Y:Reset;TI:120;RL:150;TL:40", RK_RESET, true, "0;Y:Reset;TI:120;RL:150;TL:40\n"},
          {"2;Y;TI:1", RK_RESET, true, "2;Y:Reset;TI:1;RL:0;TL:0\n"},
          {"0;Yes please;RL:7", RK_RESET, true, "0;Y:Reset;TI:18446744073709551615;RL:7;TL:0\n"},
          {"    2;D:3;TI:512;DA:80,06,00;6P:0a1f;TL:30", RK_DATA, true, "    2;D:3;TI:512;DA:80,06,00;6P:0a1f;TL:30\n"},
          {"0;D:3;DA:;6P:0001", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:;6P:0001;TL:0\n"},
          {"0;D:3;DA", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:;6P:0000;TL:0\n"},
          {"0;D:3;DA:01;DA:02,03", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:01,02,03;6P:0000;TL:0\n"},
          {"0;D:3;DA:0x", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:00;6P:0000;TL:0\n"},
          {"0;D:3;DA:1ff,-1,0x10", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:ff,ff,10;6P:0000;TL:0\n"},
          {"0;D:3;DA:,01,,02,", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:01,02;6P:0000;TL:0\n"},
          {"0;D:3;DA:,", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:;6P:0000;TL:0\n"},
          {"0;D:3;DA: 1f,\t+A,0X0b,x0", RK_DATA, false, "0;D:3;TI:18446744073709551615;DA:1f,0a,0b;6P:0000;TL:0\n"},
          {"0;D:3;DA:7;DA:;DA:8", RK_DATA, true, "0;D:3;TI:18446744073709551615;DA:07,08;6P:0000;TL:0\n"},
          {"0;S:5;TI:5000000000;FR:12;5F:1f;TL:2", RK_SOF, true, "0;S:5;TI:5000000000;FR:12;5F:1f;TL:2\n"},
          {"0;H:2;TI:18446744073709551615;TL:0", RK_HANDSHAKE, true, "0;H:2;TI:18446744073709551615;TL:0\n"},
          {"0;H", RK_HANDSHAKE, false, "0;H:99;TI:18446744073709551615;TL:0\n"},
          {"0;K:9;TL:3;EP:2;AD:1;TI:4", RK_TOKEN, true, "0;K:9;TI:4;AD:1;EP:2;5P:00;TL:3\n"},
          {"0;K:9;AD:5;AD:7", RK_TOKEN, true, "0;K:9;TI:18446744073709551615;AD:7;EP:0;5P:00;TL:0\n"},
          {"0;K:9;ZZ:1;RL:5;DA:01", RK_TOKEN, true, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {";;0;;K:9;;TI:1;", RK_TOKEN, true, "0;K:9;TI:1;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K::9;TI::1", RK_TOKEN, true, "0;K:9;TI:1;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:9;5P:0x1a", RK_TOKEN, true, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:1a;TL:0\n"},
          {"0;K:9;5F:3;5P:4", RK_TOKEN, true, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:04;TL:0\n"},
          {"0;Kx:13;AD:+3", RK_TOKEN, true, "0;K:13;TI:18446744073709551615;AD:3;EP:0;5P:00;TL:0\n"},
          {"0;K:9;AD:-2147483648;EP:2147483647", RK_TOKEN, true,
           "0;K:9;TI:18446744073709551615;AD:-2147483648;EP:2147483647;5P:00;TL:0\n"},
          {"0;H:2;TI:5;TL:3\r", RK_HANDSHAKE, true, "0;H:2;TI:5;TL:3\n"},
          {"0;H:2;TI: 5x;TL:\t3", RK_HANDSHAKE, true, "0;H:2;TI:5;TL:3\n"},
          {"   1;H:2", RK_HANDSHAKE, true, "  1;H:2;TI:18446744073709551615;TL:0\n"},
          {"0;G:SOFgroup;X:12", RK_SOFGROUP, true, "0;G:SOFgroup;X:0\n"},
          {"1;Gee;rubbish", RK_SOFGROUP, true, "  1;G:SOFgroup;X:0\n"},
          {"0;C:CONTROL;X:4", RK_TRANSFER, true, "0;C:CONTROL;X:0\n"},
          {"1;T:SETUP;X:3", RK_TRANSAX, true, "  1;T:SETUP;X:0\n"},
          {"0;T:IN", RK_TRANSAX, true, "0;T:IN;X:0\n"},
          {"0;T:OUT;nonsense", RK_TRANSAX, true, "0;T:OUT;X:0\n"},
      });
}

TEST(RowTextReader, TransactionTypes) {
  struct Case {
    const char* line;
    TtrxType type;
    bool ok;
  };
  const Case cases[] = {
      {"0;T:SETUP", TRX_SETUP, true},    {"0;T:IN", TRX_IN, true},
      {"0;T:OUT", TRX_OUT, true},        {"0;T:in", TRX_UNDEFINED, true},
      {"0;T:FOO", TRX_UNDEFINED, true},  {"0;T", TRX_UNDEFINED, false},
      {"0;TX:IN", TRX_UNDEFINED, false}, {"0;T:IN:OUT", TRX_UNDEFINED, false},
  };
  for (const Case& c : cases) {
    std::string line = c.line;
    auto t = std::dynamic_pointer_cast<Ttransax>(rowutils::fromString(line));
    ASSERT_NE(t, nullptr) << c.line;
    EXPECT_EQ(t->trxType, c.type) << c.line;
    EXPECT_EQ(t->ok, c.ok) << c.line;
  }
}

TEST(RowTextReader, MalformedFieldsClearOkAndKeepDefaults) {
  checkReads(
      "malformed",
      {
          // pieces that are not key:value
          {"0;K:9;TI", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:9;AD:1:2;EP:3", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:3;5P:00;TL:0\n"},
          {"0;K;AD:4", RK_TOKEN, false, "0;K:99;TI:18446744073709551615;AD:4;EP:0;5P:00;TL:0\n"},
          {"0;Y:Reset;RL", RK_RESET, false, "0;Y:Reset;TI:18446744073709551615;RL:0;TL:0\n"},
          // values that are not numbers
          {"0;K:x;AD:4", RK_TOKEN, false, "0;K:99;TI:18446744073709551615;AD:4;EP:0;5P:00;TL:0\n"},
          {"0;K:9;TI:abc;AD:4", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:4;EP:0;5P:00;TL:0\n"},
          {"0;K:9;5F:zz", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:9;AD:-", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:9;AD: ", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;D:3;DA:01,zz,02", RK_DATA, false, "0;D:3;TI:18446744073709551615;DA:01,02;6P:0000;TL:0\n"},
          {"x;H:2", RK_HANDSHAKE, false, "0;H:2;TI:18446744073709551615;TL:0\n"},
          {"x;G:SOFgroup", RK_SOFGROUP, false, "0;G:SOFgroup;X:0\n"},
          // signed fields outside 32 bits
          {"0;K:9;AD:2147483648", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:9;EP:-2147483649", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:9;5P:ffffffff", RK_TOKEN, false, "0;K:9;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"0;K:4294967305", RK_TOKEN, false, "0;K:99;TI:18446744073709551615;AD:0;EP:0;5P:00;TL:0\n"},
          {"99999999999;H:2", RK_HANDSHAKE, false, "0;H:2;TI:18446744073709551615;TL:0\n"},
          {"0;S:5;FR:99999999999999999999999", RK_SOF, false, "0;S:5;TI:18446744073709551615;FR:0;5P:00;TL:0\n"},
          // unsigned fields outside their width or negative
          {"0;Y;RL:4294967296;TL:-1", RK_RESET, false, "0;Y:Reset;TI:18446744073709551615;RL:0;TL:0\n"},
          {"0;Y;TI:18446744073709551616", RK_RESET, false, "0;Y:Reset;TI:18446744073709551615;RL:0;TL:0\n"},
          {"0;H:2;TI:-5;TL:4294967295", RK_HANDSHAKE, false, "0;H:2;TI:18446744073709551615;TL:4294967295\n"},
          {"0;H:2;TI:-0", RK_HANDSHAKE, true, "0;H:2;TI:0;TL:0\n"},
          // payload byte too long for 64 bits
          {"0;D:3;DA:1ffffffffffffffffff,07", RK_DATA, false, "0;D:3;TI:18446744073709551615;DA:07;6P:0000;TL:0\n"},
      });
}

TEST(RowTextReader, ABadLineDoesNotAffectTheNext) {
  std::string bad = "0;K:x;TI:zz";
  std::string good = "0;K:9;TI:1";
  ASSERT_FALSE(rowutils::fromString(bad)->ok);
  TrowPtr row = rowutils::fromString(good);
  EXPECT_TRUE(row->ok);
  EXPECT_EQ(std::dynamic_pointer_cast<Ttoken>(row)->pid, 9);
}

TEST(RowTextRoundTrip, EveryWrittenLineReadsBackToTheSameLine) {
  const TrowPtr rows[] = {
      reset(0, 0, 0, 0),
      reset(3, MAX_TICK, UINT32_MAX, 1),
      sof(1, 5, 5000000000ull, 2047, 0x1f, false, 12),
      sof(0, 99, MAX_TICK, 0, 0, true, 0),
      token(2, 13, 17, 127, 15, 0x1f, true, 3),
      token(0, 1, 0, INT_MIN, INT_MAX, -1, false, UINT32_MAX),
      data(2, 3, 100, {}, 0xffff, true, 1),
      data(2, 11, 100, TbyteVec(64, 0xa5), 0x1234, false, 1),
      handshake(2, 14, 1, 2),
      // child counts are not read back: groups come childless here
      group<TsofGroup>(0, 0),
      transax(1, TRX_SETUP, 0),
      transax(0, TRX_IN, 0),
      transax(0, TRX_OUT, 0),
      group<Ttransfer>(0, 0),
  };
  for (const TrowPtr& row : rows) {
    const std::string written = rowutils::toString(row);
    ASSERT_FALSE(written.empty());
    ASSERT_EQ(written.back(), '\n');
    std::string line = written.substr(0, written.size() - 1);
    TrowPtr back = rowutils::fromString(line);
    ASSERT_NE(back, nullptr) << written;
    EXPECT_TRUE(back->ok) << written;
    EXPECT_EQ(back->kind, row->kind) << written;
    EXPECT_EQ(back->level, row->level) << written;
    EXPECT_EQ(back->tick, row->tick) << written;
    EXPECT_EQ(rowutils::toString(back), written);
  }
}

// Random rows of every kind with values across their full widths: each written
// line reads back to a row that writes the same line.
TrowPtr randomRow(std::mt19937_64& rng) {
  auto pick = [&](uint64_t n) { return n ? rng() % n : rng(); };
  auto anyInt = [&]() -> int {
    switch (pick(4)) {
      case 0: return static_cast<int>(static_cast<int32_t>(rng()));
      case 1: return pick(2) ? INT_MIN : INT_MAX;
      case 2: return static_cast<int>(pick(40)) - 20;
      default: return static_cast<int>(pick(2048));
    }
  };
  auto anyU32 = [&]() { return pick(3) ? static_cast<uint32_t>(pick(100000)) : static_cast<uint32_t>(rng()); };
  const uint64_t tick = pick(4) == 0 ? MAX_TICK : pick(2) ? rng() : pick(1u << 24);
  const int level = pick(8) == 0 ? anyInt() & INT_MAX : static_cast<int>(pick(6));
  switch (pick(8)) {
    case 0: return reset(level, tick, anyU32(), anyU32());
    case 1: return sof(level, anyInt(), tick, anyInt(), anyInt(), pick(2), anyU32());
    case 2: return token(level, anyInt(), tick, anyInt(), anyInt(), anyInt(), pick(2), anyU32());
    case 3: {
      TbyteVec bytes(pick(3) == 0 ? pick(600) : pick(70));
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
      return data(level, anyInt(), tick, bytes, anyInt(), pick(2), anyU32());
    }
    case 4: return handshake(level, anyInt(), tick, anyU32());
    case 5: return group<TsofGroup>(level, 0);
    case 6: return transax(level, static_cast<TtrxType>(pick(3)), 0);
    default: return group<Ttransfer>(level, 0);
  }
}

TEST(RowTextRoundTrip, RandomRowsReadBackToTheSameLine) {
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 20000; ++i) {
    const TrowPtr row = randomRow(rng);
    const std::string written = rowutils::toString(row);
    ASSERT_FALSE(written.empty());
    std::string line = written.substr(0, written.size() - 1);
    TrowPtr back = rowutils::fromString(line);
    ASSERT_NE(back, nullptr) << written;
    ASSERT_TRUE(back->ok) << written;
    ASSERT_EQ(back->kind, row->kind) << written;
    ASSERT_EQ(back->level, row->level) << written;
    ASSERT_EQ(back->tick, row->tick) << written;
    ASSERT_EQ(rowutils::toString(back), written);
    if (row->kind == RK_DATA) {
      ASSERT_EQ(std::static_pointer_cast<Tdata>(back)->data, std::static_pointer_cast<Tdata>(row)->data);
    }
  }
}

// Damaged lines: written lines with characters replaced, inserted, dropped or
// repeated. The reader leaves the line alone, and whatever row it makes writes
// a line that reads back cleanly to itself.
TEST(RowTextReader, DamagedLinesGiveConsistentRows) {
  static const char ALPHABET[] = "0123456789abcdefxX:;,+- \t\rYSKDHGTCPFIALRE";
  std::mt19937_64 rng(7);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  int rows = 0;
  int faulty = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string written = rowutils::toString(randomRow(rng));
    std::string line = written.substr(0, written.size() - 1);
    for (size_t edits = 1 + pick(6); edits > 0; --edits) {
      const size_t pos = pick(line.size() + 1);
      const char c = pick(16) == 0 ? static_cast<char>(rng()) : ALPHABET[pick(sizeof ALPHABET - 1)];
      switch (pick(4)) {
        case 0:
          if (pos < line.size()) line[pos] = c;
          break;
        case 1: line.insert(pos, 1, c); break;
        case 2:
          if (pos < line.size()) line.erase(pos, 1 + pick(4));
          break;
        default: line.insert(pos, line.substr(pick(line.size() + 1), pick(12))); break;
      }
    }
    const std::string original = line;
    TrowPtr row = rowutils::fromString(line);
    ASSERT_EQ(line, original);
    if (!row) continue;
    ++rows;
    faulty += row->ok ? 0 : 1;
    const std::string again = rowutils::toString(row);
    ASSERT_FALSE(again.empty()) << original;
    if (row->level < 0) continue;  // would start with '-', which is no row
    std::string clean = again.substr(0, again.size() - 1);
    TrowPtr back = rowutils::fromString(clean);
    ASSERT_NE(back, nullptr) << original;
    EXPECT_TRUE(back->ok) << original;
    EXPECT_EQ(rowutils::toString(back), again) << original;
  }
  // The damage must reach both outcomes, or the test proves little.
  EXPECT_GT(rows, 10000);
  EXPECT_GT(faulty, 1000);
}

}  // namespace
