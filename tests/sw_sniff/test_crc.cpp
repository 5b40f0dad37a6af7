#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crc.h"
#include "linepacket.h"

namespace {

struct Crc16Case {
  const char* name;
  std::vector<uint8_t> bytes;
  uint16_t crc;
};

// "123456789" is the catalogue check value of CRC-16/USB; the two 4-byte
// payloads are the data packet examples of the USB CRC paper (its bit
// strings 1111011101011110 and 0111000000111000 read low bit first). {00}:
// 0xFFFF ^ 0x00 indexes table[0xFF] = 0x4040; 0x4040 ^ 0x00FF = 0x40BF,
// inverted 0xBF40, worked by hand.
const Crc16Case CRC16_CASES[] = {
    {"empty", {}, 0x0000},
    {"check", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xB4C8},
    {"paper 00010203", {0x00, 0x01, 0x02, 0x03}, 0x7AEF},
    {"paper 23456789", {0x23, 0x45, 0x67, 0x89}, 0x1C0E},
    {"one zero byte", {0x00}, 0xBF40},
    {"one FF byte", {0xFF}, 0xFF00},
};

TEST(Crc16, PublishedAndHandWorkedValues) {
  for (const auto& c : CRC16_CASES) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(crc::makeCRC16(c.bytes.data(), c.bytes.size()), c.crc);
    EXPECT_EQ(linegen::crc16(c.bytes.data(), c.bytes.size()), c.crc);
    EXPECT_TRUE(crc::checkCRC16(c.bytes.data(), c.bytes.size(), c.crc));
    for (int k = 0; k < 16; ++k)
      EXPECT_FALSE(crc::checkCRC16(c.bytes.data(), c.bytes.size(), static_cast<uint16_t>(c.crc ^ (1u << k))));
  }
}

TEST(Crc16, TableEntries) {
  EXPECT_EQ(crc::USB_CRC16_TABLE[0], 0x0000);
  EXPECT_EQ(crc::USB_CRC16_TABLE[1], 0xC0C1);
  EXPECT_EQ(crc::USB_CRC16_TABLE[0x80], 0xA001);
  EXPECT_EQ(crc::USB_CRC16_TABLE[0xFF], 0x4040);
}

TEST(Crc16, AgreesWithBitwiseOverRandomPayloads) {
  uint32_t x = 12345;
  std::vector<uint8_t> p;
  for (int n = 0; n < 300; ++n) {
    p.push_back(static_cast<uint8_t>(x >> 24));
    x = x * 1103515245u + 12345u;
    ASSERT_EQ(crc::makeCRC16(p.data(), p.size()), linegen::crc16(p.data(), p.size())) << n;
  }
}

struct Crc5Case {
  const char* name;
  unsigned field;    // 11 bits: address and endpoint << 7, or frame number
  const char* sent;  // the five CRC bits in the order they go on the bus
};

// Tokens of the USB CRC paper; the SOF rows are the edge frames.
const Crc5Case CRC5_CASES[] = {
    {"setup addr 15 endp e", 0x15 | 0xE << 7, "10111"},
    {"out addr 3a endp a", 0x3A | 0xA << 7, "11100"},
    {"in addr 70 endp 4", 0x70 | 0x4 << 7, "01110"},
    {"sof frame 710", 0x710, "10100"},
    {"sof frame 001", 0x001, "10111"},
    {"sof frame 000", 0x000, "01000"},
    {"sof frame 7ff", 0x7FF, "00010"},
};

TEST(Crc5, PublishedTokensPassAndEverySingleBitErrorFails) {
  for (const auto& c : CRC5_CASES) {
    SCOPED_TRACE(c.name);
    unsigned crc5 = 0;
    for (int i = 0; i < 5; ++i) crc5 |= static_cast<unsigned>(c.sent[i] == '1') << i;
    EXPECT_EQ(linegen::crc5(c.field), crc5);
    const unsigned v = c.field | crc5 << 11;
    uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    EXPECT_TRUE(crc::checkCRC5(bytes));
    for (int k = 0; k < 16; ++k) {
      const unsigned w = v ^ (1u << k);
      uint8_t bad[2] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)};
      EXPECT_FALSE(crc::checkCRC5(bad)) << "bit " << k;
    }
  }
}

// The table-driven check and the bitwise encoder share no code: for every
// field exactly the encoder's CRC passes.
TEST(Crc5, ExactlyOneCrcPassesForEveryField) {
  for (unsigned field = 0; field < 2048; ++field) {
    int passes = 0;
    unsigned passing = 99;
    for (unsigned c = 0; c < 32; ++c) {
      const unsigned v = field | c << 11;
      const uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
      if (crc::checkCRC5(bytes)) {
        ++passes;
        passing = c;
      }
    }
    ASSERT_EQ(passes, 1) << field;
    ASSERT_EQ(passing, linegen::crc5(field)) << field;
  }
}

TEST(Crc5, NibbleTablesStepOneByte) {
  // Byte 1 through eight reflected steps: 14 0A 05 16 0B 11 1C 0E.
  EXPECT_EQ(crc::crc5Table4[0], 0);
  EXPECT_EQ(crc::crc5Table4[1], 0x0E);
  EXPECT_EQ(crc::crc5Table0[0], 0);
  // Byte 0x10: 08 04 02 01 14 0A 05 16.
  EXPECT_EQ(crc::crc5Table0[1], 0x16);
}

}  // namespace
