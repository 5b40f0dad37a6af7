// The simulated USB device list, the open sequence, faults and the transfer log,
// seen through plain libusb calls.
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "simtest.h"

using namespace kelvosim;

namespace {

struct TlistEntry {
  TdevConfig cfg;
  uint8_t expectAddress;
  std::string expectSerial;  // empty: no serial string index
};

TdevConfig withPorts(TdevConfig c, uint8_t bus, std::vector<uint8_t> ports, std::string serial) {
  c.Fbus = bus;
  c.Fports = std::move(ports);
  c.Fserial = std::move(serial);
  return c;
}

}  // namespace

TEST_F(TsimTest, DeviceListShowsEveryDeviceWithItsProperties) {
  TdevConfig hub = otherConfig(0x1D6B, 0x0002);
  hub.FbcdDevice = 0x0515;
  hub.Faddress = 1;
  TdevConfig odd = board1200Config(kelvo::PRODUCT_ID_BRIDGE);
  odd.FbcdDevice = 0x0123;
  const std::vector<TlistEntry> table = {
      {hub, 1, ""},
      {withPorts(boardConfig(), 1, {2}, "KV42"), 2, "KV42"},
      {withPorts(odd, 3, {1, 4, 2}, "X"), 2, "X"},
      {withPorts(boardConfig(), 1, {3}, ""), 3, ""},
  };
  for (const TlistEntry& e : table) addDevice(e.cfg);

  libusb_device** list = nullptr;
  ASSERT_EQ(libusb_get_device_list(nullptr, &list), static_cast<ssize_t>(table.size()));
  EXPECT_EQ(list[table.size()], nullptr);
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    const TdevConfig& c = table[i].cfg;
    libusb_device_descriptor d = {};
    ASSERT_EQ(libusb_get_device_descriptor(list[i], &d), 0);
    EXPECT_EQ(d.idVendor, c.Fvendor);
    EXPECT_EQ(d.idProduct, c.Fproduct);
    EXPECT_EQ(d.bcdDevice, c.FbcdDevice);
    EXPECT_EQ(d.iSerialNumber, table[i].expectSerial.empty() ? 0 : 3);
    EXPECT_EQ(libusb_get_bus_number(list[i]), c.Fbus);
    EXPECT_EQ(libusb_get_device_address(list[i]), table[i].expectAddress);
    EXPECT_EQ(libusb_get_device_speed(list[i]), LIBUSB_SPEED_FULL);
    uint8_t ports[7] = {};
    const int n = libusb_get_port_numbers(list[i], ports, 7);
    EXPECT_EQ(Tbytes(ports, ports + (n > 0 ? n : 0)), c.Fports);
    if (table[i].expectSerial.empty()) continue;
    libusb_device_handle* h = nullptr;
    ASSERT_EQ(libusb_open(list[i], &h), 0);
    unsigned char text[256] = {};
    EXPECT_EQ(libusb_get_string_descriptor_ascii(h, d.iSerialNumber, text, sizeof text),
              static_cast<int>(table[i].expectSerial.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), table[i].expectSerial);
    libusb_close(h);
  }
  uint8_t one[1];
  EXPECT_EQ(libusb_get_port_numbers(list[2], one, 1), LIBUSB_ERROR_OVERFLOW);
  libusb_free_device_list(list, 1);
}

// Each step of the board layer's open sequence against a device set up one way.
struct TopenCase {
  const char* name;
  std::function<void(TdevConfig&)> setup;
  int openRc;
  int config;  // what libusb_get_configuration reads (after a forced failure: rc)
  int getConfigRc;
  int driverActive;  // libusb_kernel_driver_active result before any detach
  int claimRc;       // claim after a detach where one was needed
};

