// The simulated capture logic on channel 1: registers, the SRAM driven bit by bit in
// single, dual and quad mode, and captures armed, counted and read back as the board
// layer does it.
#include <numeric>

#include "simtest.h"

using namespace kelvosim;

namespace {

const Tbytes QSPI_INIT = {0x4C, 0x90, 0x4D, 0x8F, 0x8F, 0x4C, 0xA0,                          // quad reset
                          0x4C, 0x94, 0x4D, 0x83, 0x83, 0x83, 0x83, 0x4C, 0xA0,              // dual reset
                          0x4C, 0x98, 0x4D, 0x80, 0x80, 0x81, 0x81, 0x81, 0x80, 0x80, 0x80,  // EQIO
                          0x4C, 0xA0};
const Tbytes TO_IDLE = {0x4C, 0x83};
const Tbytes MAGIC = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};

// One byte as data writes of `width` bits each, most significant group first.
void groups(Tbytes& out, uint8_t b, unsigned width) {
  for (int shift = 8 - static_cast<int>(width); shift >= 0; shift -= static_cast<int>(width))
    out.push_back(static_cast<uint8_t>(0x80 | ((b >> shift) & ((1u << width) - 1))));
}

Tbytes command(unsigned width, uint8_t ctrl, uint8_t cmd, uint32_t address, const Tbytes& data) {
  Tbytes out = {0x4C, static_cast<uint8_t>(0x80 | ctrl), 0x4D};
  groups(out, cmd, width);
  for (int s = 16; s >= 0; s -= 8) groups(out, static_cast<uint8_t>(address >> s), width);
  for (uint8_t b : data) groups(out, b, width);
  return out;
}

Tbytes wrStart(uint32_t address) {
  Tbytes out = command(4, 0x10, 0x02, address, MAGIC);
  out.push_back(0x4C);
  out.push_back(0x91);
  return out;
}

Tbytes rdStart(uint32_t address) {
  Tbytes out = command(4, 0x10, 0x03, address, {});
  for (uint8_t b : {0x4C, 0x82, 0x4D}) out.push_back(b);
  return out;
}

Tbytes setCount(uint32_t n) {
  return {0x4E, uint8_t(0x80 | ((n >> 12) & 0x3F)), uint8_t(0x80 | ((n >> 6) & 0x3F)), uint8_t(0x80 | (n & 0x3F))};
}

Tbytes regWrite(uint8_t a, uint8_t v) { return {uint8_t(0x40 | a), uint8_t(0x80 | v)}; }

Tbytes stream(size_t n) {
  Tbytes s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<uint8_t>(i % 61);  // symbol bytes of 6 ticks
  return s;
}

class TcaptureTest : public TsimTest {
 protected:
  void SetUp() override {
    TsimTest::SetUp();
    addDevice(boardConfig());
    ASSERT_TRUE(openBoard());
  }
  uint32_t count() {
    if (!appWrite({0x4E})) return 0xFFFFFFFF;
    const Tbytes r = appRead(5);
    return r.size() == 5 ? (r[1] | r[2] << 8 | r[3] << 16) & 0x3FFFF : 0xFFFFFFFF;
  }
  bool arm(uint32_t n) {
    Tbytes seq = setCount(n - 1);
    for (const Tbytes& part : {regWrite(4, 1), regWrite(4, 0), QSPI_INIT, wrStart(0)})
      seq.insert(seq.end(), part.begin(), part.end());
    const bool ok = appWrite(seq);
    return appWrite(regWrite(4, 2)) && ok;
  }
  // Polls as the capture thread does; returns the bytes captured.
  uint32_t poll(uint32_t n, unsigned maxPolls) {
    uint32_t captured = 0;
    for (unsigned i = 0; i < maxPolls && captured < n; ++i) {
      const uint32_t v = count();
      captured = (v & 0x20000) ? n : n - (v & 0x1FFFF) + 1;
    }
    return captured;
  }
  Tbytes readOut(uint32_t captured) {
    Tbytes seq = TO_IDLE;
    const Tbytes rd = rdStart(0);
    seq.insert(seq.end(), rd.begin(), rd.end());
    if (!appWrite(seq)) return {};
    Tbytes raw = appRead(captured + 11);
    if (raw.size() >= 3) raw.erase(raw.begin(), raw.begin() + 3);
    return raw;
  }
};

}  // namespace

