#include "qxcapture.h"

#include <random>
#include <sstream>

#include "vkrawevt.h"

namespace qxtest {

namespace {

// Seeded choices that come out alike with every standard library.
class Tdice {
 public:
  explicit Tdice(uint32_t seed) : Frng(seed) {}
  uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(Frng() % n) : 0; }
  uint32_t range(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
  bool oneIn(uint32_t n) { return below(n) == 0; }

 private:
  std::mt19937 Frng;
};

unsigned sentCrc(bool ok, unsigned own, unsigned right, unsigned mask) {
  if (ok) return right;
  own &= mask;
  return own != right ? own : right ^ 1u;
}

// Event of one row, with the CRC it will carry written back into the row.
bool rowEvent(Tbase& row, TlineEvent& e) {
  return visitRow(
      row,
      Toverload{
          [&e](Treset& r) {
            e = linegen::reset(r.duration, r.idleTicks);
            return true;
          },
          [&e](Tsof& s) {
            const unsigned field = static_cast<unsigned>(s.frame) & 0x7FFu;
            const unsigned right = linegen::crc5(field);
            s.crc5 = static_cast<int>(sentCrc(s.crcOK, static_cast<unsigned>(s.crc5), right, 31));
            e = linegen::packet(linegen::sofBytes(s.frame, right ^ static_cast<unsigned>(s.crc5)), s.idle);
            e.bytes[0] = linegen::pidByte(s.pid);
            return true;
          },
          [&e](Ttoken& t) {
            const unsigned field = (static_cast<unsigned>(t.addr) & 127u) | (static_cast<unsigned>(t.endp) & 15u) << 7;
            const unsigned right = linegen::crc5(field);
            t.crc5 = static_cast<int>(sentCrc(t.crcOK, static_cast<unsigned>(t.crc5), right, 31));
            e = linegen::packet(linegen::tokenBytes(t.pid, t.addr, t.endp, right ^ static_cast<unsigned>(t.crc5)),
                                t.idle);
            return true;
          },
          [&e](Tdata& d) {
            const unsigned right = linegen::crc16(d.data.data(), d.data.size());
            d.crc16 = static_cast<int>(sentCrc(d.crcOK, static_cast<unsigned>(d.crc16), right, 0xFFFF));
            e = linegen::packet(linegen::dataBytes(d.pid, d.data, right ^ static_cast<unsigned>(d.crc16)), d.idle);
            return true;
          },
          [&e](Thandshake& h) {
            e = linegen::handshake(h.pid, h.idle);
            return true;
          },
          [](Tgrouper&) { return false; }},
      false);
}

void collectLeaves(const TrowVec& rows, TrowVec& out) {
  for (const TrowPtr& r : rows) {
    if (!r) continue;
    if (r->kind >= RK_SOFGROUP && r->kind <= RK_TRANSFER)
      collectLeaves(static_cast<const Tgrouper&>(*r).children, out);
    else if (r->kind >= RK_RESET && r->kind <= RK_HANDSHAKE)
      out.push_back(r);
  }
}

std::vector<TlineEvent> styledEvents(const TrowVec& leaves, const TcaptureStyle& style) {
  Tdice dice(style.coder.seed ^ 0x5eedu);
  std::vector<TlineEvent> events;
  events.reserve(leaves.size());
  for (const TrowPtr& r : leaves) {
    TlineEvent e;
    if (!rowEvent(*r, e)) continue;
    if (e.kind == LE_PACKET) {
      e.syncLen = style.mixSync ? (dice.oneIn(2) ? 6 : 8) : style.syncLen;
      if (style.glitches && dice.oneIn(6)) {
        e.se1At = static_cast<int>(dice.below(static_cast<uint32_t>(e.bytes.size() * 8)));
        e.se1Ticks = dice.range(1, 40);
      }
    }
    events.push_back(std::move(e));
  }
  return events;
}

template <typename T>
void note(std::ostringstream& os, const char* name, const T& want, const T& got) {
  if (want != got && os.tellp() == 0) os << name << ": want " << want << ", got " << got;
}

std::string bytesText(const TbyteVec& v) {
  std::ostringstream os;
  os << '[';
  for (size_t i = 0; i < v.size(); ++i) os << (i ? " " : "") << std::hex << unsigned(v[i]);
  os << ']';
  return os.str();
}

}  // namespace

std::vector<TlineEvent> eventsFromRows(const TrowVec& rows, const TcaptureStyle& style) {
  return styledEvents(leafRows(rows), style);
}

TrowVec leafRows(const TrowVec& rows) {
  TrowVec out;
  collectLeaves(rows, out);
  return out;
}

std::vector<uint8_t> captureFromRows(TrowVec& rows, const TcaptureStyle& style) {
  const TrowVec leaves = leafRows(rows);
  const std::vector<TlineEvent> events = styledEvents(leaves, style);
  TlineEncoder enc(style.coder);
  for (size_t i = 0; i < events.size(); ++i) {
    leaves[i]->tick = enc.tick();
    enc.add(events[i]);
  }
  enc.flush(true);
  return enc.takeBytes();
}

TrowVec decodeCapture(const std::vector<uint8_t>& raw, std::vector<uint64_t>* progress) {
  TrowVec rows;
  Tevents events(raw);
  uint64_t position = 0;
  while (events.getNextEvent(rows, position))
    if (progress) progress->push_back(position);
  return rows;
}

std::string rowDiff(const Tbase& want, const Tbase& got) {
  std::ostringstream os;
  note(os, "kind", want.kind, got.kind);
  note(os, "tick", want.tick, got.tick);
  note(os, "level", want.level, got.level);
  if (os.tellp() != 0) return os.str();
  auto packet = [&os, &got](const TpacketBase& w) {
    auto& g = static_cast<const TpacketBase&>(got);
    note(os, "pid", w.pid, g.pid);
    note(os, "idle", w.idle, g.idle);
  };
  auto children = [&os, &got](const Tgrouper& w) {
    if (os.tellp() != 0) return;
    const std::string sub = rowsDiff(w.children, static_cast<const Tgrouper&>(got).children);
    if (!sub.empty()) os << "children: " << sub;
  };
  visitRow(want,
           Toverload{[&os, &got](const Treset& w) {
                       auto& g = static_cast<const Treset&>(got);
                       note(os, "duration", w.duration, g.duration);
                       note(os, "idleTicks", w.idleTicks, g.idleTicks);
                     },
                     [&os, &got, &packet](const Tsof& w) {
                       auto& g = static_cast<const Tsof&>(got);
                       packet(w);
                       note(os, "frame", w.frame, g.frame);
                       note(os, "crc5", w.crc5, g.crc5);
                       note(os, "crcOK", w.crcOK, g.crcOK);
                     },
                     [&os, &got, &packet](const Ttoken& w) {
                       auto& g = static_cast<const Ttoken&>(got);
                       packet(w);
                       note(os, "addr", w.addr, g.addr);
                       note(os, "endp", w.endp, g.endp);
                       note(os, "crc5", w.crc5, g.crc5);
                       note(os, "crcOK", w.crcOK, g.crcOK);
                     },
                     [&os, &got, &packet](const Tdata& w) {
                       auto& g = static_cast<const Tdata&>(got);
                       packet(w);
                       note(os, "data", bytesText(w.data), bytesText(g.data));
                       note(os, "crc16", w.crc16, g.crc16);
                       note(os, "crcOK", w.crcOK, g.crcOK);
                     },
                     [&packet](const Thandshake& w) { packet(w); }, [&children](const TsofGroup& w) { children(w); },
                     [&os, &got, &children](const Ttransax& w) {
                       note(os, "trxType", int(w.trxType), int(static_cast<const Ttransax&>(got).trxType));
                       children(w);
                     },
                     [&os, &got, &children](const Ttransfer& w) {
                       auto& g = static_cast<const Ttransfer&>(got);
                       note(os, "tfrType", int(w.tfrType), int(g.tfrType));
                       note(os, "success", w.success, g.success);
                       note(os, "data", bytesText(w.data), bytesText(g.data));
                       children(w);
                     }});
  return os.str();
}

std::string rowsDiff(const TrowVec& want, const TrowVec& got) {
  const size_t n = want.size() < got.size() ? want.size() : got.size();
  for (size_t i = 0; i < n; ++i) {
    if (!want[i] || !got[i]) {
      if (want[i] != got[i]) return "row " + std::to_string(i) + ": null handle";
      continue;
    }
    const std::string d = rowDiff(*want[i], *got[i]);
    if (!d.empty()) return "row " + std::to_string(i) + ": " + d;
  }
  if (want.size() != got.size())
    return "row count: want " + std::to_string(want.size()) + ", got " + std::to_string(got.size());
  return "";
}

namespace {

TbyteVec randomPayload(Tdice& dice, unsigned maxLen) {
  TbyteVec p(dice.range(0, maxLen));
  const bool ones = dice.oneIn(4);  // long runs of 1s make the most stuffed bits
  for (auto& b : p) b = ones && !dice.oneIn(8) ? 0xFF : static_cast<uint8_t>(dice.below(256));
  return p;
}

uint32_t randomIdle(Tdice& dice, const TrandomTraffic& t) {
  if (t.longIdles && dice.oneIn(20)) return dice.range(1, 1u << 20);
  return dice.range(1, t.maxIdle < 1 ? 1 : t.maxIdle);
}

TrowPtr randomPacket(Tdice& dice, const TrandomTraffic& t) {
  static const int DATA_PIDS[] = {PID_DATA0, PID_DATA1, PID_DATA2, PID_MDATA};
  static const int TOKEN_PIDS[] = {PID_OUT, PID_IN, PID_SETUP};
  static const int HANDSHAKE_PIDS[] = {PID_ACK, PID_NAK, PID_STALL, PID_NYET};
  const bool bad = t.crcErrors && dice.oneIn(8);
  TpacketBase* p = nullptr;
  TrowPtr row;
  switch (dice.below(4)) {
    case 0: {
      auto s = std::make_shared<Tsof>();
      s->pid = PID_SOF;
      s->frame = static_cast<int>(dice.below(2048));
      s->crcOK = !bad;
      p = s.get();
      row = s;
      break;
    }
    case 1: {
      auto k = std::make_shared<Ttoken>();
      k->pid = TOKEN_PIDS[dice.below(3)];
      k->addr = static_cast<int>(dice.below(128));
      k->endp = static_cast<int>(dice.below(16));
      k->crcOK = !bad;
      p = k.get();
      row = k;
      break;
    }
    case 2: {
      auto d = std::make_shared<Tdata>();
      d->pid = DATA_PIDS[dice.below(4)];
      d->data = randomPayload(dice, t.maxPayload);
      d->crcOK = !bad;
      p = d.get();
      row = d;
      break;
    }
    default: {
      auto h = std::make_shared<Thandshake>();
      h->pid = HANDSHAKE_PIDS[dice.below(4)];
      p = h.get();
      row = h;
      break;
    }
  }
  p->idle = randomIdle(dice, t);
  return row;
}

}  // namespace

TrowVec randomRows(uint32_t seed, size_t count, const TrandomTraffic& traffic) {
  Tdice dice(seed);
  TrowVec rows;
  rows.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    if (traffic.resets && dice.oneIn(25)) {
      auto r = std::make_shared<Treset>();
      r->duration = dice.oneIn(3) ? dice.range(1, 60) : dice.range(2048, 200000);
      r->idleTicks = randomIdle(dice, traffic);
      rows.push_back(r);
    } else {
      rows.push_back(randomPacket(dice, traffic));
    }
  }
  return rows;
}

