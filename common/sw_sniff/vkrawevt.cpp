#include "vkrawevt.h"

#include <algorithm>
#include <cstring>

#include "crc.h"
#include "vkutils.h"

namespace {

constexpr uint8_t ST_SE0 = 0;
constexpr uint8_t ST_K = 1;
constexpr uint8_t ST_SE1 = 3;

// Small: a large first request would make malloc consolidate its free lists.
constexpr size_t INITIAL_WORDS = 16;

constexpr uint64_t SYNC8_BITS = 0x2A;
constexpr uint64_t SYNC6_BITS = 0x0A;

constexpr bool LITTLE_ENDIAN_HOST = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline uint64_t lowMask(size_t k) { return k >= 64 ? ~uint64_t(0) : (uint64_t(1) << k) - 1; }

}  // namespace

Tevents::Tevents(const std::vector<uint8_t>& raw) : Fraw(raw) {
  Fwords.resize(INITIAL_WORDS);
  Fbytes.resize(INITIAL_WORDS * 8);
}

bool Tevents::getNextEvent(TrowVec& events, uint64_t& progress) {
  TrawItem item;
  bool more = true;
  if (!Fraw.getItem(item)) {
    more = false;
  } else if (item.val == ST_SE0) {
    more = getUSBreset(item, events);
  } else if (item.val == ST_K) {
    more = getPacket(item, events);
  }
  progress = Fraw.getRawDataIx();
  return more;
}

bool Tevents::getUSBreset(const TrawItem& se0, TrowVec& events) {
  TrawItem next;
  if (!Fraw.getItem(next)) return false;
  auto row = std::make_shared<Treset>();
  row->tick = se0.strt;
  row->duration = static_cast<uint32_t>(se0.count);
  row->idleTicks = static_cast<uint32_t>(next.count);
  events.push_back(std::move(row));
  return true;
}

bool Tevents::getPacket(const TrawItem& firstK, TrowVec& events) {
  std::fill_n(Fwords.begin(), std::min(Fwords.size(), Fstates / 64 + 2), uint64_t(0));
  Fstates = 1;  // the first K
  // A first K longer than one tick puts K K at the start: never a SYNC, so
  // the states need not be kept while the packet is passed over.
  bool keep = firstK.count == 1;

  TrawItem item;
  for (;;) {
    // Bytes of K and J states (SYNC and fields) in bulk; the runs of bytes
    // with SE0 or SE1 (packet ends, glitches) one by one.
    if (keep)
      Fstates = Fraw.getKJStates(Fwords.data(), Fstates, std::min(MAX_PACKET_STATES, (Fwords.size() - 1) * 64));
    else
      Fraw.skipKJStates();
    if (!Fraw.getItem(item)) return false;
    if (item.val == ST_SE0) break;
    keep = keep && putStates(item.val != ST_K, item.val == ST_SE1 ? 1u : static_cast<uint32_t>(item.count));
  }
  // The run after the end of packet is its idle line, whatever its state.
  if (!Fraw.getItem(item)) return false;
  if (keep) decodeStates(firstK.strt, static_cast<uint32_t>(item.count), events);
  return true;
}

void Tevents::growWords(size_t states) {
  Fwords.resize(std::min(std::max(Fwords.size() * 2, states / 64 + 2), MAX_PACKET_STATES / 64 + 2), 0);
}

bool Tevents::putStates(bool j, uint32_t count) {
  const size_t end = Fstates + count;
  if (end > MAX_PACKET_STATES) return false;
  if (end / 64 + 2 > Fwords.size()) growWords(end);
  if (j) {
    for (size_t i = Fstates; i < end;) {
      const size_t off = i & 63;
      const size_t k = std::min<size_t>(end - i, 64 - off);
      Fwords[i >> 6] |= lowMask(k) << off;
      i += k;
    }
  }
  Fstates = end;
  return true;
}

namespace {

// Packet bytes, least significant bit first, from the bits kept. Each put
// writes eight bytes at once, so the buffer needs eight bytes to spare.
class TbyteSink {
 public:
  explicit TbyteSink(uint8_t* out) : Fout(out) {}
  void put(uint64_t bits, size_t k) {  // k <= 56
    Facc |= bits << Fnbits;
    Fnbits += k;
    if (LITTLE_ENDIAN_HOST) {
      std::memcpy(Fout + Fnbytes, &Facc, 8);
    } else {
      for (int i = 0; i < 8; ++i) Fout[Fnbytes + i] = static_cast<uint8_t>(Facc >> (8 * i));
    }
    const size_t whole = Fnbits >> 3;  // at most 7
    Fnbytes += whole;
    Facc >>= 8 * whole;
    Fnbits &= 7;
  }
  size_t bytes() const { return Fnbytes; }  // a partial byte at the end is dropped