TEST_F(TsimTest, OpenSequenceStepsFollowTheDeviceSetUp) {
  const std::vector<TopenCase> table = {
      {"plain", [](TdevConfig&) {}, 0, 1, 0, 0, 0},
      {"unconfigured", [](TdevConfig& c) { c.FactiveConfig = 0; }, 0, 0, 0, 0, 0},
      {"kernel driver", [](TdevConfig& c) { c.FkernelDriver = true; }, 0, 1, 0, 1, 0},
      {"held elsewhere", [](TdevConfig& c) { c.FheldElsewhere = true; }, 0, 1, 0, 0, LIBUSB_ERROR_BUSY},
      {"open refused", [](TdevConfig& c) { c.FopenResult = LIBUSB_ERROR_ACCESS; }, LIBUSB_ERROR_ACCESS, 0, 0, 0, 0},
      {"configuration unreadable", [](TdevConfig& c) { c.FgetConfigResult = LIBUSB_ERROR_IO; }, 0, 99, LIBUSB_ERROR_IO,
       0, 0},
      {"driver query fails", [](TdevConfig& c) { c.FdriverActiveResult = LIBUSB_ERROR_OTHER; }, 0, 1, 0,
       LIBUSB_ERROR_OTHER, 0},
  };
  for (const TopenCase& t : table) {
    SCOPED_TRACE(t.name);
    reset();
    TdevConfig c = boardConfig();
    t.setup(c);
    addDevice(c);
    libusb_device** list = nullptr;
    ASSERT_EQ(libusb_get_device_list(nullptr, &list), 1);
    libusb_device_handle* h = nullptr;
    ASSERT_EQ(libusb_open(list[0], &h), t.openRc);
    libusb_free_device_list(list, 1);
    if (t.openRc != 0) continue;
    int config = 99;
    EXPECT_EQ(libusb_get_configuration(h, &config), t.getConfigRc);
    EXPECT_EQ(config, t.config);
    if (config == 0) {
      EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_NOT_FOUND);  // no interface yet
      EXPECT_EQ(libusb_set_configuration(h, 1), 0);
    }
    const int active = libusb_kernel_driver_active(h, 0);
    EXPECT_EQ(active, t.driverActive);
    if (active == 1) {
      EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_BUSY);
      EXPECT_EQ(libusb_set_configuration(h, 1), LIBUSB_ERROR_BUSY);
      EXPECT_EQ(libusb_detach_kernel_driver(h, 0), 0);
      EXPECT_EQ(libusb_detach_kernel_driver(h, 0), LIBUSB_ERROR_NOT_FOUND);
    }
    EXPECT_EQ(libusb_claim_interface(h, 0), t.claimRc);
    const TusbState s = usbState(0);
    EXPECT_EQ(s.Fclaimed, t.claimRc == 0);
    EXPECT_EQ(s.FsetConfigs, t.config == 0 ? 1u : 0u);
    EXPECT_EQ(s.FactiveConfig, 1);
    if (t.claimRc == 0) {
      EXPECT_EQ(libusb_release_interface(h, 0), 0);
    }
    EXPECT_EQ(libusb_release_interface(h, 0), LIBUSB_ERROR_NOT_FOUND);
    libusb_close(h);
    const TusbState after = usbState(0);
    EXPECT_EQ(after.FkernelDriver, false);  // a detached driver stays detached
    EXPECT_EQ(after.FopenHandles, 0);
    EXPECT_FALSE(after.FclosedWhileClaimed);
  }
  ASSERT_EQ(libusb_init(nullptr), 0);  // reset() dropped the fixture's context
}

TEST_F(TsimTest, SecondHandleCannotClaimAndCloseReleasesTheClaim) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  libusb_device* dev = libusb_get_device(Fh);
  libusb_device_handle* other = nullptr;
  ASSERT_EQ(libusb_open(dev, &other), 0);
  EXPECT_EQ(libusb_claim_interface(other, 0), LIBUSB_ERROR_BUSY);
  libusb_close(Fh);  // closed without releasing
  Fh = nullptr;
  EXPECT_TRUE(usbState(0).FclosedWhileClaimed);
  EXPECT_EQ(libusb_claim_interface(other, 0), 0);
  EXPECT_EQ(libusb_release_interface(other, 0), 0);
  libusb_close(other);
}

TEST_F(TsimTest, StringDescriptorsAndTheirFailure) {
  TdevConfig c = boardConfig();
  c.Fserial = std::string(200, 'S');  // longer than a descriptor holds
  addDevice(c);
  TdevConfig broken = boardConfig();
  broken.FstringResult = LIBUSB_ERROR_PIPE;
  addDevice(broken);
  ASSERT_TRUE(openBoard(0));
  unsigned char text[256];
  EXPECT_EQ(libusb_get_string_descriptor_ascii(Fh, 3, text, sizeof text), 126);
  EXPECT_EQ(libusb_get_string_descriptor_ascii(Fh, 1, text, sizeof text), 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "Silicon Labs");
  EXPECT_EQ(libusb_get_string_descriptor_ascii(Fh, 3, text, 5), 4);  // cut to the buffer
  EXPECT_EQ(libusb_get_string_descriptor_ascii(Fh, 9, text, sizeof text), LIBUSB_ERROR_PIPE);
  EXPECT_EQ(libusb_get_string_descriptor_ascii(Fh, 0, text, sizeof text), LIBUSB_ERROR_INVALID_PARAM);
  closeBoard();
  ASSERT_TRUE(openBoard(1));
  EXPECT_EQ(libusb_get_string_descriptor_ascii(Fh, 3, text, sizeof text), LIBUSB_ERROR_PIPE);
}

