// The shipped configuration images are generated stand-ins without capture logic:
// a board whose design differs from them keeps its design and counts as ready.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "kelvosim.h"
#include "libvklow.h"
#include "simbus.h"
#include "vklothrd.h"

namespace {

using namespace std::chrono_literals;

// Channel 0 commands of a reload: erase, address reset, pages, done, USERCODE, feature bits.
unsigned flashWrites() {
  unsigned n = 0;
  for (const simbus::Bytes& m : simbus::spiMosi(0))
    if (!m.empty() && (m[0] == 0x0E || m[0] == 0x46 || m[0] == 0x70 || m[0] == 0x5E || m[0] == 0xC2 || m[0] == 0xF8))
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

}  // namespace
