// Packet decoder: consumes the line-state runs of a raw capture, produces one
// Treset row per SE0 run between packets and one Tsof/Ttoken/Tdata/Thandshake
// row per packet (SYNC, NRZI, bit unstuffing, fields, CRC verdict).
#pragma once

#include <cstdint>
#include <vector>

#include "vkraw.h"
#include "vkrows.h"

class Tevents {
 public:
  explicit Tevents(const std::vector<uint8_t>& raw);
  explicit Tevents(std::vector<uint8_t>&&) = delete;

  // Decodes the next event and appends its row, if it makes one. progress
  // gets the reader's byte index. False when the data ended.
  bool getNextEvent(TrowVec& events, uint64_t& progress);
  bool getNextEvent(const TrowVecPtr& events, uint64_t& progress) { return getNextEvent(*events, progress); }

 private:
  bool getUSBreset(const TrawItem& se0, TrowVec& events);
  bool getPacket(const TrawItem& firstK, TrowVec& events);
  // Appends states to the packet's state list; false once it is too long.
  bool putStates(bool j, uint32_t count);
  void growWords(size_t states);
  // Appends one packet's row from its state list; nothing for packets
  // without SYNC or PID, or of a class that has no row.
  void decodeStates(uint64_t tick, uint32_t idle, TrowVec& events);
  void makeRow(size_t nbytes, uint64_t tick, uint32_t idle, TrowVec& events);

  // Real packets stay below 10,000 states; a garbled capture can code runs
  // of millions of ticks, which must not become a packet buffer.
  static constexpr size_t MAX_PACKET_STATES = size_t(1) << 20;

  Traw Fraw;
  // The state list of one packet, one bit a state (0 K, 1 J; an SE1 is one
  // J), so that NRZI and unstuffing work on 64 states at a time. Kept from
  // packet to packet to spare allocations; words past the list are zero.
  std::vector<uint64_t> Fwords;
  size_t Fstates = 0;
  std::vector<uint8_t> Fbytes;
};