namespace {

template <typename T>
std::shared_ptr<T> packetRow(TrowVec& rows, int pid, uint32_t idle) {
  auto p = std::make_shared<T>();
  p->pid = pid;
  p->idle = idle;
  rows.push_back(p);
  return p;
}

// One frame: an SOF, then transactions until about a millisecond is used.
void denseFrame(Tdice& dice, int frame, TrowVec& rows) {
  auto gap = [&dice] { return dice.range(1, 8); };
  packetRow<Tsof>(rows, PID_SOF, gap())->frame = frame & 0x7FF;
  uint32_t used = 40;
  while (used < 12000) {
    const uint32_t what = dice.below(4);
    auto tok = packetRow<Ttoken>(rows, what == 0 ? PID_SETUP : (what == 1 ? PID_OUT : PID_IN), gap());
    tok->addr = static_cast<int>(dice.range(1, 127));
    tok->endp = what == 0 ? 0 : static_cast<int>(dice.range(1, 15));
    if (what == 3) {  // IN polled, device has nothing
      packetRow<Thandshake>(rows, PID_NAK, gap());
      used += 60;
      continue;
    }
    auto d = packetRow<Tdata>(rows, dice.oneIn(2) ? PID_DATA0 : PID_DATA1, gap());
    d->data = randomPayload(dice, what == 0 ? 8 : 64);
    packetRow<Thandshake>(rows, PID_ACK, gap());
    used += 80 + static_cast<uint32_t>(d->data.size()) * 9;
  }
}

}  // namespace

TdenseCapture denseFullCapture(uint32_t seed) {
  Tdice dice(seed);
  TdenseCapture cap;
  TlineEncoder enc;
  const size_t target = kelvo::RAW_MAGIC_SIZE + FULL_CAPTURE_BYTES;
  // Leaves room for the last frame, the pending run and the open byte.
  const size_t stopAt = target - 4096;
  for (int frame = static_cast<int>(dice.below(2048)); enc.coder().bytesCoded() < stopAt; ++frame) {
    TrowVec frameRows;
    denseFrame(dice, frame, frameRows);
    for (TrowPtr& r : frameRows) {
      TlineEvent e;
      rowEvent(*r, e);
      r->tick = enc.tick();
      enc.add(e);
      cap.rows.push_back(r);
    }
  }
  enc.flush(true);
  cap.raw = enc.takeBytes();
  // J-only bytes to the end: runs inside the cut-off packet start that the
  // flush left, so they make no row.
  cap.raw.resize(target, 0x3F);
  return cap;
}

}  // namespace qxtest