TEST_F(TcaptureTest, RegistersTakeSixBitWritesAndReadBack) {
  ASSERT_TRUE(appWrite(setCount(131060)));
  EXPECT_EQ(setCount(131060), Tbytes({0x4E, 0x9F, 0xBF, 0xB4}));
  EXPECT_EQ(captureState(0).FcountReg, 131060u);
  EXPECT_EQ(count(), 0u);  // the counter loads on a clear
  ASSERT_TRUE(appWrite(regWrite(4, 1)));
  EXPECT_EQ(count(), 131062u);  // n + 1 for a count of n - 1: nothing recorded yet
  struct Tcase {
    uint8_t value;
    bool connected;
  };
  for (const Tcase& t : {Tcase{0x24, true}, Tcase{0x01, true}, Tcase{0x20, false}}) {
    ASSERT_TRUE(appWrite(regWrite(4, t.value)));
    EXPECT_EQ(captureState(0).FtargetConnected, t.connected);
    ASSERT_TRUE(appWrite({0x44}));
    EXPECT_EQ(appRead(2), Tbytes({0x00, t.value}));
  }
  ASSERT_TRUE(appWrite(regWrite(20, 0x3F)));  // any other register keeps its value
  EXPECT_EQ(appRead(3), Tbytes({0x00, 0x3F, 0x00}));
  // GPIO 7 low holds the design in reset: silent, and its registers cleared.
  ASSERT_EQ(ctrlOut(0x23, {7, 2, 0}), 3);
  EXPECT_EQ(appRead(2), Tbytes({0xFF, 0xFF}));
  ASSERT_EQ(ctrlOut(0x23, {7, 2, 1}), 3);
  EXPECT_EQ(captureState(0).FcountReg, 0u);
  EXPECT_EQ(appRead(2), Tbytes({0x00, 0x00}));
}

TEST_F(TcaptureTest, MemoryResetReachesQuadModeFromEveryMode) {
  struct Tcase {
    const char* name;
    Tbytes before;
    Tbytes init;
    TsramMode after;
  };
  Tbytes edio = {0x4C, 0x98, 0x4D};
  groups(edio, 0x3B, 1);
  edio.push_back(0x4C);
  edio.push_back(0xA0);
  const Tbytes eqioOnly(QSPI_INIT.begin() + 16, QSPI_INIT.end());
  const std::vector<Tcase> table = {
      {"from single", {}, QSPI_INIT, SM_SQI},
      {"from quad", QSPI_INIT, QSPI_INIT, SM_SQI},
      {"from dual", edio, QSPI_INIT, SM_SQI},
      {"dual, EQIO alone is not understood", edio, eqioOnly, SM_SDI},
  };
  for (const Tcase& t : table) {
    SCOPED_TRACE(t.name);
    ASSERT_TRUE(appWrite(QSPI_INIT));  // a known start: single after one full reset
    ASSERT_TRUE(appWrite({0x4C, 0x90, 0x4D, 0x8F, 0x8F, 0x4C, 0xA0}));
    EXPECT_EQ(captureState(0).FsramMode, SM_SPI);
    if (!t.before.empty()) {
      ASSERT_TRUE(appWrite(t.before));
    }
    ASSERT_TRUE(appWrite(t.init));
    EXPECT_EQ(captureState(0).FsramMode, t.after);
  }
}

// WRITE and READ with an address in each bus width; quad and dual reads carry a dummy
// byte, so the data follows the port's dummy, the read register and that byte.
TEST_F(TcaptureTest, MemoryWritesAndReadsInEachMode) {
  struct Tcase {
    const char* name;
    unsigned width;
    uint8_t busBits;  // RC_ bus mode
    Tbytes enter;     // brings the memory from single into the mode
    size_t latency;
  };
  Tbytes edio = {0x4C, 0x98, 0x4D};
  groups(edio, 0x3B, 1);
  edio.push_back(0x4C);
  edio.push_back(0xA0);
  const std::vector<Tcase> table = {
      {"single", 1, 0x08, {}, 2},
      {"dual", 2, 0x04, edio, 3},
      {"quad", 4, 0x00, QSPI_INIT, 3},
  };
  const Tbytes data = {0x12, 0xA5, 0x00, 0xFF, 0x3C};
  for (const Tcase& t : table) {
    SCOPED_TRACE(t.name);
    ASSERT_TRUE(appWrite(QSPI_INIT));
    ASSERT_TRUE(appWrite({0x4C, 0x90, 0x4D, 0x8F, 0x8F, 0x4C, 0xA0}));  // back to single
    if (!t.enter.empty()) {
      ASSERT_TRUE(appWrite(t.enter));
    }
    const uint32_t address = 0x1FFFE;  // the write wraps past the end
    Tbytes w = command(t.width, 0x10 | t.busBits, 0x02, address, data);
    w.push_back(0x4C);
    w.push_back(0xA0);
    ASSERT_TRUE(appWrite(w));
    Tbytes r = command(t.width, 0x10 | t.busBits, 0x03, address, {});
    for (uint8_t b : {uint8_t(0x4C), uint8_t(0x80 | t.busBits | 0x02), uint8_t(0x4D)}) r.push_back(b);
    ASSERT_TRUE(appWrite(r));
    const Tbytes got = appRead(static_cast<uint32_t>(t.latency + data.size()));
    ASSERT_EQ(got.size(), t.latency + data.size());
    EXPECT_EQ(Tbytes(got.begin() + t.latency, got.end()), data);
    const Tbytes mem = sram(0);
    EXPECT_EQ(mem[0x1FFFE], 0x12);
    EXPECT_EQ(mem[0x00000], 0x00);
    EXPECT_EQ(mem[0x00002], 0x3C);
    ASSERT_TRUE(appWrite({0x4C, 0xA0}));
  }
}

