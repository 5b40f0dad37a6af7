// The shipped configuration images are generated stand-ins without capture logic:
// a board whose design differs from them keeps its design and counts as ready, one
// that runs no design fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "kelvosim.h"
#include "libvklow.h"
#include "qxwait.h"
#include "simbus.h"
#include "vklothrd.h"

namespace {

using namespace std::chrono_literals;

// Channel 0 commands of a reload: erase, address reset, pages, done, refresh, USERCODE,
// feature bits.
unsigned flashWrites() {
  unsigned n = 0;
  for (const simbus::Bytes& m : simbus::spiMosi(0))
    if (!m.empty() &&
        (m[0] == 0x0E || m[0] == 0x46 || m[0] == 0x70 || m[0] == 0x5E || m[0] == 0x79 || m[0] == 0xC2 || m[0] == 0xF8))
      ++n;
  return n;
}

TEST(StandInImages, AreNeverWrittenToABoardWithAnotherDesign) {
  const struct {
    const char* name;
    kelvosim::TdevConfig board;
    uint32_t usercode;
  } cases[] = {
      {"1200HC, older design", kelvosim::board1200Config(), 0x5EF2715E},
      {"640HC, other design", kelvosim::boardConfig(), 0x12345678},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kelvosim::reset();
    kelvosim::TdevConfig board = c.board;
    board.Fusercode = c.usercode;
    kelvosim::addDevice(board);
    {
      TloThread lo;
      for (int i = 0; i < 1000 && lo.getThreadState() != LO_ARMED; ++i) std::this_thread::sleep_for(10ms);
      EXPECT_EQ(lo.getThreadState(), LO_ARMED);
      EXPECT_EQ(lo.getHardwareStatus(), HW_OK);
    }
    {
      TlibVkLow lib;
      ASSERT_TRUE(lib.snifferOpen());
      EXPECT_TRUE(lib.updateFPGA(true)) << "forced";
    }
    EXPECT_EQ(flashWrites(), 0u);
    const kelvosim::TfpgaState f = kelvosim::fpgaState(0);
    EXPECT_EQ(f.Fusercode, c.usercode);
    EXPECT_TRUE(f.Fconfigured);
    EXPECT_EQ(f.Fmode, kelvosim::CM_USER);
  }
  kelvosim::reset();
}

// A board that cannot be used says why in the trace, and is left as it was.
TEST(StandInImages, BoardWithoutAUsableDesignFailsAndTheTraceSaysWhy) {
  const struct {
    const char* name;
    uint32_t idcode, usercode;
    bool flashValid;
    int status;
    const char* trace;  // part of the trace, or null: no complaint at all
  } cases[] = {
      {"640HC, flash erased", kelvosim::IDCODE_640HC, 0, false, HW_INIT_FAILED,
       "FPGA runs no design (status 01802200, Done=0, Fail=1)"},
      // USERCODE outlives an image that no longer boots: it must not pass for current.
      {"640HC, current USERCODE, no design", kelvosim::IDCODE_640HC, kelvosim::USERCODE_640HC, false, HW_INIT_FAILED,
       "FPGA runs no design (status 01802200, Done=0, Fail=1)"},
      {"1200HC, current USERCODE, no design", kelvosim::IDCODE_1200HC, kelvosim::USERCODE_1200HC, false,
       HW_INIT_FAILED, "FPGA runs no design (status 01802200, Done=0, Fail=1)"},
      {"1200HC, older design", kelvosim::IDCODE_1200HC, 0x5EF2715E, true, HW_OK, nullptr},
      {"unknown IDCODE", 0x012BB043, kelvosim::USERCODE_640HC, true, HW_INIT_FAILED, "unknown FPGA IDCODE 012bb043"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kelvosim::reset();
    kelvosim::TdevConfig board = kelvosim::boardConfig();
    board.Fidcode = c.idcode;
    board.Fusercode = c.usercode;
    board.FflashValid = c.flashValid;
    kelvosim::addDevice(board);
    const kelvosim::TfpgaState before = kelvosim::fpgaState(0);
    setenv("QX_BOARD_TRACE", "1", 1);
    ::testing::internal::CaptureStderr();
    {
      TloThread lo;
      EXPECT_TRUE(qxtest::waitFor([&] { return lo.getHardwareStatus() != HW_NOT_FOUND; }));
      EXPECT_EQ(lo.getHardwareStatus(), c.status);
    }
    const std::string trace = ::testing::internal::GetCapturedStderr();
    unsetenv("QX_BOARD_TRACE");
    if (c.trace)
      EXPECT_NE(trace.find(c.trace), std::string::npos) << trace;
    else
      EXPECT_EQ(trace.find("board:"), std::string::npos) << trace;
    EXPECT_EQ(flashWrites(), 0u);
    const kelvosim::TfpgaState after = kelvosim::fpgaState(0);
    EXPECT_EQ(after.Fusercode, before.Fusercode);
    EXPECT_EQ(after.Fconfigured, before.Fconfigured);
  }
  kelvosim::reset();
}

}  // namespace
