// Decodes captures of varied full-speed traffic with our decoder and with
// sigrok's usb_signalling/usb_packet decoders, and compares them packet by
// packet; sigrok is also held against the rows the encoder meant to send.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lineencoder.h"
#include "logicsamples.h"
#include "qxcapture.h"
#include "sigrokusb.h"

namespace {

using namespace xcheck;

// sigrok reports an SE0 as a reset only beyond 2.5 us.
constexpr uint32_t SIGROK_RESET_TICKS = 30;
constexpr uint32_t MAX_RESET = 4000;  // keeps the sample files small

const char* pidName(int pid) {
  static const char* const NAMES[16] = {"Reserved", "OUT", "ACK", "DATA0", "PING", "SOF",   "NYET",  "DATA2",
                                        "SPLIT",    "IN",  "NAK", "DATA1", "PRE",  "SETUP", "STALL", "MDATA"};
  return NAMES[pid & 15];
}

// PIDs for which the decoder makes no row.
bool noRowPid(const std::string& name) {
  return name == "Reserved" || name == "PING" || name == "SPLIT" || name == "PRE" || name == "ERR";
}

std::string hex(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*x", width, v);
  return buf;
}

std::string okText(bool ok) { return ok ? " ok" : " bad"; }

// One line in the form both sides are written in; "" for what sigrok does
// not report (an SE0 of at most 2.5 us).
std::string rowLine(const Tbase& r) {
  std::ostringstream os;
  os << "t" << r.tick << " ";
  const bool shown = visitRow(r,
                              Toverload{[&os](const Treset& x) {
                                          os << "reset " << x.duration;
                                          return x.duration > SIGROK_RESET_TICKS;
                                        },
                                        [&os](const Tsof& x) {
                                          os << "SOF frame " << x.frame << " crc5 " << hex(unsigned(x.crc5), 2)
                                             << okText(x.crcOK);
                                          return true;
                                        },
                                        [&os](const Ttoken& x) {
                                          os << pidName(x.pid) << " addr " << x.addr << " endp " << x.endp << " crc5 "
                                             << hex(unsigned(x.crc5), 2) << okText(x.crcOK);
                                          return true;
                                        },
                                        [&os](const Tdata& x) {
                                          os << pidName(x.pid) << " [";
                                          for (size_t i = 0; i < x.data.size(); ++i)
                                            os << (i ? " " : "") << hex(x.data[i], 2);
                                          os << "] crc16 " << hex(unsigned(x.crc16), 4) << okText(x.crcOK);
                                          return true;
                                        },
                                        [&os](const Thandshake& x) {
                                          os << pidName(x.pid);
                                          return true;
                                        },
                                        [&os, &r](const Tgrouper&) {
                                          os << "kind " << r.kind;
                                          return true;
                                        }},
                              true);
  if (!shown) return "";
  if (r.kind < RK_RESET || r.kind > RK_TRANSFER) os << "kind " << r.kind;
  return os.str();
}

std::string tickText(uint64_t sample, const TlogicOptions& lo) {
  uint64_t tick = 0;
  return tickOfSample(sample, lo, tick) ? "t" + std::to_string(tick) : "sample" + std::to_string(sample);
}

// "" for packets whose PID has no row class in the decoder.
std::string sigrokLine(const TsigrokEvent& e, const TlogicOptions& lo) {
  std::ostringstream os;
  os << tickText(e.ss, lo) << " ";
  if (e.kind == SK_RESET) {
    const uint64_t span = e.es - e.ss;
    if (span % lo.samplesPerTick) return os.str() + "reset of " + std::to_string(span) + " samples";
    os << "reset " << span / lo.samplesPerTick;
    return os.str();
  }
  if (e.kind == SK_ERROR) return os.str() + "sigrok: " + e.text;
  if (!e.syncOK || e.pid.empty()) return os.str() + "sigrok packet: " + e.text;
  if (noRowPid(e.pid)) return "";
  os << e.pid;
  if (e.pid == "SOF") {
    os << " frame " << e.frame << " crc5 " << hex(unsigned(e.crc5), 2) << okText(e.crcOK);
  } else if (e.addr >= 0) {
    os << " addr " << e.addr << " endp " << e.endp << " crc5 " << hex(unsigned(e.crc5), 2) << okText(e.crcOK);
  } else if (e.crc16 >= 0) {
    os << " [";
    for (size_t i = 0; i < e.data.size(); ++i) os << (i ? " " : "") << hex(e.data[i], 2);
    os << "] crc16 " << hex(unsigned(e.crc16), 4) << okText(e.crcOK);
  } else if (e.pid != "ACK" && e.pid != "NAK" && e.pid != "STALL" && e.pid != "NYET") {
    os << " (" << e.text << ")";  // a PID sigrok does not know, or a cut packet
  }
  return os.str();
}

std::vector<std::string> rowLines(const TrowVec& rows) {
  std::vector<std::string> out;
  for (const TrowPtr& r : rows) {
    if (!r) continue;
    std::string s = rowLine(*r);
    if (!s.empty()) out.push_back(std::move(s));
  }
  return out;
}

std::vector<std::string> sigrokLines(const std::vector<TsigrokEvent>& events, const TlogicOptions& lo) {
  std::vector<std::string> out;
  for (const TsigrokEvent& e : events) {
    std::string s = sigrokLine(e, lo);
    if (!s.empty()) out.push_back(std::move(s));
  }
  return out;
}

// "" when equal; else the first difference with two lines of context.
std::string linesDiff(const std::vector<std::string>& a, const char* aName, const std::vector<std::string>& b,
                      const char* bName) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n && a.size() == b.size()) return "";
  std::ostringstream os;
  os << "first difference at line " << i << " (" << aName << " " << a.size() << " lines, " << bName << " " << b.size()
     << ")\n";
  const size_t from = i >= 2 ? i - 2 : 0;
  for (size_t k = from; k < i + 3; ++k) {
    os << "  " << k << ": " << aName << ": " << (k < a.size() ? a[k] : "(none)") << "\n";
    os << "  " << k << ": " << bName << ": " << (k < b.size() ? b[k] : "(none)") << "\n";
  }
  return os.str();
}

