// Bus encoder: consumes full-speed USB bus events (idle, reset, SE1 glitch,
// bare line states, packets), produces their line states (SYNC, NRZI, bit
// stuffing, end of packet) coded as a Kelvo raw capture through TrawCoder.
#pragma once

#include <cstdint>
#include <vector>

#include "linepacket.h"
#include "rawcoder.h"

enum TlineEventKind : int { LE_IDLE, LE_RESET, LE_SE1, LE_STATE, LE_PACKET };

struct TlineEvent {
  TlineEventKind kind = LE_IDLE;
  // LE_IDLE: J ticks; LE_RESET: SE0 ticks; LE_SE1: SE1 ticks; LE_STATE: ticks of `state`.
  uint32_t ticks = 0;
  int state = LS_J;
  // LE_RESET and LE_PACKET: J ticks after the SE0 (a packet's count the J of
  // its end of packet); the decoder reports them as idleTicks or idle.
  uint32_t idle = 1;
  // LE_PACKET: the bytes, PID byte first and CRC included (linepacket.h).
  std::vector<uint8_t> bytes;
  int syncLen = 8;        // the last syncLen states of K J K J K J K K (0..8)
  int bitLimit = -1;      // >= 0: only that many packet bits go out (truncated)
  uint32_t eopTicks = 2;  // SE0 ticks ending the packet; 0: no end of packet
  int se1At = -1;         // >= 0: the first J at or after this state index
  uint32_t se1Ticks = 1;  //   (counted after the SYNC) goes out as SE1 this long
  bool stuff = true;      // false: no stuffed bits (a stuffing error)
};

namespace linegen {

TlineEvent idle(uint32_t ticks);
TlineEvent reset(uint32_t se0Ticks, uint32_t idleTicks);
TlineEvent se1(uint32_t ticks);
TlineEvent lineState(int state, uint32_t ticks);
TlineEvent packet(std::vector<uint8_t> bytes, uint32_t idleTicks = 1);
TlineEvent sof(int frame, uint32_t idleTicks = 1);
TlineEvent token(int pid, int addr, int endp, uint32_t idleTicks = 1);
TlineEvent data(int pid, const std::vector<uint8_t>& payload, uint32_t idleTicks = 1);
TlineEvent handshake(int pid, uint32_t idleTicks = 1);

// Line states of a packet from its first SYNC state to its last bit, before
// the end of packet (se1At applied), one entry per tick except for SE1.
std::vector<uint8_t> packetStates(const TlineEvent& e);

}  // namespace linegen

class TlineEncoder {
 public:
  explicit TlineEncoder(const TrawCoderOptions& options = TrawCoderOptions());

  void add(const TlineEvent& e);
  void add(const std::vector<TlineEvent>& events);
  // Tick at which the next event starts (the first symbol is tick 0).
  uint64_t tick() const { return Fcoder.ticks(); }
  // Codes everything added; see TrawCoder::flush.
  uint32_t flush(bool exactEnd = false) { return Fcoder.flush(exactEnd); }
  const std::vector<uint8_t>& bytes() const { return Fcoder.bytes(); }
  std::vector<uint8_t> takeBytes() { return Fcoder.takeBytes(); }
  TrawCoder& coder() { return Fcoder; }

 private:
  void addPacket(const TlineEvent& e);

  TrawCoder Fcoder;
  std::vector<uint8_t> Fstates;  // one packet's states, reused
};

namespace linegen {

// A whole raw capture of the events, header as the options say, ended with
// flush(true): every run keeps its length. starts, when given, receives the
// tick at which each event starts.
std::vector<uint8_t> encodeCapture(const std::vector<TlineEvent>& events,
                                   const TrawCoderOptions& options = TrawCoderOptions(),
                                   std::vector<uint64_t>* starts = nullptr);

}  // namespace linegen
