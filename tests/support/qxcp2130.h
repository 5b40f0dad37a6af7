// The CP2130 bridge's SPI framing as the tests write it down, independent of
// the board layer: the chip-select request, the 8-byte command header and the
// split of a write into bulk OUT transfers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxcp2130 {

using Tbytes = std::vector<uint8_t>;

constexpr uint8_t REQ_SET_GPIO_CS = 0x25;
constexpr uint8_t CMD_READ = 0x00;
constexpr uint8_t CMD_WRITE = 0x01;
constexpr uint8_t CMD_WRITE_READ = 0x02;
// A write's header and its first 56 bytes fill one 64-byte bulk packet.
constexpr size_t FIRST_TRANSFER = 64;

// Data of the chip-select request: only this channel's select line active.
inline Tbytes chipSelect(int channel) { return {uint8_t(channel), 2}; }

inline Tbytes header(uint8_t command, uint32_t n) {
  return {0, 0, command, 0, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
}

// A command with its data behind the header.
inline Tbytes message(uint8_t command, const Tbytes& data) {
  Tbytes msg = header(command, static_cast<uint32_t>(data.size()));
  msg.insert(msg.end(), data.begin(), data.end());
  return msg;
}

// The bulk OUT transfers of a write: the first packet, then the rest in one.
inline std::vector<Tbytes> writeTransfers(const Tbytes& data) {
  const Tbytes msg = message(CMD_WRITE, data);
  const size_t first = msg.size() < FIRST_TRANSFER ? msg.size() : FIRST_TRANSFER;
  std::vector<Tbytes> out{Tbytes(msg.begin(), msg.begin() + first)};
  if (msg.size() > FIRST_TRANSFER) out.emplace_back(msg.begin() + FIRST_TRANSFER, msg.end());
  return out;
}

}  // namespace qxcp2130