// Bus events and, for each, the row it must decode to (null: no row).
struct Ttraffic {
  std::vector<TlineEvent> events;
  TrowVec rows;
};

void shortenResets(TrowVec& rows) {
  for (TrowPtr& r : rows)
    if (r->kind == RK_RESET) {
      auto& x = static_cast<Treset&>(*r);
      x.duration = std::min(x.duration, MAX_RESET);
    }
}

void addRows(Ttraffic& t, TrowVec rows, const qxtest::TcaptureStyle& style = qxtest::TcaptureStyle()) {
  shortenResets(rows);
  std::vector<TlineEvent> ev = qxtest::eventsFromRows(rows, style);  // writes the CRCs sent into the rows
  const TrowVec leaves = qxtest::leafRows(rows);
  for (size_t i = 0; i < ev.size(); ++i) {
    t.events.push_back(std::move(ev[i]));
    t.rows.push_back(leaves[i]);
  }
}

void addBare(Ttraffic& t, TlineEvent e) {
  t.events.push_back(std::move(e));
  t.rows.push_back(nullptr);
}

// Codes the traffic and stamps each row with the tick its event starts at.
std::vector<uint8_t> encode(Ttraffic& t, const TrawCoderOptions& coder) {
  std::vector<uint64_t> starts;
  std::vector<uint8_t> raw = linegen::encodeCapture(t.events, coder, &starts);
  for (size_t i = 0; i < t.rows.size(); ++i)
    if (t.rows[i]) t.rows[i]->tick = starts[i];
  return raw;
}

template <typename T>
std::shared_ptr<T> row(TrowVec& rows, int pid, uint32_t idle = 5) {
  auto p = std::make_shared<T>();
  p->pid = pid;
  p->idle = idle;
  rows.push_back(p);
  return p;
}

void sof(TrowVec& rows, int frame, bool ok = true) {
  auto s = row<Tsof>(rows, PID_SOF);
  s->frame = frame;
  s->crcOK = ok;
}

void token(TrowVec& rows, int pid, int addr, int endp, bool ok = true) {
  auto k = row<Ttoken>(rows, pid);
  k->addr = addr;
  k->endp = endp;
  k->crcOK = ok;
}

void data(TrowVec& rows, int pid, TbyteVec payload, bool ok = true, int crc = 0) {
  auto d = row<Tdata>(rows, pid);
  d->data = std::move(payload);
  d->crcOK = ok;
  d->crc16 = crc;
}

void reset(TrowVec& rows, uint32_t duration, uint32_t idle) {
  auto r = std::make_shared<Treset>();
  r->duration = duration;
  r->idleTicks = idle;
  rows.push_back(r);
}