TEST_F(TsimTest, UnplugAfterTransfersAndReplug) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());  // its Get_USB_Config is one transfer
  unplugAfter(0, 3);
  uint8_t v[2];
  for (int i = 0; i < 3; ++i) EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), 2);
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(libusb_claim_interface(Fh, 0), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_FALSE(usbState(0).Fpresent);
  libusb_device** list = nullptr;
  EXPECT_EQ(libusb_get_device_list(nullptr, &list), 0);
  libusb_free_device_list(list, 1);
  setUsercode(0, 0x12345678);
  replug(0);
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), LIBUSB_ERROR_NO_DEVICE);
  closeBoard();
  ASSERT_TRUE(openBoard());
  EXPECT_EQ(libusb_get_device_address(libusb_get_device(Fh)), 3);  // a new address
  EXPECT_EQ(fpgaState(0).Fusercode, 0x12345678u);                  // flash survives power loss
}

TEST_F(TsimTest, DeviceListFailureAndMisuseAreReported) {
  addDevice(boardConfig());
  setListResult(LIBUSB_ERROR_NO_MEM);
  libusb_device** list = nullptr;
  EXPECT_EQ(libusb_get_device_list(nullptr, &list), LIBUSB_ERROR_NO_MEM);
  EXPECT_EQ(openLists(), 0);
  setListResult(0);
  const unsigned before = misuseCount();
  libusb_exit(nullptr);
  ASSERT_EQ(libusb_get_device_list(nullptr, &list), 1);  // without a context
  EXPECT_EQ(misuseCount(), before + 1);
  libusb_free_device_list(list, 1);
  libusb_free_device_list(list, 1);  // twice
  EXPECT_EQ(misuseCount(), before + 2);
  libusb_device_handle* stale = reinterpret_cast<libusb_device_handle*>(&list);
  uint8_t v[2];
  EXPECT_EQ(libusb_control_transfer(stale, 0xC0, 0x11, 0, 0, v, 2, 1000), LIBUSB_ERROR_INVALID_PARAM);
  EXPECT_EQ(misuseCount(), before + 3);
  ASSERT_EQ(libusb_init(nullptr), 0);
}

// Transfer faults: which of a run of Get_Readonly_Version requests fail, and how.
struct TfaultCase {
  const char* name;
  TfaultRule rule;
  std::vector<int> results;  // of six requests in a row
};

TfaultRule rule(TxferKind kind, int request, unsigned skip, unsigned count, int rc, unsigned shortBy) {
  TfaultRule r;
  r.Fkind = kind;
  r.Frequest = request;
  r.Fskip = skip;
  r.Fcount = count;
  r.Fresult = rc;
  r.FshortBy = shortBy;
  return r;
}

TEST_F(TsimTest, TransferFaultsHitTheChosenTransfers) {
  const std::vector<TfaultCase> table = {
      {"second fails", rule(XK_CONTROL, 0x11, 1, 1, LIBUSB_ERROR_IO, 0), {2, -1, 2, 2, 2, 2}},
      {"all from the third", rule(XK_CONTROL, 0x11, 2, 0, LIBUSB_ERROR_PIPE, 0), {2, 2, -9, -9, -9, -9}},
      {"two short", rule(XK_ANY, -1, 0, 2, 0, 1), {1, 1, 2, 2, 2, 2}},
      {"other request", rule(XK_CONTROL, 0x60, 0, 0, LIBUSB_ERROR_IO, 0), {2, 2, 2, 2, 2, 2}},
      {"bulk only", rule(XK_BULK_OUT, -1, 0, 0, LIBUSB_ERROR_IO, 0), {2, 2, 2, 2, 2, 2}},
  };
  for (const TfaultCase& t : table) {
    SCOPED_TRACE(t.name);
    closeBoard();
    reset();
    ASSERT_EQ(libusb_init(nullptr), 0);
    addDevice(boardConfig());
    ASSERT_TRUE(openBoard());
    addFault(t.rule);
    std::vector<int> got;
    for (size_t i = 0; i < t.results.size(); ++i) {
      uint8_t v[2] = {};
      got.push_back(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000));
    }
    EXPECT_EQ(got, t.results);
    libusb_exit(nullptr);
  }
  ASSERT_EQ(libusb_init(nullptr), 0);
}

