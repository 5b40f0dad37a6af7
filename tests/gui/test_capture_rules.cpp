// The Control page's number rules, without a window: field reading, number
// text, the buffer clamp, the percent rule and the status texts.
#include <gtest/gtest.h>

#include <cstdint>

#include "wxsPanes.h"

namespace {

TEST(CaptureRules, FieldReadingAndBufferClamp) {
  struct {
    const char* text;
    uint32_t read;
    uint32_t used;  // KBytes after the clamp
  } const cases[] = {
      {"", 0, 4},
      {"1", 1, 4},
      {"32", 32, 32},
      {"128", 128, 128},
      {"1000", 1000, 128},
      {"1,024", 1024, 128},
      {"1_2", 12, 12},
      {" -7 KB", 7, 7},
      {"4294967295", 4294967295u, 128},
      {"4294967296", 4294967295u, 128},  // saturates, no wrap to 0
      {"99999999999999999999", 4294967295u, 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TctlPage::wxstr2num(wxString::FromUTF8(c.text)), c.read);
    EXPECT_EQ(clampBufKB(TctlPage::wxstr2num(wxString::FromUTF8(c.text))), c.used);
  }
  EXPECT_EQ(TctlPage::wxstr2num(wxString::FromUTF8("١٢3")), 3u) << "only ASCII digits count";
}

TEST(CaptureRules, NumberTextAndPercent) {
  EXPECT_EQ(TctlPage::num2str(0), "0");
  EXPECT_EQ(TctlPage::num2str(999), "999");
  EXPECT_EQ(TctlPage::num2str(1000), "1_000");
  EXPECT_EQ(TctlPage::num2str(32768), "32_768");
  EXPECT_EQ(TctlPage::num2str(131061), "131_061");
  EXPECT_EQ(TctlPage::num2str(4294967295u), "4_294_967_295");

  struct {
    uint64_t shown, total;
    uint32_t p;
  } const cases[] = {{0, 0, 0},   {0, 100, 0},     {1, 3, 33},        {2, 3, 67}, {1, 200, 1},
                     {1, 201, 0}, {199, 200, 100}, {4096, 4096, 100}, {5, 4, 100}};
  for (const auto& c : cases) EXPECT_EQ(percentOf(c.shown, c.total), c.p) << c.shown << " of " << c.total;
}

TEST(CaptureRules, StatusTexts) {
  EXPECT_STREQ(hardwareStatusMsg(HW_OK), "Hardware Initialized OK");
  EXPECT_STREQ(hardwareStatusMsg(HW_NOT_FOUND), "Sniffer hardware not found");
  EXPECT_STREQ(hardwareStatusMsg(HW_INIT_FAILED), "Hardware initialization failed");
  EXPECT_STREQ(hardwareStatusMsg(HW_NO_MEMORY), "Memory allocation failed");
  EXPECT_STREQ(hardwareStatusMsg(-3), "Unexpected Problem during initialization.");
  EXPECT_STREQ(hardwareStatusMsg(1), "Unexpected Problem during initialization.");
  EXPECT_EQ(upBy(12, 3), 15);
}

}  // namespace
