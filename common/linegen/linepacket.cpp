#include "linepacket.h"

namespace linegen {

uint8_t pidByte(int pid) {
  const unsigned p = static_cast<unsigned>(pid) & 15u;
  return static_cast<uint8_t>(p | ((~p & 15u) << 4));
}

uint8_t crc5(unsigned field11) {
  unsigned reg = 0x1F;
  for (int i = 0; i < 11; ++i) {
    const unsigned bit = (field11 >> i) & 1u;
    reg = ((reg ^ bit) & 1u) ? (reg >> 1) ^ 0x14u : reg >> 1;
  }
  return static_cast<uint8_t>(~reg & 0x1Fu);
}

uint16_t crc16(const uint8_t* p, size_t n) {
  unsigned reg = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    for (int k = 0; k < 8; ++k) {
      const unsigned bit = (p[i] >> k) & 1u;
      reg = ((reg ^ bit) & 1u) ? (reg >> 1) ^ 0xA001u : reg >> 1;
    }
  }
  return static_cast<uint16_t>(~reg & 0xFFFFu);
}

namespace {

std::vector<uint8_t> fieldPacket(int pid, unsigned field11, unsigned crcXor) {
  const unsigned f = field11 & 0x7FFu;
  const unsigned v = f | ((crc5(f) ^ crcXor) & 31u) << 11;
  return {pidByte(pid), static_cast<uint8_t>(v & 0xFFu), static_cast<uint8_t>(v >> 8)};
}

}  // namespace

std::vector<uint8_t> tokenBytes(int pid, int addr, int endp, unsigned crcXor) {
  const unsigned a = static_cast<unsigned>(addr) & 127u;
  const unsigned e = static_cast<unsigned>(endp) & 15u;
  return fieldPacket(pid, a | e << 7, crcXor);
}

std::vector<uint8_t> sofBytes(int frame, unsigned crcXor) {
  return fieldPacket(PID_SOF, static_cast<unsigned>(frame), crcXor);
}

std::vector<uint8_t> dataBytes(int pid, const std::vector<uint8_t>& payload, unsigned crcXor) {
  std::vector<uint8_t> out;
  out.reserve(payload.size() + 3);
  out.push_back(pidByte(pid));
  out.insert(out.end(), payload.begin(), payload.end());
  const unsigned c = (crc16(payload.data(), payload.size()) ^ crcXor) & 0xFFFFu;
  out.push_back(static_cast<uint8_t>(c & 0xFFu));
  out.push_back(static_cast<uint8_t>(c >> 8));
  return out;
}

std::vector<uint8_t> handshakeBytes(int pid) { return {pidByte(pid)}; }

}  // namespace linegen
