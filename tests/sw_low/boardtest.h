// Base fixture for tests that drive one TlibVkLow against the simulated board:
// the board object is made after the simulator's reset, so that its libusb use is
// counted, and at the end no handle, context or misuse may be left behind.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "kelvosim.h"
#include "libvklow.h"

class TboardTest : public ::testing::Test {
 protected:
  void TearDown() override { finish(); }

  void restart() {
    board.reset();
    kelvosim::reset();
    board = std::make_unique<TlibVkLow>();
  }
  void finish() {
    board.reset();
    EXPECT_EQ(kelvosim::misuseCount(), 0u);
    EXPECT_EQ(kelvosim::contextRefs(), 0);
    EXPECT_EQ(kelvosim::openHandles(), 0);
  }

  std::unique_ptr<TlibVkLow> board;
  TlibVkLow& lib() { return *board; }
};
