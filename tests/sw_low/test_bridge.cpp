// The CP2130 layer: vendor requests and SPI commands as bytes on the bus.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include "kelvosim.h"
#include "mxbase.h"
#include "simbus.h"

namespace {

using simbus::Bytes;
using simbus::Lines;
using simbus::operator+;

class Bridge : public ::testing::Test {
 protected:
  // The board object comes after the reset, so that its libusb use is counted.
  void SetUp() override {
    kelvosim::reset();
    kelvosim::addDevice(kelvosim::boardConfig());
    bridge = std::make_unique<TmxLow>();
    ASSERT_TRUE(mx().open());
    kelvosim::clearLog();
  }
  void TearDown() override {
    bridge.reset();
    EXPECT_EQ(kelvosim::misuseCount(), 0u);
    EXPECT_EQ(kelvosim::contextRefs(), 0);
  }
  TmxLow& mx() { return *bridge; }

  std::unique_ptr<TmxLow> bridge;
};

Bytes ramp(size_t n) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), uint8_t(1));
  return b;
}

struct BusCase {
  const char* name;
  std::function<bool(TmxLow&)> op;
  Lines expect;
};

TEST_F(Bridge, OperationsPutTheirBytesOnTheBus) {
  using namespace simbus;
  const Bytes b56 = ramp(56), b57 = ramp(57), b5 = ramp(5);
  const BusCase cases[] = {
      {"set_gpio_cs", [](TmxLow& m) { return m.set_gpio_cs(1, 2); }, {ctlOut(0x25, {1, 2})}},
      {"set_gpio", [](TmxLow& m) { return m.set_gpio(7, 2, 1); }, {ctlOut(0x23, {7, 2, 1})}},
      {"set_clockdiv", [](TmxLow& m) { return m.set_clockdiv(1); }, {ctlOut(0x47, {1})}},
      {"set_spi_word", [](TmxLow& m) { return m.set_spi_word(1, 8); }, {ctlOut(0x31, {1, 8})}},
      {"get_readonly_version",
       [](TmxLow& m) {
         uint8_t v[2] = {0x11, 0x22};
         return m.get_readonly_version(v);
       },
       {ctlIn(0x11, 2)}},
      {"assignEndpoints", [](TmxLow& m) { return m.assignEndpoints(); }, {ctlIn(0x60, 9)}},
      {"spiWrite of 0 bytes is the header alone",
       [](TmxLow& m) { return m.spiWrite(nullptr, 0); },
       {bulkOut(0x01, spiHeader(1, 0))}},
      {"spiWrite of 56 bytes is one 64-byte packet",
       [&](TmxLow& m) { return m.spiWrite(b56.data(), 56); },
       {bulkOut(0x01, spiHeader(1, 56) + b56)}},
      {"spiWrite of 57 bytes is 64 then 1",
       [&](TmxLow& m) { return m.spiWrite(b57.data(), 57); },
       {bulkOut(0x01, spiHeader(1, 57) + Bytes(b57.begin(), b57.begin() + 56)), bulkOut(0x01, {57})}},
      {"spiRead",
       [](TmxLow& m) {
         uint8_t r[5];
         return m.spiRead(r, 5);
       },
       {bulkOut(0x01, spiHeader(0, 5)), bulkIn(0x82, 5)}},
      {"spiWriteRead",
       [&](TmxLow& m) {
         Bytes d = b5;
         return m.spiWriteRead(d.data(), 5);
       },
       {bulkOut(0x01, spiHeader(2, 5) + b5), bulkIn(0x82, 5)}},
      {"two writes on one channel select it twice",
       [](TmxLow& m) {
         TllBuf a(0x4C), b(0x4D);
         return m.appxWrite(a) && m.appxWrite(b);
       },
       spiWrite(1, {0x4C}) + spiWrite(1, {0x4D})},
      {"cfgxWrite",
       [](TmxLow& m) {
         uint8_t c[4] = {0xFF, 0xFF, 0xFF, 0xFF};
         return m.cfgxWrite(c, 4);
       },
       spiWrite(0, {0xFF, 0xFF, 0xFF, 0xFF})},
      {"cfgxWriteRead",
       [](TmxLow& m) {
         uint8_t c[5] = {0xF0, 0, 0, 0, 0};
         return m.cfgxWriteRead(c, 5);
       },
       spiWriteRead(0, {0xF0, 0, 0, 0, 0})},
      {"appxRead",
       [](TmxLow& m) {
         uint8_t r[2];
         return m.appxRead(r, 2);
       },
       spiRead(1, 2)},
  };
  for (const auto& c : cases) {
    kelvosim::clearLog();
    EXPECT_TRUE(c.op(mx())) << c.name;
    EXPECT_EQ(simbus::busLines(), c.expect) << c.name;
  }
  EXPECT_EQ(mx().getCurChannel(), 1);
}

