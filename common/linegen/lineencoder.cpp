#include "lineencoder.h"

#include <utility>

namespace {

const uint8_t SYNC[8] = {LS_K, LS_J, LS_K, LS_J, LS_K, LS_J, LS_K, LS_K};

// SE1 stands in for a J in the state list; it never occurs in real states.
constexpr uint8_t GLITCH = LS_SE1;

void buildStates(const TlineEvent& e, std::vector<uint8_t>& st) {
  st.clear();
  const int sync = e.syncLen < 0 ? 0 : (e.syncLen > 8 ? 8 : e.syncLen);
  st.insert(st.end(), SYNC + 8 - sync, SYNC + 8);
  // The bus idles at J; the SYNC's closing K K is a 1 that counts toward
  // the six ones before a stuffed bit.
  uint8_t level = sync ? LS_K : LS_J;
  int ones = sync >= 2 ? 1 : 0;
  size_t nbits = e.bytes.size() * 8;
  if (e.bitLimit >= 0 && static_cast<size_t>(e.bitLimit) < nbits) nbits = static_cast<size_t>(e.bitLimit);
  for (size_t i = 0; i < nbits; ++i) {
    const unsigned bit = (e.bytes[i / 8] >> (i % 8)) & 1u;
    if (bit) {
      ++ones;
    } else {
      level = level == LS_K ? LS_J : LS_K;
      ones = 0;
    }
    st.push_back(level);
    if (e.stuff && ones == 6) {
      level = level == LS_K ? LS_J : LS_K;
      st.push_back(level);
      ones = 0;
    }
  }
  if (e.se1At >= 0) {
    for (size_t i = static_cast<size_t>(sync) + static_cast<size_t>(e.se1At); i < st.size(); ++i) {
      if (st[i] == LS_J) {
        st[i] = GLITCH;
        break;
      }
    }
  }
}

}  // namespace

namespace linegen {

TlineEvent idle(uint32_t ticks) {
  TlineEvent e;
  e.kind = LE_IDLE;
  e.ticks = ticks;
  return e;
}

TlineEvent reset(uint32_t se0Ticks, uint32_t idleTicks) {
  TlineEvent e;
  e.kind = LE_RESET;
  e.ticks = se0Ticks;
  e.idle = idleTicks;
  return e;
}

TlineEvent se1(uint32_t ticks) {
  TlineEvent e;
  e.kind = LE_SE1;
  e.ticks = ticks;
  return e;
}

TlineEvent lineState(int state, uint32_t ticks) {
  TlineEvent e;
  e.kind = LE_STATE;
  e.state = state & 3;
  e.ticks = ticks;
  return e;
}

TlineEvent packet(std::vector<uint8_t> bytes, uint32_t idleTicks) {
  TlineEvent e;
  e.kind = LE_PACKET;
  e.bytes = std::move(bytes);
  e.idle = idleTicks;
  return e;
}

TlineEvent sof(int frame, uint32_t idleTicks) { return packet(sofBytes(frame), idleTicks); }

TlineEvent token(int pid, int addr, int endp, uint32_t idleTicks) {
  return packet(tokenBytes(pid, addr, endp), idleTicks);
}

TlineEvent data(int pid, const std::vector<uint8_t>& payload, uint32_t idleTicks) {
  return packet(dataBytes(pid, payload), idleTicks);
}

TlineEvent handshake(int pid, uint32_t idleTicks) { return packet(handshakeBytes(pid), idleTicks); }

std::vector<uint8_t> packetStates(const TlineEvent& e) {
  std::vector<uint8_t> st;
  buildStates(e, st);
  return st;
}

std::vector<uint8_t> encodeCapture(const std::vector<TlineEvent>& events, const TrawCoderOptions& options,
                                   std::vector<uint64_t>* starts) {
  TlineEncoder enc(options);
  if (starts) starts->clear();
  for (const TlineEvent& e : events) {
    if (starts) starts->push_back(enc.tick());
    enc.add(e);
  }
  enc.flush(true);
  return enc.takeBytes();
}

}  // namespace linegen

TlineEncoder::TlineEncoder(const TrawCoderOptions& options) : Fcoder(options) {}

void TlineEncoder::add(const std::vector<TlineEvent>& events) {
  for (const TlineEvent& e : events) add(e);
}

void TlineEncoder::add(const TlineEvent& e) {
  switch (e.kind) {
    case LE_IDLE: Fcoder.addRun(LS_J, e.ticks, true); break;
    case LE_RESET:
      Fcoder.addRun(LS_SE0, e.ticks, true);
      Fcoder.addRun(LS_J, e.idle, true);
      break;
    case LE_SE1: Fcoder.addRun(LS_SE1, e.ticks, true); break;
    case LE_STATE: Fcoder.addRun(e.state, e.ticks, true); break;
    case LE_PACKET: addPacket(e); break;
  }
}

void TlineEncoder::addPacket(const TlineEvent& e) {
  buildStates(e, Fstates);
  size_t i = 0;
  while (i < Fstates.size()) {
    const uint8_t s = Fstates[i];
    if (s == GLITCH) {
      Fcoder.addRun(LS_SE1, e.se1Ticks, true);
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < Fstates.size() && Fstates[j] == s) ++j;
    Fcoder.addRun(s, static_cast<uint32_t>(j - i), false);
    i = j;
  }
  Fcoder.addRun(LS_SE0, e.eopTicks, true);
  Fcoder.addRun(LS_J, e.idle, true);
}
