// Board bring-up, the capture logic's register port and the capture-memory
// sequences, as bytes on the bus.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "boardtest.h"
#include "kelvosim.h"
#include "libvklow.h"
#include "simbus.h"

namespace {

using simbus::Bytes;
using simbus::Lines;
using simbus::operator+;

class AppPort : public TboardTest {
 protected:
  void SetUp() override {
    restart();
    kelvosim::addDevice(kelvosim::boardConfig());
  }
  void openBoard() {
    ASSERT_TRUE(lib().snifferOpen());
    kelvosim::clearLog();
  }
};

const Bytes QSPI_INIT = {0x4C, 0x90, 0x4D, 0x8F, 0x8F, 0x4C, 0xA0,                                       // out of quad
                         0x4C, 0x94, 0x4D, 0x83, 0x83, 0x83, 0x83, 0x4C, 0xA0,                           // out of dual
                         0x4C, 0x98, 0x4D, 0x80, 0x80, 0x81, 0x81, 0x81, 0x80, 0x80, 0x80, 0x4C, 0xA0};  // EQIO
const Bytes QSPI_WR_START_0 = {0x4C, 0x90, 0x4D, 0x80, 0x82,                                             // WRITE
                               0x80, 0x80, 0x80, 0x80, 0x80, 0x80,                                       // address 0
                               0x85, 0x86, 0x84, 0x81, 0x85, 0x82, 0x84, 0x8E,                           // "VARN"
                               0x84, 0x8F, 0x84, 0x8B, 0x84, 0x85, 0x82, 0x8E,                           // "OKE."
                               0x4C, 0x91};
const Bytes QSPI_RD_START_0 = {0x4C, 0x90, 0x4D, 0x80, 0x83, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x4C, 0x82, 0x4D};
const Bytes QSPI_IDLE = {0x4C, 0x83};

TEST_F(AppPort, SnifferOpenBringsUpTheBridgeInOrder) {
  using namespace simbus;
  ASSERT_TRUE(lib().snifferOpen());
  const Lines expect = Lines{ctlOut(0x23, {7, 2, 0}), ctlOut(0x23, {7, 2, 1}), ctlIn(0x11, 2),      ctlIn(0x60, 9),
                             ctlOut(0x47, {1}),       ctlOut(0x31, {0, 8}),    ctlOut(0x31, {1, 8})} +
                       spiWriteRead(0, {0xE0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(busLines(), expect);
  EXPECT_TRUE(lib().isOpen());
  const auto bridge = kelvosim::bridgeState(0);
  EXPECT_EQ(bridge.FclockDivider, 1);
  EXPECT_EQ(bridge.FspiWord[0], 8);
  EXPECT_EQ(bridge.FspiWord[1], 8);
  EXPECT_EQ(bridge.FprotocolErrors, 0u);
}

TEST_F(AppPort, SnifferOpenStopsAtFirstFailingStep) {
  // One step fails: nothing after it is sent and the device stays open.
  const struct {
    kelvosim::TxferKind kind;
    int request;
    unsigned skip;
    size_t expectLines;
  } cases[] = {
      {kelvosim::XK_CONTROL, 0x23, 0, 1}, {kelvosim::XK_CONTROL, 0x23, 1, 2}, {kelvosim::XK_CONTROL, 0x11, 0, 3},
      {kelvosim::XK_CONTROL, 0x60, 0, 4}, {kelvosim::XK_CONTROL, 0x47, 0, 5}, {kelvosim::XK_CONTROL, 0x31, 0, 6},
      {kelvosim::XK_CONTROL, 0x31, 1, 7}, {kelvosim::XK_CONTROL, 0x25, 0, 8}, {kelvosim::XK_BULK_OUT, -1, 0, 9},
      {kelvosim::XK_BULK_IN, -1, 0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expectLines);
    restart();
    kelvosim::addDevice(kelvosim::boardConfig());
    kelvosim::TfaultRule rule;
    rule.Fkind = c.kind;
    rule.Frequest = c.request;
    rule.Fskip = c.skip;
    kelvosim::addFault(rule);
    TlibVkLow l;
    EXPECT_FALSE(l.snifferOpen());
    EXPECT_EQ(simbus::busLines().size(), c.expectLines);
    EXPECT_TRUE(l.isOpen());
  }
}

TEST_F(AppPort, SnifferOpenWithoutBoardFails) {
  restart();
  EXPECT_FALSE(lib().snifferOpen());
  EXPECT_FALSE(lib().isOpen());
  EXPECT_TRUE(simbus::busLines().empty());
}

// Shape of a text by a mask: 'A' upper-case letter, 'a' lower-case, '9' digit,
// '_' blank or digit; any other character stands for itself.
bool shaped(const std::string& s, const std::string& mask) {
  size_t i = 0;
  for (; i < mask.size(); ++i) {
    const char m = mask[i];
    if (i >= s.size()) return false;
    const char c = s[i];
    const bool ok = m == 'A'   ? (c >= 'A' && c <= 'Z')
                    : m == 'a' ? (c >= 'a' && c <= 'z')
                    : m == '9' ? (c >= '0' && c <= '9')
                    : m == '_' ? (c == ' ' || (c >= '0' && c <= '9'))
                               : c == m;
    if (!ok) return false;
  }
  return i == s.size();
}

struct SeqCase {
  const char* name;
  std::function<bool(TlibVkLow&)> op;
  Lines expect;
};

TEST_F(AppPort, SequencesAreExactBytes) {
  using namespace simbus;
  openBoard();
  const SeqCase cases[] = {
      {"QSPIinit", [](TlibVkLow& l) { return l.QSPIinit(); }, spiWrite(1, QSPI_INIT)},
      {"QSPIwrStart(0)", [](TlibVkLow& l) { return l.QSPIwrStart(0); }, spiWrite(1, QSPI_WR_START_0)},
      {"QSPIwrStart(0x123456) address bytes", [](TlibVkLow& l) { return l.QSPIwrStart(0x123456); },
       spiWrite(1, Bytes(QSPI_WR_START_0.begin(), QSPI_WR_START_0.begin() + 5) +
                       Bytes{0x81, 0x82, 0x83, 0x84, 0x85, 0x86} +
                       Bytes(QSPI_WR_START_0.begin() + 11, QSPI_WR_START_0.end()))},
      {"QSPIrdStart(0)", [](TlibVkLow& l) { return l.QSPIrdStart(0); }, spiWrite(1, QSPI_RD_START_0)},
      {"QSPItoIdle", [](TlibVkLow& l) { return l.QSPItoIdle(); }, spiWrite(1, QSPI_IDLE)},
      {"doIdle(0) is idle alone", [](TlibVkLow& l) { return l.doIdle(0); }, spiWrite(1, QSPI_IDLE)},
      {"doIdle(n) then read start", [](TlibVkLow& l) { return l.doIdle(100); },
       spiWrite(1, QSPI_IDLE) + spiWrite(1, QSPI_RD_START_0)},
      {"sniffSetCount(131060)", [](TlibVkLow& l) { return l.sniffSetCount(131060); },
       spiWrite(1, {0x4E, 0x9F, 0xBF, 0xB4})},
      {"wrFpgaReg masks to 6 bits", [](TlibVkLow& l) { return l.wrFpgaReg(0x44, 0x64); }, spiWrite(1, {0x44, 0xA4})},
      {"wrFpgaRegIx", [](TlibVkLow& l) { return l.wrFpgaRegIx(35); }, spiWrite(1, {0x63})},
      {"doRun(8192)", [](TlibVkLow& l) { return l.doRun(8192); },
       spiWrite(1, {0x4E, 0x81, 0xBF, 0xBF}) + spiWrite(1, {0x44, 0x81}) + spiWrite(1, {0x44, 0x80}) +
           spiWrite(1, QSPI_INIT) + spiWrite(1, QSPI_WR_START_0) + spiWrite(1, {0x44, 0x82})},
      {"sniffGetCount",
       [](TlibVkLow& l) {
         uint32_t v;
         return l.sniffGetCount(v);
       },
       spiWrite(1, {0x4E}) + spiRead(1, 5)},
      {"rdFpgaReg",
       [](TlibVkLow& l) {
         uint8_t v;
         return l.rdFpgaReg(13, v);
       },
       spiWrite(1, {0x4D}) + spiRead(1, 2)},
      {"sniffDataRead",
       [](TlibVkLow& l) {
         uint8_t b[16];
         uint32_t got;
         return l.sniffDataRead(b, 16, got);
       },
       spiWrite(1, {0x63}) + spiRead(1, 16)},
  };
  for (const auto& c : cases) {
    kelvosim::clearLog();
    EXPECT_TRUE(c.op(lib())) << c.name;
    EXPECT_EQ(busLines(), c.expect) << c.name;
  }
}

TEST_F(AppPort, DoRunWritesTwoToControlEvenWhenArmingFails) {
  openBoard();
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_OUT;
  kelvosim::addFault(rule);
  EXPECT_FALSE(lib().doRun(1024));
  const auto mosi = simbus::spiMosi(1);
  ASSERT_FALSE(mosi.empty());
  EXPECT_EQ(mosi.back(), (Bytes{0x44, 0x82}));
  EXPECT_EQ(kelvosim::captureState(0).Fcontrol, 2);
}

TEST_F(AppPort, CountReadTakesBytesOneToThree) {
  openBoard();
  // Register 14 reads back the loaded down counter (the count plus 2): 00 36 12 03 00.
  ASSERT_TRUE(lib().sniffSetCount(0x31234));
  ASSERT_TRUE(lib().wrFpgaReg(4, 1));
  kelvosim::clearLog();
  uint32_t v = 0;
  EXPECT_TRUE(lib().sniffGetCount(v));
  EXPECT_EQ(v, 0x31236u);
  const auto log = kelvosim::transfers();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().Fdata, (Bytes{0x00, 0x36, 0x12, 0x03, 0x00}));

  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_OUT;
  kelvosim::addFault(rule);
  v = 77;
  EXPECT_FALSE(lib().sniffGetCount(v));
  EXPECT_EQ(v, 0u);
}

TEST_F(AppPort, RegisterReadReturnsTheWholeSecondByte) {
  openBoard();
  uint8_t v = 0;
  // The memory data register floats high while the memory is not being read.
  EXPECT_TRUE(lib().rdFpgaReg(13, v));
  EXPECT_EQ(v, 0xFF);
  ASSERT_TRUE(lib().wrFpgaReg(12, 0x20));
  EXPECT_TRUE(lib().rdFpgaReg(12, v));
  EXPECT_EQ(v, 0x20);

  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_OUT;
  kelvosim::addFault(rule);
  kelvosim::clearLog();
  v = 9;
  EXPECT_FALSE(lib().rdFpgaReg(12, v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(simbus::busLines().size(), 2u);  // the select only: no read after it failed
}

TEST_F(AppPort, DataReadReportsBytesGot) {
  openBoard();
  uint8_t buf[8];
  uint32_t got = 99;
  EXPECT_TRUE(lib().sniffDataRead(buf, 8, got));
  EXPECT_EQ(got, 8u);
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_IN;
  kelvosim::addFault(rule);
  EXPECT_FALSE(lib().sniffDataRead(buf, 8, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(AppPort, GetStringSelectors) {
  std::string s;
  EXPECT_TRUE(lib().getString(s, 3));
  EXPECT_EQ(s, "");  // closed: no serial
  openBoard();
  const struct {
    int selector;
    bool ok;
    const char* shape;
  } cases[] = {
      {0, false, "?"},
      {1, true, "Quellix board access layer for the Kelvo USB analyser, built Aaa _9 9999"},
      {2, true, "Aaa _9 9999,99:99:99"},
      {3, true, "KV000001"},
      {4, false, "?"},
      {-1, false, "?"},
  };
  for (const auto& c : cases) {
    s = "unset";
    EXPECT_EQ(lib().getString(s, c.selector), c.ok) << c.selector;
    EXPECT_TRUE(shaped(s, c.shape)) << c.selector << ": " << s;
  }
}

TEST_F(AppPort, ModelAndDestructionCloseTheBoard) {
  EXPECT_EQ(lib().model(), 0);
  {
    TlibVkLow other;
    ASSERT_TRUE(other.snifferOpen());
    EXPECT_EQ(kelvosim::openHandles(), 1);
  }
  EXPECT_EQ(kelvosim::openHandles(), 0);
  EXPECT_FALSE(kelvosim::usbState(0).Fclaimed);
}

}  // namespace
