// Finding, opening and closing the board, and the two transfer kinds, against the
// simulated USB device list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kelvosim.h"
#include "mxbase.h"
#include "simbus.h"

namespace {

using kelvosim::TdevConfig;

class UsbDevice : public ::testing::Test {
 protected:
  void SetUp() override { kelvosim::reset(); }
  void TearDown() override {
    EXPECT_EQ(kelvosim::openLists(), 0);
    EXPECT_EQ(kelvosim::openHandles(), 0);
    EXPECT_EQ(kelvosim::contextRefs(), 0);
    EXPECT_EQ(kelvosim::misuseCount(), 0u);
  }
};

TEST_F(UsbDevice, ContextIsSharedAndReleased) {
  {
    Tlibusb a;
    TlibusbDevice b;
    EXPECT_TRUE(a.initialised());
    EXPECT_TRUE(b.initialised());
    EXPECT_EQ(kelvosim::contextRefs(), 2);
  }
  EXPECT_EQ(kelvosim::contextRefs(), 0);
}

// A failed open is silent unless the trace is asked for.
TEST_F(UsbDevice, TraceSaysWhyNoBoardOpened) {
  kelvosim::addDevice(kelvosim::otherConfig(0x1234, 0x5678));
  TlibusbDevice dev;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(dev.open());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  setenv("QX_BOARD_TRACE", "1", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(dev.open());
  xprintf("%s %d\n", "status", 7);
  unsetenv("QX_BOARD_TRACE");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\nboard: no device 10c4:87a0 or 10c4:8c57 among 1\nstatus 7\n");
}

struct OpenCase {
  const char* name;
  std::vector<TdevConfig> devices;
  int listResult;  // 0: normal
  bool expectOpen;
  int expectDevice;  // device that ends up claimed, -1: none
  std::string expectSerial;
  int expectLastError;
};

TdevConfig board(void (*edit)(TdevConfig&)) {
  TdevConfig c = kelvosim::boardConfig();
  edit(c);
  return c;
}

TEST_F(UsbDevice, OpenFindsPreparesOrFailsClosed) {
  const OpenCase cases[] = {
      {"no devices", {}, 0, false, -1, "", 0},
      {"list fails", {kelvosim::boardConfig()}, -99, false, -1, "", -99},
      {"wrong vendor or product",
       {kelvosim::otherConfig(0x10C4, 0x87A1), kelvosim::otherConfig(0x10C5, 0x87A0)},
       0,
       false,
       -1,
       "",
       0},
      {"first of two boards in list order",
       {kelvosim::otherConfig(0x1D6B, 2), board([](TdevConfig& c) {
          c.Fproduct = kelvo::PRODUCT_ID_BRIDGE;
          c.Fserial = "FIRST";
        }),
        board([](TdevConfig& c) { c.Fserial = "SECOND"; })},
       0,
       true,
       1,
       "FIRST",
       0},
      {"unconfigured device", {board([](TdevConfig& c) { c.FactiveConfig = 0; })}, 0, true, 0, "KV000001", 0},
      {"kernel driver attached", {board([](TdevConfig& c) { c.FkernelDriver = true; })}, 0, true, 0, "KV000001", 0},
      {"serial unreadable", {board([](TdevConfig& c) { c.FstringResult = -9; })}, 0, true, 0, "", 0},
      {"no serial string", {board([](TdevConfig& c) { c.Fserial = ""; })}, 0, true, 0, "", 0},
      {"get configuration fails: ignored",
       {board([](TdevConfig& c) { c.FgetConfigResult = -1; })},
       0,
       true,
       0,
       "KV000001",
       0},
      {"open fails", {board([](TdevConfig& c) { c.FopenResult = -3; })}, 0, false, -1, "", -3},
      {"set configuration fails",
       {board([](TdevConfig& c) {
         c.FactiveConfig = 0;
         c.FsetConfigResult = -6;
       })},
       0,
       false,
       -1,
       "",
       -6},
      {"driver query fails", {board([](TdevConfig& c) { c.FdriverActiveResult = -12; })}, 0, false, -1, "", -12},
      {"detach fails",
       {board([](TdevConfig& c) {
         c.FkernelDriver = true;
         c.FdetachResult = -3;
       })},
       0,
       false,
       -1,
       "",
       -3},
      {"interface claimed elsewhere", {board([](TdevConfig& c) { c.FheldElsewhere = true; })}, 0, false, -1, "", -6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kelvosim::reset();
    for (const auto& d : c.devices) kelvosim::addDevice(d);
    if (c.listResult) kelvosim::setListResult(c.listResult);
    {
      TlibusbDevice dev;
      EXPECT_EQ(dev.open(), c.expectOpen);
      EXPECT_EQ(dev.isOpen(), c.expectOpen);
      EXPECT_EQ(dev.getSerial(), c.expectSerial);
      EXPECT_EQ(dev.getLastError(), c.expectLastError);
      EXPECT_EQ(kelvosim::openLists(), 0);
      EXPECT_EQ(kelvosim::openHandles(), c.expectOpen ? 1 : 0);
      for (int i = 0; i < kelvosim::deviceCount(); ++i)
        EXPECT_EQ(kelvosim::usbState(i).Fclaimed, i == c.expectDevice) << "device " << i;
    }
    EXPECT_EQ(kelvosim::openHandles(), 0);
    for (int i = 0; i < kelvosim::deviceCount(); ++i)
      EXPECT_FALSE(kelvosim::usbState(i).FclosedWhileClaimed) << "device " << i;
  }
}

TEST_F(UsbDevice, ConfigurationSetOnlyWhenUnconfigured) {
  const struct {
    int active, expectActive;
    unsigned expectSets;
  } cases[] = {{0, 1, 1}, {1, 1, 0}};
  for (const auto& c : cases) {
    kelvosim::reset();
    TdevConfig cfg = kelvosim::boardConfig();
    cfg.FactiveConfig = c.active;
    kelvosim::addDevice(cfg);
    TlibusbDevice dev;
    ASSERT_TRUE(dev.open());
    EXPECT_EQ(kelvosim::usbState(0).FactiveConfig, c.expectActive) << c.active;
    EXPECT_EQ(kelvosim::usbState(0).FsetConfigs, c.expectSets) << c.active;
  }
}

TEST_F(UsbDevice, KernelDriverDetachedAndNotReattached) {
  TdevConfig cfg = kelvosim::boardConfig();
  cfg.FkernelDriver = true;
  kelvosim::addDevice(cfg);
  TlibusbDevice dev;
  ASSERT_TRUE(dev.open());
  EXPECT_TRUE(dev.wasKernelDriverActive());
  EXPECT_EQ(kelvosim::usbState(0).Fdetaches, 1u);
  dev.close();
  EXPECT_FALSE(kelvosim::usbState(0).FkernelDriver);
  EXPECT_EQ(dev.getSerial(), "");
}

TEST_F(UsbDevice, ReopenKeepsOneHandleAndReleasesFirst) {
  kelvosim::addDevice(kelvosim::boardConfig());
  TlibusbDevice dev;
  ASSERT_TRUE(dev.open());
  ASSERT_TRUE(dev.open());
  const auto s = kelvosim::usbState(0);
  EXPECT_EQ(s.FopenHandles, 1);
  EXPECT_EQ(s.Fopens, 2u);
  EXPECT_EQ(s.Fcloses, 1u);
  EXPECT_EQ(s.Freleases, 1u);
  EXPECT_EQ(s.Fclaims, 2u);
  EXPECT_FALSE(s.FclosedWhileClaimed);
  EXPECT_EQ(dev.getSerial(), "KV000001");
}

TEST_F(UsbDevice, DestructorReleasesAndCloses) {
  kelvosim::addDevice(kelvosim::boardConfig());
  {
    TlibusbDevice dev;
    ASSERT_TRUE(dev.open());
  }
  const auto s = kelvosim::usbState(0);
  EXPECT_EQ(s.FopenHandles, 0);
  EXPECT_EQ(s.Freleases, 1u);
  EXPECT_FALSE(s.Fclaimed);
  EXPECT_FALSE(s.FclosedWhileClaimed);
}

TEST_F(UsbDevice, TransfersOnClosedDeviceTouchNothing) {
  kelvosim::addDevice(kelvosim::boardConfig());
  TlibusbDevice dev;
  uint8_t buf[8] = {};
  kelvosim::clearLog();
  EXPECT_FALSE(dev.control_transfer(0xC0, 0x11, buf, 2, 0, 0));
  EXPECT_FALSE(dev.bulk_transfer(0x01, buf, 8));
  EXPECT_TRUE(kelvosim::transfers().empty());
}

TEST_F(UsbDevice, ControlArgumentOrderAndShortTransfers) {
  kelvosim::addDevice(kelvosim::boardConfig());
  TlibusbDevice dev;
  ASSERT_TRUE(dev.open());
  kelvosim::clearLog();

  uint8_t cs[2] = {1, 2};
  EXPECT_TRUE(dev.control_transfer(0x40, 0x25, cs, 2, 0, 0));
  ASSERT_EQ(kelvosim::transfers().size(), 1u);
  EXPECT_EQ(simbus::line(kelvosim::transfers()[0]), simbus::ctlOut(0x25, {1, 2}));

  struct {
    const char* name;
    kelvosim::TxferKind kind;
    bool expect;
    int expectLastError;
  } cases[] = {
      {"short control data stage is success", kelvosim::XK_CONTROL, true, 0},
      {"short bulk OUT is failure", kelvosim::XK_BULK_OUT, false, 0},
      {"short bulk IN is failure", kelvosim::XK_BULK_IN, false, 0},
  };
  for (const auto& c : cases) {
    kelvosim::clearFaults();
    kelvosim::TfaultRule rule;
    rule.Fkind = c.kind;
    rule.FshortBy = 1;
    kelvosim::addFault(rule);
    uint8_t buf[9] = {};
    bool ok = false;
    if (c.kind == kelvosim::XK_CONTROL) {
      ok = dev.control_transfer(0xC0, 0x60, buf, 9, 0, 0);  // Get_USB_Config
    } else if (c.kind == kelvosim::XK_BULK_OUT) {
      uint8_t hdr[8] = {0, 0, 1, 0, 0, 0, 0, 0};
      ok = dev.bulk_transfer(0x01, hdr, 8);
    } else {
      uint8_t hdr[8] = {0, 0, 0, 0, 2, 0, 0, 0};
      kelvosim::clearFaults();
      ASSERT_TRUE(dev.bulk_transfer(0x01, hdr, 8));
      kelvosim::addFault(rule);
      ok = dev.bulk_transfer(0x82, buf, 2);
    }
    EXPECT_EQ(ok, c.expect) << c.name;
    EXPECT_EQ(dev.getLastError(), c.expectLastError) << c.name;
  }

  kelvosim::clearFaults();
  kelvosim::TfaultRule fail;
  fail.Fresult = -7;  // timeout
  kelvosim::addFault(fail);
  EXPECT_FALSE(dev.control_transfer(0x40, 0x25, cs, 2, 0, 0));
  EXPECT_EQ(dev.getLastError(), -7);
}

}  // namespace
