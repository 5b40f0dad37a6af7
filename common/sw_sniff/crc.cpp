#include "crc.h"

namespace crc {

namespace {

constexpr unsigned CRC16_POLY_REFLECTED = 0xA001;
constexpr unsigned CRC5_POLY_REFLECTED = 0x14;
// What a token's 16 bits leave in the register when their CRC5 is right.
constexpr uint8_t CRC5_RESIDUAL = 0x06;

constexpr std::array<uint16_t, 256> makeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1u) ? (r >> 1) ^ CRC16_POLY_REFLECTED : r >> 1;
    t[i] = static_cast<uint16_t>(r);
  }
  return t;
}

constexpr std::array<uint8_t, 16> makeCrc5Table(unsigned shift) {
  std::array<uint8_t, 16> t{};
  for (unsigned n = 0; n < 16; ++n) {
    unsigned r = n << shift;
    for (int k = 0; k < 8; ++k) r = (r & 1u) ? (r >> 1) ^ CRC5_POLY_REFLECTED : r >> 1;
    t[n] = static_cast<uint8_t>(r);
  }
  return t;
}

}  // namespace

const std::array<uint16_t, 256> USB_CRC16_TABLE = makeCrc16Table();
const std::array<uint8_t, 16> crc5Table0 = makeCrc5Table(4);
const std::array<uint8_t, 16> crc5Table4 = makeCrc5Table(0);

namespace {

inline unsigned crc5Byte(unsigned x) { return crc5Table0[(x >> 4) & 15u] ^ crc5Table4[x & 15u]; }

}  // namespace

uint16_t makeCRC16(const uint8_t* p, size_t n) {
  unsigned r = 0xFFFF;
  for (size_t i = 0; i < n; ++i) r = USB_CRC16_TABLE[(r ^ p[i]) & 0xFFu] ^ (r >> 8);
  return static_cast<uint16_t>(~r & 0xFFFFu);
}

bool checkCRC16(const uint8_t* p, size_t n, uint16_t received) { return makeCRC16(p, n) == received; }

bool checkCRC5(const uint8_t* p) {
  unsigned x = p[0] ^ 0x1Fu;
  unsigned y = p[1] ^ crc5Byte(x);
  return crc5Byte(y) == CRC5_RESIDUAL;
}

}  // namespace crc