 private:
  uint8_t* Fout;
  uint64_t Facc = 0;
  size_t Fnbits = 0;
  size_t Fnbytes = 0;
};

}  // namespace

void Tevents::decodeStates(uint64_t tick, uint32_t idle, TrowVec& events) {
  // SYNC: K J K J K J K K (bits 00101010 from the first), else K J K J K K.
  const size_t n = Fstates;
  if (n < 8) return;
  const uint64_t* w = Fwords.data();
  size_t p = 0;
  if ((w[0] & 0xFF) == SYNC8_BITS)
    p = 8;
  else if ((w[0] & 0x3F) == SYNC6_BITS)
    p = 6;
  if (p == 0) return;

  // 64 states from state i on (the words past the list are zero).
  auto window = [w](size_t i) {
    const size_t off = i & 63;
    return w[i >> 6] >> off | (w[(i >> 6) + 1] << 1) << (63 - off);
  };
  if (Fbytes.size() < n / 8 + 8) Fbytes.resize(n / 8 + 8);
  TbyteSink out(Fbytes.data());
  // NRZI: a state equal to the one before is a 1, a change a 0. Unstuffing:
  // when six 1s have been kept, the next bit is dropped unseen. Up to 56
  // bits at a time: with the count of 1s carried in front, look for the
  // first six 1s; keep the bits up to there and drop the one after. Random
  // payload makes either outcome as likely, so neither is a branch.
  size_t ones = 0;  // below 6
  while (p < n) {
    const size_t width = std::min<size_t>(56, n - p);
    const uint64_t x = window(p - 1);
    const uint64_t y = ~(x ^ (x >> 1)) & lowMask(width);
    const size_t wz = width + ones;
    const uint64_t z = (y << ones) | lowMask(ones);
    // Bit i: bits i to i + 5 of z are 1s, all of them within the window.
    const uint64_t six = z & (z >> 1) & (z >> 2) & (z >> 3) & (z >> 4) & (z >> 5) & (lowMask(wz) >> 5);
    const bool stuffed = six != 0;
    const size_t kept = stuffed ? static_cast<size_t>(__builtin_ctzll(six | uint64_t(1) << 63)) + 6 - ones : width;
    out.put(y & lowMask(kept), kept);
    p += kept + (stuffed ? 1 : 0);
    // Else the 1s at the top of the window carry on (z has at most 61 bits).
    ones = stuffed ? 0 : static_cast<size_t>(__builtin_clzll(~(z << (64 - wz))));
  }
  if (out.bytes() == 0) return;  // no whole PID byte
  makeRow(out.bytes(), tick, idle, events);
}

void Tevents::makeRow(size_t nbytes, uint64_t tick, uint32_t idle, TrowVec& events) {
  const uint8_t* bytes = Fbytes.data();
  const int pid = bytes[0] & 15;
  const unsigned v = (nbytes > 1 ? bytes[1] : 0u) | (nbytes > 2 ? bytes[2] : 0u) << 8;
  const uint8_t field[2] = {static_cast<uint8_t>(v & 0xFFu), static_cast<uint8_t>(v >> 8)};
  TpacketBase* p = nullptr;
  TrowPtr row;
  switch (utils::packetType(pid)) {
    case L0_DATA: {
      auto d = std::make_shared<Tdata>();
      if (nbytes > 2) {
        d->crc16 = bytes[nbytes - 2] | bytes[nbytes - 1] << 8;
        d->crcOK = crc::checkCRC16(bytes + 1, nbytes - 3, static_cast<uint16_t>(d->crc16));
      }
      if (nbytes > 3) d->data.assign(bytes + 1, bytes + nbytes - 2);
      p = d.get();
      row = std::move(d);
      break;
    }
    case L0_TOKEN: {
      auto t = std::make_shared<Ttoken>();
      t->addr = static_cast<int>(v & 127u);
      t->endp = static_cast<int>((v >> 7) & 15u);
      t->crc5 = static_cast<int>((v >> 11) & 31u);
      t->crcOK = crc::checkCRC5(field);
      p = t.get();
      row = std::move(t);
      break;
    }
    case L0_SOF: {
      auto s = std::make_shared<Tsof>();
      s->frame = static_cast<int>(v & 0x7FFu);
      s->crc5 = static_cast<int>((v >> 11) & 31u);
      s->crcOK = crc::checkCRC5(field);
      p = s.get();
      row = std::move(s);
      break;
    }
    case L0_HANDSHAKE: {
      auto h = std::make_shared<Thandshake>();
      p = h.get();
      row = std::move(h);
      break;
    }
    default: return;  // Special and Reserved PIDs have no row class
  }
  p->tick = tick;
  p->pid = pid;
  p->idle = idle;
  events.push_back(std::move(row));
}
