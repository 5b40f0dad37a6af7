// Packet bytes as a full-speed host or device sends them: consumes PIDs,
// fields and payloads, produces the bytes PID first with the CRC at the end.
// The CRCs are worked bit by bit, independently of the decoder's tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vkpids.h"

namespace linegen {

// PID in the low nibble, its complement in the high nibble.
uint8_t pidByte(int pid);
// CRC5 of an 11-bit token or SOF field, bit 0 sent first after the field.
uint8_t crc5(unsigned field11);
// USB data CRC16, low byte sent first.
uint16_t crc16(const uint8_t* p, size_t n);

// crcXor is XORed into the right CRC, so a non-zero value makes a bad one.
std::vector<uint8_t> tokenBytes(int pid, int addr, int endp, unsigned crcXor = 0);
std::vector<uint8_t> sofBytes(int frame, unsigned crcXor = 0);
std::vector<uint8_t> dataBytes(int pid, const std::vector<uint8_t>& payload, unsigned crcXor = 0);
std::vector<uint8_t> handshakeBytes(int pid);

}  // namespace linegen
