// The hex dump's text, character for character.
#include <gtest/gtest.h>

#include "vkdpane.h"

namespace {

std::string dump(const TbyteVec& bytes) {
  return hexdump::heading(bytes.size()) + hexdump::columnHeader(bytes.size()) + hexdump::lines(bytes);
}

const std::string COLUMNS = "\n\n      0  1  2  3  4  5  6  7  01234567";

}  // namespace

TEST(HexDump, NoBytesIsNoDataAlone) {
  EXPECT_EQ(dump({}), " No Data");
  EXPECT_EQ(hexdump::columnHeader(0), "");
  EXPECT_EQ(hexdump::lines({}), "");
  EXPECT_EQ(COLUMNS.size(), 40u);
}

TEST(HexDump, ShortLineIsPaddedAndFirstOffsetSpacePadded) {
  EXPECT_EQ(dump({0x2d, 0x00, 0x10}), " 3 bytes" + COLUMNS + "\n  0: 2d 00 10" + std::string(15, ' ') + "  -..");
}

TEST(HexDump, EightAndNineBytes) {
  const TbyteVec eight = {'A', 'b', ' ', '~', 0x7f, 0x1f, 0x80, 0xff};
  EXPECT_EQ(dump(eight), " 8 bytes" + COLUMNS + "\n  0: 41 62 20 7e 7f 1f 80 ff  Ab ~....");
  TbyteVec nine = eight;
  nine.push_back(0x30);
  EXPECT_EQ(hexdump::lines(nine),
            "\n  0: 41 62 20 7e 7f 1f 80 ff  Ab ~...."
            "\n 08: 30" +
                std::string(21, ' ') + "  0");
  EXPECT_EQ(hexdump::heading(9), " 9 bytes");
}

TEST(HexDump, LaterOffsetsZeroPaddedAndGrowPast255) {
  TbyteVec bytes(264);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
  const std::string text = hexdump::lines(bytes);
  EXPECT_EQ(text.substr(0, 5), "\n  0:");
  EXPECT_NE(text.find("\n 08: 08 09"), std::string::npos);
  EXPECT_NE(text.find("\n 10: 10 11"), std::string::npos);
  EXPECT_NE(text.find("\n f8: f8 f9 fa fb fc fd fe ff  ........"), std::string::npos);
  EXPECT_NE(text.find("\n 100: 00 01"), std::string::npos);
  EXPECT_NE(text.find("\n 20: 20 21 22 23 24 25 26 27   !\"#$%&'"), std::string::npos);
  // 33 lines: each of the first 32 is 39 characters, the 256 offset one more.
  EXPECT_EQ(text.size(), 32u * 39 + 40);
  EXPECT_EQ(hexdump::heading(bytes.size()), " 264 bytes");
}
