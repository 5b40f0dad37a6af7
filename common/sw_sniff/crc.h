// USB CRC checks for the packet decoder: consumes packet bytes as they came
// off the bus, produces the data CRC16 and the pass/fail verdict of the token
// and SOF CRC5 (table driven, reflected bit order as USB sends them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace crc {

// Byte table of the reflected CRC-16, polynomial 0x8005 (reflected 0xA001).
extern const std::array<uint16_t, 256> USB_CRC16_TABLE;
// Nibble tables of the reflected CRC5, polynomial 0x05 (reflected 0x14):
// crc5Table4[n] is the register after the byte n, crc5Table0[n] after n << 4.
extern const std::array<uint8_t, 16> crc5Table0;
extern const std::array<uint8_t, 16> crc5Table4;

// USB data CRC16 of n bytes; 0x0000 over no bytes.
uint16_t makeCRC16(const uint8_t* p, size_t n);
bool checkCRC16(const uint8_t* p, size_t n, uint16_t received);
// p points at the two field bytes of a token or SOF, low byte first: the 11
// field bits and the 5 CRC bits. True when they leave the USB residual.
bool checkCRC5(const uint8_t* p);

}  // namespace crc
