// sigrok's reading of a logic capture: consumes a sample file of two channels
// (D+ channel 0, D- channel 1, one byte a sample), runs sigrok-cli's
// usb_signalling and usb_packet decoders on it and produces their packets,
// bus resets and signalling errors, parsed from the annotation lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xcheck {

enum TsigrokKind : int { SK_PACKET, SK_RESET, SK_ERROR };

struct TsigrokEvent {
  TsigrokKind kind = SK_PACKET;
  uint64_t ss = 0;   // first sample of the annotation
  uint64_t es = 0;   // sample where it ends
  std::string text;  // a packet's summary ("DATA0 [ 01 ]"), else the annotation
  bool syncOK = false;
  std::string pid;  // sigrok's PID name; "" when it read none
  int frame = -1;   // -1: not in the packet
  int addr = -1;
  int endp = -1;
  int crc5 = -1;
  int crc16 = -1;
  bool crcOK = true;  // false when sigrok flagged the CRC5 or CRC16
  std::vector<uint8_t> data;
};

// "" when sigrok-cli (or the program that QX_SIGROK_CLI names) and both
// decoders can be run; else what is missing.
std::string sigrokMissing();

// Runs the decoders on the sample file at full speed. annotations gets
// sigrok-cli's output (one annotation a line, with sample numbers); false
// with sigrok-cli's complaint in `error` when it fails.
bool runSigrok(const std::string& path, uint64_t sampleRate, std::string& annotations, std::string& error);

// Parses that output. A packet's field lines come before its summary line,
// which closes it. False, with the line, at the first line not understood.
bool parseAnnotations(const std::string& text, std::vector<TsigrokEvent>& events, std::string& error);

}  // namespace xcheck
