// One capture at the board layer: arm, poll the count, idle, read the memory back,
// and find the magic and the simulated bus traffic in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "boardtest.h"
#include "kelvosim.h"
#include "libvklow.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t READ_LATENCY = 3;
constexpr uint32_t MAGIC_SIZE = 8;

class Capture : public TboardTest {
 protected:
  void SetUp() override {
    restart();
    kelvosim::addDevice(kelvosim::boardConfig());
    ASSERT_TRUE(lib().snifferOpen());
    ASSERT_TRUE(lib().updateFPGA(false));
  }

  // Polls until the memory is full or `maxPolls` count reads were made; returns
  // the bytes captured, or 0 when a read failed.
  uint32_t poll(uint32_t n, unsigned maxPolls, unsigned& polls) {
    for (polls = 0; polls < maxPolls;) {
      uint32_t v = 0;
      if (!lib().sniffGetCount(v)) return 0;
      ++polls;
      if (v & 0x20000) return n;
    }
    return 0;
  }

  // Reads `captured` bytes behind the magic and drops the read latency.
  Bytes readBack(uint32_t captured) {
    EXPECT_TRUE(lib().doIdle(captured));
    Bytes raw(captured + MAGIC_SIZE + READ_LATENCY, 0xEE);
    EXPECT_TRUE(lib().appRead(raw.data(), uint32_t(raw.size())));
    EXPECT_TRUE(lib().doIdle(0));
    raw.erase(raw.begin(), raw.begin() + READ_LATENCY);
    return raw;
  }
};

TEST_F(Capture, FullMemoryHoldsMagicThenTheBusStream) {
  const Bytes stream = kelvosim::scenarioStream();
  ASSERT_GT(stream.size(), 0u);
  for (uint32_t n : {1024u, 8192u, 131061u}) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(lib().doRun(n));
    unsigned polls = 0;
    const uint32_t captured = poll(n, 1000000, polls);
    ASSERT_EQ(captured, n) << "after " << polls << " polls";
    EXPECT_GE(polls, 1u);
    const auto st = kelvosim::captureState(0);
    EXPECT_EQ(st.Frecorded, n);
    EXPECT_EQ(st.FsramMode, kelvosim::SM_SQI);

    const Bytes raw = readBack(captured);
    ASSERT_EQ(raw.size(), n + MAGIC_SIZE);
    EXPECT_EQ(std::string(raw.begin(), raw.begin() + MAGIC_SIZE), "VARNOKE.");
    const size_t cmp = std::min<size_t>(n, stream.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.begin() + cmp, raw.begin() + MAGIC_SIZE))
        << "capture differs from the bus stream";
    const Bytes mem = kelvosim::sram(0);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), mem.begin())) << "memory and read-back differ";
  }
}

TEST_F(Capture, RunsRepeatFromAFreshStart) {
  const Bytes stream = kelvosim::scenarioStream();
  Bytes first;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(lib().doRun(2048));
    unsigned polls = 0;
    ASSERT_EQ(poll(2048, 1000000, polls), 2048u);
    const Bytes raw = readBack(2048);
    if (run == 0)
      first = raw;
    else
      EXPECT_EQ(raw, first);
  }
  EXPECT_EQ(kelvosim::captureState(0).Fruns, 2u);
}

TEST_F(Capture, QuietBusNeverFills) {
  kelvosim::setTrafficQuiet();
  ASSERT_TRUE(lib().doRun(1024));
  unsigned polls = 0;
  EXPECT_EQ(poll(1024, 200, polls), 0u);
  EXPECT_EQ(polls, 200u);
  uint32_t v = 0;
  ASSERT_TRUE(lib().sniffGetCount(v));
  EXPECT_EQ(v, 1025u);  // nothing recorded: n + 1, which reads back as 0 bytes
  EXPECT_TRUE(lib().doIdle(0));
}

TEST_F(Capture, BoardUnpluggedDuringPollFailsTheRead) {
  ASSERT_TRUE(lib().doRun(131061));
  kelvosim::unplug(0);
  uint32_t v = 123;
  EXPECT_FALSE(lib().sniffGetCount(v));
  EXPECT_EQ(v, 0u);
  Bytes raw(64);
  EXPECT_FALSE(lib().appRead(raw.data(), 64));
  uint8_t version[2];
  EXPECT_FALSE(lib().pLo()->get_readonly_version(version));
}

}  // namespace
