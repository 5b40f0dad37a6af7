// Set-up from the environment (the preloaded form's only control) and the traffic
// sources that a test or the environment can choose.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "simtest.h"

using namespace kelvosim;

namespace {

const char* const VARS[] = {
    "KELVOSIM_DEVICES", "KELVOSIM_FAULTS",    "KELVOSIM_CAPTURE",   "KELVOSIM_TRAFFIC", "KELVOSIM_TICKS_PER_TRANSFER",
    "KELVOSIM_LOG",     "KELVOSIM_IMAGE_640", "KELVOSIM_IMAGE_1200"};

class TenvTest : public TsimTest {
 protected:
  void TearDown() override {
    for (const char* v : VARS) unsetenv(v);
    TsimTest::TearDown();
  }
  bool configure(std::vector<std::pair<const char*, std::string>> vars) {
    closeBoard();
    for (const char* v : VARS) unsetenv(v);
    for (const auto& kv : vars) setenv(kv.first, kv.second.c_str(), 1);
    const bool ok = configureFromEnv();
    libusb_init(nullptr);  // configureFromEnv() starts from a clean slate, contexts included
    return ok;
  }
  libusb_device_descriptor descriptor(int index) {
    libusb_device** list = nullptr;
    libusb_device_descriptor d = {};
    if (libusb_get_device_list(nullptr, &list) > index) libusb_get_device_descriptor(list[index], &d);
    libusb_free_device_list(list, 1);
    return d;
  }
};

}  // namespace

TEST_F(TenvTest, DeviceListFromTheEnvironment) {
  struct Tcase {
    const char* list;  // nullptr: unset
    bool ok;
    int devices;
  };
  const std::vector<Tcase> table = {
      {nullptr, true, 1},
      {"", true, 0},
      {"board;other;board", true, 3},
      {"board,bogus=1", false, 1},
      {"gadget;board", false, 1},
      {"board,pid=zz", false, 1},
  };
  for (const Tcase& t : table) {
    SCOPED_TRACE(t.list ? t.list : "(unset)");
    std::vector<std::pair<const char*, std::string>> vars;
    if (t.list) vars.push_back({"KELVOSIM_DEVICES", t.list});
    EXPECT_EQ(configure(vars), t.ok);
    EXPECT_EQ(deviceCount(), t.devices);
  }
  ASSERT_TRUE(configure({{"KELVOSIM_DEVICES",
                          "other,vid=0x1234,pid=0x5678;board,pid=0x87a0,bcd=0x0300,serial=AB,bus=3,ports=1.2,"
                          "config=0,driver=1,prio=0,idcode=0x012BA043;board,held=1;board,denied=1"}}));
  EXPECT_EQ(descriptor(0).idVendor, 0x1234);
  EXPECT_EQ(descriptor(1).idProduct, 0x87A0);
  EXPECT_EQ(descriptor(1).bcdDevice, 0x0300);
  EXPECT_EQ(fpgaState(1).Fidcode, IDCODE_1200HC);
  EXPECT_EQ(fpgaState(1).Fusercode, USERCODE_1200HC);  // the model's own image by default
  EXPECT_EQ(usbState(1).FactiveConfig, 0);
  EXPECT_EQ(bridgeState(1).FepIn, 0x81);
  libusb_device_handle* h = nullptr;
  libusb_device** list = nullptr;
  ASSERT_EQ(libusb_get_device_list(nullptr, &list), 4);
  EXPECT_EQ(libusb_get_bus_number(list[1]), 3);
  ASSERT_EQ(libusb_open(list[1], &h), 0);
  ASSERT_EQ(libusb_set_configuration(h, 1), 0);
  EXPECT_EQ(libusb_kernel_driver_active(h, 0), 1);  // the driver binds to the new interface
  ASSERT_EQ(libusb_detach_kernel_driver(h, 0), 0);
  EXPECT_EQ(libusb_claim_interface(h, 0), 0);
  libusb_close(h);
  EXPECT_EQ(libusb_open(list[3], &h), LIBUSB_ERROR_ACCESS);  // the user may not open it
  ASSERT_EQ(libusb_open(list[2], &h), 0);
  libusb_free_device_list(list, 1);
  EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_BUSY);  // held by another program
  libusb_close(h);
}

