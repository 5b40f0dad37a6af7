// What the Kelvo board is on the bus and what its capture memory holds: the
// bridge's USB ids, the size of the capture memory, the magic in front of a
// raw capture and the rule of the count bytes behind its symbol bytes. The
// reader, the line encoder, the board layer, the simulated board and devscout
// all take these from here; each keeps its own logic.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvo {

// CP2130 bridge: the vendor id, the bridge's stock product id and the board's own.
constexpr uint16_t VENDOR_ID = 0x10C4;
constexpr uint16_t PRODUCT_ID_BRIDGE = 0x87A0;
constexpr uint16_t PRODUCT_ID_BOARD = 0x8C57;

// The capture memory (a 128 KiB SRAM).
constexpr uint32_t CAPTURE_MEMORY = 0x20000;

// A raw capture buffer begins with these 8 bytes (no terminating zero counted).
constexpr char RAW_MAGIC[] = "VARNOKE.";
constexpr size_t RAW_MAGIC_SIZE = sizeof RAW_MAGIC - 1;

// A memory read gives the magic and 3 bytes of read latency before the first
// captured byte, so one capture holds at most this many stream bytes.
constexpr uint32_t FRONT_PAD = RAW_MAGIC_SIZE + 3;
constexpr uint32_t MAX_CAPTURE = CAPTURE_MEMORY - FRONT_PAD;

// Count bytes follow a symbol byte and lengthen its last run: a group starts
// with 10cccccc (weight 1) and goes on with 110ccccc bytes, each weighing 64
// times the one before; a new 10cccccc byte starts a new group.
constexpr unsigned COUNT_WEIGHT = 64;
constexpr bool isCountStart(uint8_t b) { return (b & 0xC0u) == 0x80u; }
constexpr bool isCountMore(uint8_t b) { return (b & 0xE0u) == 0xC0u; }
constexpr unsigned countStartValue(uint8_t b) { return b & 0x3Fu; }
constexpr unsigned countMoreValue(uint8_t b) { return b & 0x1Fu; }
constexpr uint8_t countStartByte(unsigned value) { return static_cast<uint8_t>(0x80u | (value & 0x3Fu)); }
constexpr uint8_t countMoreByte(unsigned value) { return static_cast<uint8_t>(0xC0u | (value & 0x1Fu)); }

}  // namespace kelvo