TEST_F(TsimTest, BulkFaultsFailOrShortenWithoutDelivering) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  ASSERT_TRUE(selectChannel(1));
  TfaultRule out = rule(XK_BULK_OUT, -1, 0, 1, LIBUSB_ERROR_TIMEOUT, 0);
  addFault(out);
  clearLog();
  Tbytes w = header(1, 2);
  w.push_back(0x44);
  w.push_back(0x81);
  int moved = -1;
  EXPECT_EQ(libusb_bulk_transfer(Fh, FepOut, w.data(), 10, &moved, 1000), LIBUSB_ERROR_TIMEOUT);
  EXPECT_EQ(moved, 0);
  EXPECT_TRUE(spiLog().empty());  // nothing reached the bridge
  clearFaults();
  addFault(rule(XK_BULK_IN, -1, 0, 1, 0, 2));
  ASSERT_TRUE(bulkOut(header(0, 5)));
  Tbytes in(5);
  EXPECT_EQ(libusb_bulk_transfer(Fh, FepIn, in.data(), 5, &moved, 1000), 0);
  EXPECT_EQ(moved, 3);
  EXPECT_EQ(bridgeState(0).FpendingIn, 2u);
}

TEST_F(TsimTest, LogHoldsEveryTransferInMemoryAndInTheFile) {
  addDevice(boardConfig());
  const std::string path = ::testing::TempDir() + "kelvosim_log.txt";
  ASSERT_TRUE(setLogFile(path));
  ASSERT_TRUE(openBoard());
  clearLog();
  ASSERT_TRUE(selectChannel(1));
  ASSERT_TRUE(spiWrite({0x4C, 0x83}));
  const std::vector<TxferRecord> log = transfers();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].Fseq, 0u);
  EXPECT_EQ(log[0].Fkind, XK_CONTROL);
  EXPECT_EQ(log[0].Fdata, Tbytes({1, 2}));
  EXPECT_EQ(log[1].Fkind, XK_BULK_OUT);
  EXPECT_EQ(log[1].Fdata, Tbytes({0, 0, 1, 0, 2, 0, 0, 0, 0x4C, 0x83}));
  EXPECT_GT(log[1].Ftick, log[0].Ftick);
  EXPECT_EQ(formatRecord(log[0]), "C 0 40 25 0000 0000 2 2 : 01 02");
  EXPECT_EQ(formatRecord(log[1]), "B 0 01 10 0 10 : 00 00 01 00 02 00 00 00 4c 83");
  ASSERT_TRUE(setLogFile(""));
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 3u);  // open's Get_USB_Config, then the two above
  EXPECT_EQ(lines[lines.size() - 2], formatRecord(log[0]));
  EXPECT_EQ(lines.back(), formatRecord(log[1]));
  std::remove(path.c_str());
}

TEST_F(TsimTest, PlainDeviceStallsVendorRequestsAndHasNoBulkEndpoints) {
  addDevice(otherConfig(0x046D, 0xC52B));
  libusb_device** list = nullptr;
  ASSERT_EQ(libusb_get_device_list(nullptr, &list), 1);
  ASSERT_EQ(libusb_open(list[0], &Fh), 0);
  libusb_config_descriptor* cfg = nullptr;
  ASSERT_EQ(libusb_get_active_config_descriptor(list[0], &cfg), 0);
  EXPECT_EQ(cfg->interface->altsetting->bNumEndpoints, 0);
  libusb_free_config_descriptor(cfg);
  libusb_free_device_list(list, 1);
  ASSERT_EQ(libusb_claim_interface(Fh, 0), 0);
  uint8_t v[2];
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), LIBUSB_ERROR_PIPE);
  int moved = 0;
  EXPECT_EQ(libusb_bulk_transfer(Fh, 0x01, v, 2, &moved, 1000), LIBUSB_ERROR_IO);
}

TEST_F(TsimTest, AutoDetachLendsTheDriverForTheClaim) {
  TdevConfig c = boardConfig();
  c.FkernelDriver = true;
  addDevice(c);
  libusb_device** list = nullptr;
  ASSERT_EQ(libusb_get_device_list(nullptr, &list), 1);
  ASSERT_EQ(libusb_open(list[0], &Fh), 0);
  libusb_free_device_list(list, 1);
  EXPECT_EQ(libusb_claim_interface(Fh, 0), LIBUSB_ERROR_BUSY);
  ASSERT_EQ(libusb_set_auto_detach_kernel_driver(Fh, 1), 0);
  EXPECT_EQ(libusb_claim_interface(Fh, 0), 0);
  EXPECT_EQ(libusb_kernel_driver_active(Fh, 0), 0);
  EXPECT_EQ(libusb_release_interface(Fh, 0), 0);
  EXPECT_EQ(libusb_kernel_driver_active(Fh, 0), 1);
  EXPECT_EQ(usbState(0).Fdetaches, 1u);
}