// A payload whose CRC16 ends in a 0 and six 1 bits: the stuffed bit comes
// right before the end of packet. Every length from 1 byte on has one.
TbyteVec payloadWithStuffBeforeEop(size_t len) {
  TbyteVec p(len, 0);
  for (uint32_t v = 0; v < (1u << 20); ++v) {
    for (size_t i = 0; i < len; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (i % 4)));
    if ((linegen::crc16(p.data(), p.size()) >> 9) == 0x7E) return p;
  }
  return p;
}

Ttraffic randomTraffic(uint32_t seed, size_t count, unsigned maxPayload) {
  qxtest::TrandomTraffic tr;
  tr.maxPayload = maxPayload;
  tr.maxIdle = 300;
  tr.longIdles = false;
  Ttraffic t;
  addRows(t, qxtest::randomRows(seed, count, tr));
  return t;
}

// Corner values of every field, payloads made for bit stuffing, and CRCs
// bad in every field.
Ttraffic cornerTraffic() {
  using namespace linegen;
  TrowVec rows;
  for (int f : {0, 1, 0x3FF, 0x400, 0x555, 0x2AA, 0x7F0, 0x7FF}) sof(rows, f);
  for (int pid : {PID_OUT, PID_IN, PID_SETUP})
    for (int a : {0, 1, 0x55, 0x7E, 0x7F})
      for (int e : {0, 7, 8, 15}) token(rows, pid, a, e);
  for (size_t n : {0, 1, 2, 3, 5, 6, 7, 8, 9, 63, 64, 65, 127, 1023}) data(rows, PID_DATA0, TbyteVec(n, 0xFF));
  for (uint8_t b : {0x00, 0x7F, 0xFE, 0x3F, 0xFC, 0x7E, 0xBF, 0xFD, 0xEF, 0x80, 0x01})
    for (size_t n : {1, 2, 3, 17, 64}) data(rows, PID_DATA1, TbyteVec(n, b));
  for (size_t n : {1, 2, 5, 13}) data(rows, PID_DATA0, payloadWithStuffBeforeEop(n));
  data(rows, PID_DATA2, {0x12, 0x34});
  data(rows, PID_MDATA, {0xFF, 0x00, 0xFF});
  for (int pid : {PID_ACK, PID_NAK, PID_STALL, PID_NYET}) row<Thandshake>(rows, pid);
  // Bad CRCs: flipped bit 0 (the encoder's choice) and a CRC field of all ones.
  sof(rows, 0x7FF, false);
  sof(rows, 0x123, false);
  static_cast<Tsof&>(*rows.back()).crc5 = 31;
  token(rows, PID_IN, 127, 15, false);
  token(rows, PID_SETUP, 0, 0, false);
  static_cast<Ttoken&>(*rows.back()).crc5 = 31;
  data(rows, PID_DATA0, {}, false, 0xFFFF);
  data(rows, PID_DATA1, TbyteVec(40, 0xFF), false);
  data(rows, PID_DATA0, {1, 2, 3}, false, 0x0001);
  // Resets around sigrok's 2.5 us threshold and long ones.
  for (uint32_t d : {1u, 2u, 29u, 30u, 31u, 32u, 600u, 4000u}) {
    reset(rows, d, d % 3 + 2);
    token(rows, PID_SETUP, 0, 0);
  }
  Ttraffic t;
  addRows(t, rows);
  // Special PIDs: sigrok shows them, the decoder makes no row and goes on.
  addBare(t, packet(tokenBytes(PID_PING, 5, 1), 4));
  addBare(t, packet(tokenBytes(PID_SPLIT, 9, 3), 4));
  addBare(t, packet(handshakeBytes(0), 4));
  // After a PRE sigrok reads low-speed traffic until the next reset.
  addBare(t, packet(handshakeBytes(PID_PRE), 4));
  TrowVec after;
  reset(after, 100, 10);
  data(after, PID_DATA1, TbyteVec(8, 0xFF));
  row<Thandshake>(after, PID_ACK);
  addRows(t, after);
  return t;
}