TEST_F(Bridge, EndpointsFollowTransferPriority) {
  const struct {
    uint8_t prio;
    int out, in;
  } cases[] = {{0, 0x02, 0x81}, {1, 0x01, 0x82}, {7, 0x01, 0x82}};
  for (const auto& c : cases) {
    bridge.reset();
    kelvosim::reset();
    auto cfg = kelvosim::boardConfig();
    cfg.FtransferPriority = c.prio;
    kelvosim::addDevice(cfg);
    TmxLow m;
    ASSERT_TRUE(m.open());
    ASSERT_TRUE(m.assignEndpoints());
    EXPECT_EQ(m.getEpOut(), c.out) << int(c.prio);
    EXPECT_EQ(m.getEpIn(), c.in) << int(c.prio);
    kelvosim::clearLog();
    uint8_t r[2];
    EXPECT_TRUE(m.appxRead(r, 2)) << int(c.prio);
    EXPECT_EQ(simbus::busLines(), simbus::spiRead(1, 2, uint8_t(c.out), uint8_t(c.in))) << int(c.prio);
  }
}

TEST_F(Bridge, FailedUsbConfigReadKeepsEndpoints) {
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_CONTROL;
  rule.Frequest = 0x60;
  kelvosim::addFault(rule);
  EXPECT_FALSE(mx().assignEndpoints());
  EXPECT_EQ(mx().getEpOut(), 0x01);
  EXPECT_EQ(mx().getEpIn(), 0x82);
}

TEST_F(Bridge, FailedFirstStepSkipsTheSecond) {
  using namespace simbus;
  const Bytes b60 = ramp(60);
  struct {
    const char* name;
    kelvosim::TxferKind faultKind;
    std::function<bool(TmxLow&)> op;
    Lines expect;  // what reaches the bus, the failed transfer included
  } cases[] = {
      {"long write: failed first packet",
       kelvosim::XK_BULK_OUT,
       [&](TmxLow& m) { return m.spiWrite(b60.data(), 60); },
       {bulkOut(0x01, {})}},
      {"read: failed header",
       kelvosim::XK_BULK_OUT,
       [](TmxLow& m) {
         uint8_t r[4];
         return m.spiRead(r, 4);
       },
       {bulkOut(0x01, {})}},
      {"channel op: failed chip select",
       kelvosim::XK_CONTROL,
       [](TmxLow& m) {
         uint8_t r[4];
         return m.appxRead(r, 4);
       },
       {ctlOut(0x25, {})}},
  };
  for (const auto& c : cases) {
    kelvosim::clearFaults();
    kelvosim::clearLog();
    kelvosim::TfaultRule rule;
    rule.Fkind = c.faultKind;
    kelvosim::addFault(rule);
    EXPECT_FALSE(c.op(mx())) << c.name;
    EXPECT_EQ(simbus::busLines(), c.expect) << c.name;
  }
}

using BridgeDeath = Bridge;

TEST_F(BridgeDeath, LengthPreconditionsStopTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  uint8_t buf[64] = {};
  EXPECT_DEATH(mx().spiRead(buf, 1), "mxbase: assertion \"aLen > 1\"");
  EXPECT_DEATH(mx().spiWriteRead(buf, 57), "mxbase: assertion \"aLen <= 56u\"");
}

}  // namespace
