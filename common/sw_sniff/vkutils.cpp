#include "vkutils.h"

#include <cstdio>

namespace utils {

namespace {

struct TpidInfo {
  L0eventType type;
  int minSize;
  bool fsLegal;
  const char* name;
  const char* printCode;
  uint64_t bg;
  uint64_t fg;
};

const TpidInfo pidInfoTable[16] = {
    {L0_RESERVED, 0, false, "RESERVED", "0xF0", 0xC1B6FF, 0x000000},
    {L0_TOKEN, 3, true, "OUT", "0xE1", 0xFF4081, 0xFFFFFF},
    {L0_HANDSHAKE, 1, true, "ACK", "0xD2", 0x00FFFF, 0x000000},
    {L0_DATA, 3, true, "DATA0", "0xC3", 0x8C9EFF, 0x000000},
    {L0_SPECIAL, 3, false, "PING", "0xB4", 0x00A5FF, 0xFFFFFF},
    {L0_SOF, 3, true, "SOF", "0xA5", 0x008000, 0xFFFFFF},
    {L0_HANDSHAKE, 1, false, "NYET", "0x96", 0xFF0000, 0xFFFFFF},
    {L0_DATA, 3, false, "DATA2", "0x87", 0x82004B, 0xFFFFFF},
    {L0_SPECIAL, 4, false, "SPLIT", "0x78", 0xEE82EE, 0xFFFFFF},
    {L0_TOKEN, 3, true, "IN", "0x69", 0x18FFFF, 0x000000},
    {L0_HANDSHAKE, 1, true, "NAK", "0x5A", 0xCBC0FF, 0x000000},
    {L0_DATA, 3, true, "DATA1", "0x4B", 0x90EE90, 0x000000},
    {L0_SPECIAL, 4, false, "ERR/PRE", "0x3C", 0xE6F5FD, 0x000000},
    {L0_TOKEN, 3, true, "SETUP", "0x2D", 0xEBCE87, 0x000000},
    {L0_HANDSHAKE, 1, true, "STALL", "0x1E", 0xD3D3D3, 0x000000},
    {L0_DATA, 3, false, "MDATA", "0x0F", 0x808000, 0x000000},
};

const TpidInfo& info(unsigned pid) { return pidInfoTable[pid & 15u]; }

}  // namespace

L0eventType packetType(int pid) { return info(static_cast<unsigned>(pid)).type; }
int packetMinSize(int pid) { return info(static_cast<unsigned>(pid)).minSize; }
bool pidIsFsLegal(int pid) { return info(static_cast<unsigned>(pid)).fsLegal; }
std::string pidPrintCode(unsigned pid) { return info(pid).printCode; }
uint64_t pidFG(unsigned pid) { return info(pid).fg; }
uint64_t pidBG(unsigned pid) { return info(pid).bg; }

std::string pidName(unsigned pid) {
  if (pid < 16) return pidInfoTable[pid].name;
  switch (pid) {
    case 16: return "RESET";
    case 17: return "ERROR";
    case 18: return "UNDEFINED";
    default: return "Unknown (X)PID Type";
  }
}

std::string transactionTypeName(TtrxType t) {
  switch (t) {
    case TRX_SETUP: return "SETUP";
    case TRX_IN: return "IN";
    case TRX_OUT: return "OUT";
    case TRX_UNDEFINED: return "Undefined";
  }
  return "Unknown Transaction Type";
}

std::string L0eventTypeName(L0eventType t) {
  switch (t) {
    case L0_TOKEN: return "Token";
    case L0_DATA: return "Data";
    case L0_HANDSHAKE: return "Handshake";
    case L0_SOF: return "Sof";
    case L0_SPECIAL: return "Special";
    case L0_RESERVED: return "Reserved";
    case L0_RESET: return "Reset";
    case L0_UNDEFINED: return "Undefined";
  }
  return "Unknown L0 Event Type";
}

std::string L1groupTypeName(L1groupType t) {
  switch (t) {
    case L1_RESET: return "Reset";
    case L1_SOF: return "SOF";
    case L1_SOFGROUP: return "SOFgroup";
    case L1_CONTROL: return "Control";
    case L1_IN: return "In";
    case L1_OUT: return "Out";
    case L1_UNDEFINED: return "Undefined";
  }
  return "Unknown L1 Group Type";
}

void split(const std::string& text, char sep, TstringVec& out) {
  std::string::size_type start = 0;
  while (start <= text.size()) {
    std::string::size_type end = text.find(sep, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) out.emplace_back(text, start, end - start);
    start = end + 1;
  }
}

TstringVec split(const std::string& text, char sep) {
  TstringVec out;
  split(text, sep, out);
  return out;
}

std::string tickToFloatStr(uint64_t ticks, int ticksPerMicrosecond) {
  static const char* const UNITS[] = {"ns", "mus", "ms", "s"};
  if (ticks == MAX_TICK) return std::string();  // no time
  // ticks * 1000 may pass 64 bits; after the unit steps the value fits again.
  unsigned __int128 value = static_cast<unsigned __int128>(ticks) * 1000u / static_cast<uint64_t>(ticksPerMicrosecond);
  unsigned remainder = 0;
  int unit = 0;
  for (int step = 0; step < 3 && value > 1000; ++step) {
    remainder = static_cast<unsigned>(value % 1000);
    value /= 1000;
    unit = step + 1;
  }
  std::string text = std::to_string(static_cast<uint64_t>(value));
  if (remainder != 0) {
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03u", remainder);
    text += frac;
  }
  text += ' ';
  text += UNITS[unit];
  return text;
}

}  // namespace utils