// Data packets with 0xFF runs at random offsets and lengths, so that stuffed
// bits fall on every position of a byte and of a machine word.
Ttraffic stuffingTraffic(uint32_t seed, size_t count) {
  std::mt19937 rng(seed);
  TrowVec rows;
  for (size_t i = 0; i < count; ++i) {
    TbyteVec p(rng() % 200);
    size_t k = 0;
    while (k < p.size()) {
      const size_t run = rng() % 24;
      for (size_t j = 0; j < run && k < p.size(); ++j) p[k++] = 0xFF;
      if (k < p.size()) p[k++] = static_cast<uint8_t>(rng());
    }
    data(rows, (rng() & 1) ? PID_DATA1 : PID_DATA0, std::move(p), rng() % 8 != 0);
    static_cast<TpacketBase&>(*rows.back()).idle = 1 + rng() % 20;
  }
  Ttraffic t;
  addRows(t, rows);
  return t;
}

TrawCoderOptions mixedForms(uint32_t seed) {
  TrawCoderOptions o;
  o.filler = 5;
  o.symbols = SF_MIXED;
  o.counts = CF_MIXED;
  o.seed = seed;
  return o;
}

struct TcrossCase {
  const char* name;
  std::function<Ttraffic()> traffic;
  TrawCoderOptions coder;
  unsigned samplesPerTick;
};

const TcrossCase CROSS_CASES[] = {
    {"random_dense", [] { return randomTraffic(101, 400, 64); }, TrawCoderOptions(), 4},
    {"random_mixed_forms", [] { return randomTraffic(202, 400, 64); }, mixedForms(202), 4},
    {"random_long_payloads", [] { return randomTraffic(303, 120, 1023); }, TrawCoderOptions(), 4},
    {"corners", cornerTraffic, TrawCoderOptions(), 4},
    {"corners_mixed_forms", cornerTraffic, mixedForms(7), 5},
    {"stuffing", [] { return stuffingTraffic(404, 150); }, TrawCoderOptions(), 4},
    {"stuffing_mixed_forms", [] { return stuffingTraffic(505, 150); }, mixedForms(505), 4},
};

void PrintTo(const TcrossCase& c, std::ostream* os) { *os << c.name; }

std::string tempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("qx_sigrok_" + std::to_string(getpid()) + "_" + name + ".bin"))
      .string();
}

class SigrokCrossCheck : public ::testing::TestWithParam<TcrossCase> {};

TEST_P(SigrokCrossCheck, DecoderAgreesWithSigrok) {
  const std::string missing = sigrokMissing();
  if (!missing.empty()) GTEST_SKIP() << missing;
  const TcrossCase& c = GetParam();

  Ttraffic traffic = c.traffic();
  const std::vector<uint8_t> raw = encode(traffic, c.coder);
  const std::vector<std::string> sent = rowLines(traffic.rows);
  const std::vector<std::string> ours = rowLines(qxtest::decodeCapture(raw));
  ASSERT_GT(sent.size(), 50u);

  TlogicOptions lo;
  lo.samplesPerTick = c.samplesPerTick;
  std::vector<uint8_t> samples;
  ASSERT_TRUE(logicSamples(raw, lo, samples));
  const std::string path = tempPath(c.name);
  std::string out;
  std::string error;
  const bool ran = writeFile(path, samples) && runSigrok(path, 12000000ull * c.samplesPerTick, out, error);
  std::remove(path.c_str());
  ASSERT_TRUE(ran) << path << ": " << error;
  std::vector<TsigrokEvent> events;
  ASSERT_TRUE(parseAnnotations(out, events, error)) << error;
  const std::vector<std::string> theirs = sigrokLines(events, lo);

  // The capture holds what was meant (the encoder against sigrok) ...
  const std::string encoded = linesDiff(sent, "sent", theirs, "sigrok");
  EXPECT_TRUE(encoded.empty()) << encoded;
  // ... and the decoder reads it as sigrok does.
  const std::string decoded = linesDiff(ours, "ours", theirs, "sigrok");
  EXPECT_TRUE(decoded.empty()) << decoded;
}

INSTANTIATE_TEST_SUITE_P(Traffic, SigrokCrossCheck, ::testing::ValuesIn(CROSS_CASES),
                         [](const ::testing::TestParamInfo<TcrossCase>& i) { return std::string(i.param.name); });

// The parser: sigrok-cli's lines as they come, and lines it must refuse.
struct TparseCase {
  const char* text;
  bool ok;
  const char* lines;  // sigrokLine of each event at 1 sample a tick, no lead, "|"-joined
};