TEST_F(TcaptureTest, CaptureFillsToTheCountAndReadsBackBehindTheMagic) {
  struct Tcase {
    const char* name;
    size_t streamBytes;
    uint32_t n;
  };
  const std::vector<Tcase> table = {
      {"stream longer than the capture", 3000, 1024},
      {"stream then idle bus", 100, 1100},
      {"a full memory", 140000, 131061},
  };
  for (const Tcase& t : table) {
    SCOPED_TRACE(t.name);
    const Tbytes s = stream(t.streamBytes);
    setTrafficStream(s);
    ASSERT_TRUE(arm(t.n));
    EXPECT_TRUE(captureState(0).Farmed);
    EXPECT_EQ(poll(t.n, 100000), t.n);
    const TcaptureState cs = captureState(0);
    EXPECT_TRUE(cs.Ffull);
    EXPECT_EQ(cs.Frecorded, t.n);
    EXPECT_EQ(count(), 0x3FFFFu);
    const Tbytes raw = readOut(t.n);
    ASSERT_EQ(raw.size(), t.n + 8);
    EXPECT_EQ(Tbytes(raw.begin(), raw.begin() + 8), MAGIC);
    const size_t fromStream = std::min<size_t>(t.n, s.size());
    EXPECT_EQ(Tbytes(raw.begin() + 8, raw.begin() + 8 + fromStream), Tbytes(s.begin(), s.begin() + fromStream));
    for (size_t i = fromStream; i < t.n; ++i) {
      const uint8_t idle[3] = {0x3F, 0xBF, 0xDF};
      ASSERT_EQ(raw[8 + i], idle[(i - fromStream) % 3]) << i;
    }
    // The data port hands out the same bytes.
    ASSERT_TRUE(appWrite({0x40 | 35}));
    const Tbytes port = appRead(6);
    EXPECT_EQ(Tbytes(port.begin() + 1, port.end()), Tbytes(raw.begin() + 8, raw.begin() + 13));
  }
}

TEST_F(TcaptureTest, QuietBusNeverFillsAndCountsNothing) {
  setTrafficQuiet();
  const uint32_t n = 4096;
  ASSERT_TRUE(arm(n));
  EXPECT_EQ(poll(n, 300), 0u);  // nothing recorded: the counter stays at n + 1
  EXPECT_EQ(captureState(0).Frecorded, 0u);
  const Tbytes raw = readOut(1);
  ASSERT_EQ(raw.size(), 9u);
  EXPECT_EQ(Tbytes(raw.begin(), raw.begin() + 8), MAGIC);
  EXPECT_EQ(raw[8], 0xFF);  // memory never written since power-up
}

TEST_F(TcaptureTest, RecordsAreWrittenOnceTheirRunHasEnded) {
  setTicksPerTransfer(0);
  // Runs of 6, 6 + 5 and 3 + 64 ticks: each symbol byte with its count bytes.
  const Tbytes s = {0x00, 0x3F, 0x85, 0x60, 0x80, 0xC1};
  setTrafficStream(s);
  ASSERT_TRUE(arm(1024));
  struct Tstep {
    uint64_t advance;
    uint64_t recorded;
  };
  for (const Tstep& st : {Tstep{5, 0}, Tstep{1, 1}, Tstep{10, 1}, Tstep{1, 3}, Tstep{66, 3}, Tstep{1, 6}}) {
    advanceTicks(st.advance);
    EXPECT_EQ(captureState(0).Frecorded, st.recorded);
  }
  EXPECT_EQ(count(), 1025u - 6u);
  EXPECT_EQ(poll(1024, 1), 6u) << "the capture thread's formula gives the bytes recorded";
}

TEST_F(TcaptureTest, EachRunReplaysTheTrafficFromItsStart) {
  setTrafficStream(stream(5000));
  ASSERT_TRUE(arm(2048));
  ASSERT_EQ(poll(2048, 100000), 2048u);
  const Tbytes first = readOut(2048);
  ASSERT_TRUE(arm(2048));
  ASSERT_EQ(poll(2048, 100000), 2048u);
  EXPECT_EQ(readOut(2048), first);
  EXPECT_EQ(captureState(0).Fruns, 2u);
}
