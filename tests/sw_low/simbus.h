// Test helpers over the simulated board's transfer log: turns transfers into short
// text lines and builds the expected lines for bridge requests and SPI commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelvosim.h"

namespace simbus {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

std::string hex(const Bytes& b);

// "C40 25 v0000 i0000 : 07 02 00"   vendor OUT request with its data
// "CC0 11 v0000 i0000 len 2"        vendor IN request
// "O01 : 00 00 01 00 ..."           bulk OUT with the bytes delivered
// "I82 len 5"                       bulk IN
std::string line(const kelvosim::TxferRecord& r);
Lines lines(const std::vector<kelvosim::TxferRecord>& log);
// Only the board's vendor requests and bulk transfers (no standard requests).
Lines busLines();

std::string ctlOut(uint8_t request, const Bytes& data);
std::string ctlIn(uint8_t request, uint16_t len);
std::string bulkOut(uint8_t ep, const Bytes& data);
std::string bulkIn(uint8_t ep, uint32_t len);

Bytes spiHeader(uint8_t cmd, uint32_t len);
// Chip select on the channel, then the write command (split after 64 bytes).
Lines spiWrite(int channel, const Bytes& data, uint8_t epOut = 0x01);
Lines spiRead(int channel, uint32_t len, uint8_t epOut = 0x01, uint8_t epIn = 0x82);
Lines spiWriteRead(int channel, const Bytes& data, uint8_t epOut = 0x01, uint8_t epIn = 0x82);

Lines operator+(Lines a, const Lines& b);
Bytes operator+(Bytes a, const Bytes& b);

// MOSI bytes of every SPI transaction on one channel, in order.
std::vector<Bytes> spiMosi(int channel);

}  // namespace simbus