const TparseCase PARSE_CASES[] = {
    {"0-8 usb_packet-1: SYNC: 00000001\n8-16 usb_packet-1: PID: SOF\n16-27 usb_packet-1: Frame: 2047\n"
     "27-32 usb_packet-1: CRC5: 0x1F\n0-35 usb_packet-1: SOF 2047\n",
     true, "t0 SOF frame 2047 crc5 1f ok"},
    {"5-13 usb_packet-1: SYNC: 00000001\n13-21 usb_packet-1: PID: IN\n21-28 usb_packet-1: Address: 127\n"
     "28-32 usb_packet-1: Endpoint: 15\n32-37 usb_packet-1: CRC5 ERROR: 0x03\n5-40 usb_packet-1: IN ADDR 127 EP 15\n",
     true, "t5 IN addr 127 endp 15 crc5 03 bad"},
    {"0-8 usb_packet-1: SYNC: 00000001\n8-16 usb_packet-1: PID: DATA1\n16-24 usb_packet-1: Databyte: FF\n"
     "24-32 usb_packet-1: Databyte: 0A\n32-48 usb_packet-1: CRC16 ERROR: 0xBEEF\n0-51 usb_packet-1: DATA1 [ FF 0A ]\n"
     "60-70 usb_signalling-1: Reset\n",
     true, "t0 DATA1 [ff 0a] crc16 beef bad|t60 reset 10"},
    {"0-8 usb_packet-1: SYNC: 00000001\n8-16 usb_packet-1: PID: DATA0\n16-32 usb_packet-1: CRC16: 0x0000\n"
     "0-35 usb_packet-1: DATA0 [ ]\n40-48 usb_packet-1: SYNC: 00000001\n48-56 usb_packet-1: PID: ACK\n"
     "40-59 usb_packet-1: ACK\n",
     true, "t0 DATA0 [] crc16 0000 ok|t40 ACK"},
    {"0-8 usb_packet-1: SYNC ERROR: 00000011\n0-20 usb_packet-1: Invalid packet (shorter than 16 bits)\n"
     "30-31 usb_signalling-1: Bit stuff error\n",
     true, "t0 sigrok packet: Invalid packet (shorter than 16 bits)|t30 sigrok: Bit stuff error"},
    {"0-8 usb_packet-1: SYNC: 00000001\n8-16 usb_packet-1: PID: PING\n0-35 usb_packet-1: PING ADDR 1 EP 2\n", true, ""},
    {"0-8 usb_packet-1: Databyte: XY\n", false, ""},
    {"0-8 usb_packet-1: CRC5: 31\n", false, ""},
    {"garbage\n", false, ""},
    {"0-8 usb_other-1: Something\n", false, ""},
    {"0-8 usb_packet-1: SYNC: 00000001\n", false, ""},
};

TEST(SigrokAnnotations, ParsedIntoEvents) {
  TlogicOptions lo;
  lo.samplesPerTick = 1;
  lo.leadTicks = 0;
  for (const TparseCase& c : PARSE_CASES) {
    std::vector<TsigrokEvent> events;
    std::string error;
    ASSERT_EQ(parseAnnotations(c.text, events, error), c.ok) << c.text << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    std::string joined;
    for (const std::string& s : sigrokLines(events, lo)) joined += (joined.empty() ? "" : "|") + s;
    EXPECT_EQ(joined, c.lines) << c.text;
  }
}

// Line states map to D+/D- as a full-speed bus drives them, after the idle lead.
TEST(LogicSamples, RunsBecomeSamples) {
  // 0x01: K K K K K J; 0x60: J SE0 SE0; 0x4F: SE0 SE1 SE1 (pairs 5-4, 3-2, 1-0).
  const std::vector<uint8_t> raw = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.', 0x01, 0x60, 0x4F};
  TlogicOptions lo;
  lo.samplesPerTick = 2;
  lo.leadTicks = 1;
  std::vector<uint8_t> s;
  ASSERT_TRUE(logicSamples(raw, lo, s));
  const std::vector<uint8_t> want = {1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3};
  EXPECT_EQ(s, want);
  uint64_t tick = 0;
  EXPECT_TRUE(tickOfSample(sampleOfTick(7, lo), lo, tick));
  EXPECT_EQ(tick, 7u);
  EXPECT_FALSE(tickOfSample(sampleOfTick(7, lo) + 1, lo, tick));
  EXPECT_FALSE(tickOfSample(0, lo, tick));

  const std::vector<uint8_t> badMagic = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '!', 0x01};
  EXPECT_FALSE(logicSamples(badMagic, lo, s));
  lo.maxSamples = 20;
  EXPECT_FALSE(logicSamples(raw, lo, s));
}

}  // namespace
