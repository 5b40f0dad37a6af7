// Capture builders for tests: consume packet rows (or bus events), produce
// raw capture buffers that decode back to exactly those rows; also decode a
// buffer to its packet rows and compare rows field by field.
//
// Typical use:
//   TrowVec rows = qxtest::randomRows(7, 200);
//   std::vector<uint8_t> raw = qxtest::captureFromRows(rows);  // stamps ticks
//   EXPECT_EQ(qxtest::rowsDiff(rows, qxtest::decodeCapture(raw)), "");
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lineencoder.h"
#include "vkboard.h"
#include "vkrows.h"

namespace qxtest {

struct TcaptureStyle {
  TrawCoderOptions coder;  // header/filler, symbol and count forms, seed
  int syncLen = 8;         // 8 or 6; both decode alike
  bool mixSync = false;    // pick 8 or 6 per packet (seeded by coder.seed)
  bool glitches = false;   // now and then an SE1 in place of a J inside a
                           // packet (seeded); packets still decode unchanged
};

// Bus events for a list of rows, in order: Treset (duration, idleTicks),
// Tsof, Ttoken, Tdata, Thandshake (pid, fields, data, idle); group rows give
// their children in order; other rows nothing. Row ticks are not read. A row
// with crcOK false sends its own crc5/crc16 when that is wrong, else the
// right CRC with bit 0 flipped. Idle and idleTicks of 0 send no J at all
// (the next row then does not decode alike).
std::vector<TlineEvent> eventsFromRows(const TrowVec& rows, const TcaptureStyle& style = TcaptureStyle());

// Codes the rows as a raw capture (magic first unless style.coder.header is
// false) and writes into every packet and reset row what the decoder will
// read back: tick (where the row starts, the first symbol being tick 0),
// and the CRC sent. Then decodeCapture(raw) equals leafRows(rows) when
// every idle is >= 1.
std::vector<uint8_t> captureFromRows(TrowVec& rows, const TcaptureStyle& style = TcaptureStyle());

// The packet and reset rows of a list, groups replaced by their children.
TrowVec leafRows(const TrowVec& rows);

// Runs the packet decoder to the end. progress, when given, receives the
// byte index after every event for which getNextEvent returned true.
TrowVec decodeCapture(const std::vector<uint8_t>& raw, std::vector<uint64_t>* progress = nullptr);

// "" when equal; else what differs first. Compares kind, tick, level and
// the fields of the row's class (packets: pid, idle, fields, data, CRC and
// verdict; groups: their type fields and children, recursively).
std::string rowDiff(const Tbase& want, const Tbase& got);
std::string rowsDiff(const TrowVec& want, const TrowVec& got);

struct TrandomTraffic {
  bool resets = true;
  bool crcErrors = true;     // about one packet in eight has a bad CRC
  unsigned maxPayload = 64;  // bytes; one payload in four is 0xFF runs
  uint32_t maxIdle = 3000;   // idle after packets is 1..maxIdle, and one
  bool longIdles = true;     //   in twenty up to 2^20 ticks when longIdles
};

// Packet and reset rows of plausible random traffic (SOF, tokens, all data
// and handshake PIDs); ticks unset. The same seed gives the same rows.
TrowVec randomRows(uint32_t seed, size_t count, const TrandomTraffic& traffic = TrandomTraffic());

// Size of a full capture memory behind the magic.
constexpr size_t FULL_CAPTURE_BYTES = kelvo::MAX_CAPTURE;

struct TdenseCapture {
  std::vector<uint8_t> raw;  // "VARNOKE." and FULL_CAPTURE_BYTES stream bytes
  TrowVec rows;              // its packet rows, exactly as they decode
};

// Back-to-back frames of SOF and bulk/control transactions with 1..8 ticks
// between packets, six-state bytes wherever possible, ended by J-only bytes
// so that every row decodes whole. The same seed gives the same capture.
TdenseCapture denseFullCapture(uint32_t seed = 1);

}  // namespace qxtest
