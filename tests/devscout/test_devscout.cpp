// devscout against simulated device lists: the whole output text and the exit code,
// in-process (kelvosim_static) and as the real program with the simulator preloaded.
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <string>

#include "kelvosim.h"

int devscoutMain();

using namespace kelvosim;

namespace {

// "Mmm dd yyyy hh:mm:ss" with the day padded by a blank: each character's class.
bool isBuildStamp(const std::string& s) {
  const std::string shape = "Aaa Dd dddd dd:dd:dd";
  if (s.size() != shape.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool ok = shape[i] == 'A'   ? std::isupper(c)
                    : shape[i] == 'a' ? std::islower(c)
                    : shape[i] == 'd' ? std::isdigit(c)
                    : shape[i] == 'D' ? (c == ' ' || (c >= '1' && c <= '3'))
                                      : c == static_cast<unsigned char>(shape[i]);
    if (!ok) return false;
  }
  return true;
}

// Splits the version line, which carries the build stamp, off the output.
bool splitVersion(const std::string& out, std::string& rest) {
  const std::string head = "devscout [Version: ";
  const size_t nl = out.find('\n');
  if (nl == std::string::npos || out.compare(0, head.size(), head) != 0 || nl < head.size() + 1 || out[nl - 1] != ']' ||
      !isBuildStamp(out.substr(head.size(), nl - 1 - head.size())))
    return false;
  rest = out.substr(nl + 1);
  return true;
}

const char* const LIST_HEAD = "\nscanning for USB devices...";

struct Tcase {
  const char* name;
  std::function<void()> setup;
  std::string out;  // after the version line
  int exitCode;
  std::function<void()> check;
};

std::vector<Tcase> cases() {
  return {
      {"no devices", [] {},
       std::string(LIST_HEAD) + " 0 USB devices detected\n\n\ncould not detect a Kelvo board.\n\nFAILED\n", 1, [] {}},
      {"board with product id 0x87A0 only", [] { addDevice(boardConfig(kelvo::PRODUCT_ID_BRIDGE)); },
       std::string(LIST_HEAD) + " 1 USB devices detected\n\n   0  VID=10c4  PID=87a0  bcdDevice=0100"
                                "\n\ncould not detect a Kelvo board.\n\nFAILED\n",
       1, [] { EXPECT_EQ(usbState(0).Fopens, 0u); }},
      {"two boards",
       [] {
         addDevice(otherConfig(0x1D6B, 0x0002));
         TdevConfig second = boardConfig();
         second.FbcdDevice = 0x0200;
         addDevice(boardConfig());
         addDevice(second);
       },
       std::string(LIST_HEAD) + " 3 USB devices detected\n"
                                "\n   0  VID=1d6b  PID=0002  bcdDevice=0200"
                                "\n   1  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                                "\n   2  VID=10c4  PID=8c57  bcdDevice=0200"
                                "\n\nQuellix (#1) detected... attempting to open... opened/closed OK.\n\nSUCCEEDED\n",
       0,
       [] {
         const TusbState s = usbState(1);
         EXPECT_EQ(s.Fclaims, 1u);
         EXPECT_EQ(s.Freleases, 1u);
         EXPECT_EQ(s.Fcloses, 1u);
         EXPECT_EQ(usbState(2).Fopens, 0u);
       }},
      {"claim held elsewhere",
       [] {
         TdevConfig c = boardConfig();
         c.FheldElsewhere = true;
         addDevice(c);
       },
       std::string(LIST_HEAD) + " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                                "\n\nQuellix (#0) detected... attempting to open... could not be opened.\n\nFAILED\n",
       1,
       [] {
         EXPECT_EQ(usbState(0).Fopens, 1u);
         EXPECT_EQ(usbState(0).Fcloses, 1u);
       }},
      {"kernel driver attached",
       [] {
         TdevConfig c = boardConfig();
         c.FkernelDriver = true;
         addDevice(c);
       },
       std::string(LIST_HEAD) + " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                                "\n\nQuellix (#0) detected... attempting to open... opened/closed OK.\n\nSUCCEEDED\n",
       0,
       [] {
         EXPECT_EQ(usbState(0).Fdetaches, 1u);
         EXPECT_FALSE(usbState(0).FkernelDriver);  // stays detached
       }},
      {"unconfigured board",
       [] {
         TdevConfig c = boardConfig();
         c.FactiveConfig = 0;
         addDevice(c);
       },
       std::string(LIST_HEAD) + " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                                "\n\nQuellix (#0) detected... attempting to open... opened/closed OK.\n\nSUCCEEDED\n",
       0, [] { EXPECT_EQ(usbState(0).FsetConfigs, 1u); }},
      {"configuration unreadable",
       [] {
         TdevConfig c = boardConfig();
         c.FgetConfigResult = LIBUSB_ERROR_IO;
         addDevice(c);
       },
       std::string(LIST_HEAD) + " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                                "\n\nQuellix (#0) detected... attempting to open... could not be opened.\n\nFAILED\n",
       1, [] { EXPECT_EQ(usbState(0).Fcloses, 1u); }},
      {"open refused",
       [] {
         TdevConfig c = boardConfig();
         c.FopenResult = LIBUSB_ERROR_ACCESS;
         addDevice(c);
       },
       std::string(LIST_HEAD) + " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                                "\n\nQuellix (#0) detected... attempting to open... could not be opened.\n\nFAILED\n",
       1, [] { EXPECT_EQ(usbState(0).Fopens, 0u); }},
      {"scan fails", [] { setListResult(LIBUSB_ERROR_NO_MEM); }, std::string(LIST_HEAD) + " error when scanning\n", 1,
       [] {}},
      {"index in a field of four",
       [] {
         for (int i = 0; i < 10; ++i) addDevice(otherConfig(0x046D, static_cast<uint16_t>(0xC000 + i)));
         addDevice(boardConfig());
       },
       [] {
         std::string s = std::string(LIST_HEAD) + " 11 USB devices detected\n";
         for (int i = 0; i < 10; ++i) {
           char line[64];
           std::snprintf(line, sizeof line, "\n   %d  VID=046d  PID=c00%d  bcdDevice=0200", i, i);
           s += line;
         }
         return s +
                "\n  10  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
                "\n\nQuellix (#10) detected... attempting to open... opened/closed OK.\n\nSUCCEEDED\n";
       }(),
       0, [] {}},
  };
}

}  // namespace

TEST(Devscout, InProcessOutputAndExitCode) {
  for (const Tcase& t : cases()) {
    SCOPED_TRACE(t.name);
    reset();
    t.setup();
    testing::internal::CaptureStdout();
    const int rc = devscoutMain();
    const std::string out = testing::internal::GetCapturedStdout();
    std::string rest;
    ASSERT_TRUE(splitVersion(out, rest)) << out;
    EXPECT_EQ(rest, t.out);
    EXPECT_EQ(rc, t.exitCode);
    t.check();
    EXPECT_EQ(openHandles(), 0);
    EXPECT_EQ(openLists(), 0);
    EXPECT_EQ(contextRefs(), 0);
    EXPECT_EQ(misuseCount(), 0u);
  }
}

// The real program, linked to libusb, with the simulator preloaded.
TEST(Devscout, PreloadedRealProgram) {
  struct Tpre {
    const char* env;
    const char* out;
    int exitCode;
  };
  const std::vector<Tpre> table = {
      {"KELVOSIM_DEVICES=''", " 0 USB devices detected\n\n\ncould not detect a Kelvo board.\n\nFAILED\n", 1},
      {"KELVOSIM_DEVICES='board,pid=0x87a0'",
       " 1 USB devices detected\n\n   0  VID=10c4  PID=87a0  bcdDevice=0100\n\ncould not detect a Kelvo "
       "board.\n\nFAILED\n",
       1},
      {"KELVOSIM_DEVICES='board;board,bcd=0x0200'",
       " 2 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
       "\n   1  VID=10c4  PID=8c57  bcdDevice=0200"
       "\n\nQuellix (#0) detected... attempting to open... opened/closed OK.\n\nSUCCEEDED\n",
       0},
      {"KELVOSIM_DEVICES='board,held=1'",
       " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
       "\n\nQuellix (#0) detected... attempting to open... could not be opened.\n\nFAILED\n",
       1},
      {"KELVOSIM_DEVICES='board,driver=1'",
       " 1 USB devices detected\n\n   0  VID=10c4  PID=8c57  bcdDevice=0100  *** Quellix ***"
       "\n\nQuellix (#0) detected... attempting to open... opened/closed OK.\n\nSUCCEEDED\n",
       0},
  };
  for (const Tpre& t : table) {
    SCOPED_TRACE(t.env);
    const std::string cmd = std::string("env -u KELVOSIM_FAULTS ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=") +
                            KELVOSIM_SO + " " + t.env + " " + DEVSCOUT_PATH;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = pclose(p);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), t.exitCode);
    std::string rest;
    ASSERT_TRUE(splitVersion(out, rest)) << out;
    EXPECT_EQ(rest, std::string(LIST_HEAD) + t.out);
  }
}
