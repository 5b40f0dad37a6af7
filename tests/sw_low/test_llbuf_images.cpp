// Message building and the embedded configuration images: no board involved.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "mxbase.h"
#include "vklow.h"
#include "vkxo2_1200dat.h"
#include "vkxo2_640dat.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct BufCase {
  const char* name;
  std::function<void(TllBuf&)> build;
  Bytes expect;
};

TEST(TllBuf, AppendersProduceTheirBytes) {
  const BufCase cases[] = {
      {"byte keeps low 8 bits", [](TllBuf& b) { b.byte(0x1A5); }, {0xA5}},
      {"wordLE", [](TllBuf& b) { b.wordLE(0x1234); }, {0x34, 0x12}},
      {"wordBE", [](TllBuf& b) { b.wordBE(0x1234); }, {0x12, 0x34}},
      {"dwordLE", [](TllBuf& b) { b.dwordLE(0x12345678); }, {0x78, 0x56, 0x34, 0x12}},
      {"dwordBE", [](TllBuf& b) { b.dwordBE(0x12345678); }, {0x12, 0x34, 0x56, 0x78}},
      {"ta masks to 6 bits", [](TllBuf& b) { b.ta(14).ta(0x7F); }, {0x4E, 0x7F}},
      {"td masks to 6 bits", [](TllBuf& b) { b.td(0x3F).td(0x40).td(0xC1); }, {0xBF, 0x80, 0x81}},
      {"tdBE high nibble first", [](TllBuf& b) { b.tdBE(0x56); }, {0x85, 0x86}},
      {"chain", [](TllBuf& b) { b.ta(12).td(0x10).byte(0).wordBE(0xBEEF); }, {0x4C, 0x90, 0x00, 0xBE, 0xEF}},
  };
  for (const auto& c : cases) {
    TllBuf b;
    c.build(b);
    EXPECT_EQ(b.buf(), c.expect) << c.name;
    EXPECT_EQ(b.length(), c.expect.size()) << c.name;
  }
  TllBuf first(0x4E);
  EXPECT_EQ(first.buf(), Bytes{0x4E});
}

uint32_t wordSum(const uint8_t* data, uint32_t len) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < len; i += 4)
    sum += uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 | uint32_t(data[i + 2]) << 8 | data[i + 3];
  return sum;
}

TEST(Images, ShapeAndChecksumMatchTheUsercodes) {
  struct ImageCase {
    const char* name;
    const uint8_t* data;
    size_t size;
    uint32_t frames, checksum, expectFrames, expectChecksum;
    int model;
  };
  const ImageCase cases[] = {
      {"640HC", XO2_640HC::fpgaConfigData, sizeof XO2_640HC::fpgaConfigData, XO2_640HC::fpgaConfigNumFrames,
       XO2_640HC::fpgaConfigChecksum, 599, 0x8E5AEC17, 0},
      {"1200HC", XO2_1200HC::fpgaConfigData, sizeof XO2_1200HC::fpgaConfigData, XO2_1200HC::fpgaConfigNumFrames,
       XO2_1200HC::fpgaConfigChecksum, 792, 0x5EF2715F, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.frames, c.expectFrames) << c.name;
    EXPECT_EQ(c.checksum, c.expectChecksum) << c.name;
    ASSERT_EQ(c.size, c.expectFrames * 16u + 1) << c.name;
    EXPECT_EQ(c.data[c.size - 1], 0x00) << c.name;
    EXPECT_EQ(wordSum(c.data, c.expectFrames * 16), c.expectChecksum) << c.name;
    EXPECT_EQ(TvkLow::imageData(c.model), c.data) << c.name;
    EXPECT_EQ(TvkLow::imageFrames(c.model), c.expectFrames) << c.name;
    EXPECT_EQ(TvkLow::imageChecksum(c.model), c.expectChecksum) << c.name;
  }
}

TEST(TvkLowHelpers, GetNFoldsBigEndianAndErrsCounts) {
  EXPECT_EQ(TvkLow::getN({}), 0u);
  EXPECT_EQ(TvkLow::getN({0x01, 0x2B, 0xA0, 0x43}), 0x012BA043u);
  EXPECT_EQ(TvkLow::getN({1, 2, 3, 4, 5, 6, 7, 8}), 0x0102030405060708ull);
  EXPECT_EQ(TvkLow::errs(true), 0);
  EXPECT_EQ(TvkLow::errs(false), 1);
}

}  // namespace