TEST_F(TenvTest, FaultsTrafficAndTimeFromTheEnvironment) {
  ASSERT_TRUE(configure({{"KELVOSIM_DEVICES", "board"},
                         {"KELVOSIM_FAULTS", "xfer=control,request=0x11,skip=1,count=1,rc=-7;unplug=3@0"},
                         {"KELVOSIM_TICKS_PER_TRANSFER", "5"}}));
  ASSERT_TRUE(openBoard());  // one transfer
  uint8_t v[2];
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), 2);
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), LIBUSB_ERROR_TIMEOUT);
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x11, 0, 0, v, 2, 1000), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(now(), 20u);
  EXPECT_FALSE(configure({{"KELVOSIM_FAULTS", "list=-3;unplug=x;xfer=sideways"}}));
  libusb_device** list = nullptr;
  EXPECT_EQ(libusb_get_device_list(nullptr, &list), LIBUSB_ERROR_ACCESS);
  EXPECT_FALSE(configure({{"KELVOSIM_TRAFFIC", "loud"}}));
  EXPECT_FALSE(configure({{"KELVOSIM_TICKS_PER_TRANSFER", "-1"}}));
}

TEST_F(TenvTest, CaptureFileIsReplayedAfterItsMagic) {
  const std::string path = ::testing::TempDir() + "kelvosim_capture.raw";
  const Tbytes body = {0x01, 0x82, 0x3F, 0x60, 0xBF, 0xC3};
  {
    std::ofstream out(path, std::ios::binary);
    out << "VARNOKE.";
    out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
  }
  ASSERT_TRUE(configure({{"KELVOSIM_CAPTURE", path}, {"KELVOSIM_TICKS_PER_TRANSFER", "0"}}));
  ASSERT_TRUE(openBoard());
  // Arm a run straight through the register port and let the bus time pass.
  ASSERT_TRUE(appWrite({0x4E, 0x80, 0x80, 0x8F, 0x44, 0x81, 0x44, 0x80, 0x4C, 0x91, 0x44, 0x82}));
  advanceTicks(1000000);
  EXPECT_EQ(captureState(0).Frecorded, 16u);
  ASSERT_TRUE(appWrite({0x40 | 35}));
  const Tbytes port = appRead(17);
  EXPECT_EQ(Tbytes(port.begin() + 1, port.begin() + 7), body);
  EXPECT_EQ(Tbytes(port.begin() + 7, port.begin() + 10), Tbytes({0x3F, 0xBF, 0xDF}));  // then an idle bus
  // A file without the magic is refused and the traffic stays as it was.
  {
    std::ofstream out(path, std::ios::binary);
    out << "VARNOKE";
  }
  EXPECT_FALSE(setTrafficFile(path));
  EXPECT_FALSE(setTrafficFile(path + ".missing"));
  EXPECT_FALSE(configure({{"KELVOSIM_CAPTURE", path}}));
  std::remove(path.c_str());
}

TEST_F(TenvTest, DefaultTrafficIsTheScenario) {
  reset();
  libusb_init(nullptr);
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  ASSERT_TRUE(appWrite({0x4E, 0x80, 0xBF, 0xBF, 0x44, 0x81, 0x44, 0x80, 0x4C, 0x91, 0x44, 0x82}));
  while (!captureState(0).Ffull) advanceTicks(12000);
  const Tbytes s = scenarioStream();
  EXPECT_EQ(captureState(0).Frecorded, 4096u);
  ASSERT_TRUE(appWrite({0x40 | 35}));
  const Tbytes port = appRead(4097);
  EXPECT_EQ(Tbytes(port.begin() + 1, port.end()), Tbytes(s.begin(), s.begin() + 4096));
}
