#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "lineencoder.h"
#include "qxcapture.h"
#include "vkrawevt.h"

namespace {

using namespace linegen;

// One line per row: the fields that the decoder fills.
std::string describe(const Tbase& r) {
  std::ostringstream os;
  os << "t" << r.tick << " ";
  auto idle = [&os](const TpacketBase& p) {
    os << " idle " << p.idle;
    return true;
  };
  const bool known = visitRow(r,
                              Toverload{[&os](const Treset& x) {
                                          os << "reset " << x.duration << " idle " << x.idleTicks;
                                          return true;
                                        },
                                        [&os, &idle](const Tsof& x) {
                                          os << "sof " << x.frame << " crc " << x.crc5 << (x.crcOK ? " ok" : " bad");
                                          return idle(x);
                                        },
                                        [&os, &idle](const Ttoken& x) {
                                          os << "token " << x.pid << " " << x.addr << "." << x.endp << " crc " << x.crc5
                                             << (x.crcOK ? " ok" : " bad");
                                          return idle(x);
                                        },
                                        [&os, &idle](const Tdata& x) {
                                          os << "data " << x.pid << " [";
                                          for (size_t i = 0; i < x.data.size(); ++i)
                                            os << (i ? " " : "") << std::hex << unsigned(x.data[i]) << std::dec;
                                          os << "] crc " << x.crc16 << (x.crcOK ? " ok" : " bad");
                                          return idle(x);
                                        },
                                        [&os, &idle](const Thandshake& x) {
                                          os << "handshake " << x.pid;
                                          return idle(x);
                                        },
                                        [](const Tgrouper&) { return false; }},
                              false);
  if (!known) os << "kind " << r.kind;
  return os.str();
}

std::vector<std::string> decodeText(const std::vector<TlineEvent>& events) {
  std::vector<std::string> out;
  for (const TrowPtr& r : qxtest::decodeCapture(encodeCapture(events))) out.push_back(describe(*r));
  return out;
}

TlineEvent withSync(TlineEvent e, int sync) {
  e.syncLen = sync;
  return e;
}
TlineEvent cut(TlineEvent e, int bits) {
  e.bitLimit = bits;
  return e;
}
TlineEvent noEop(TlineEvent e) {
  e.eopTicks = 0;
  e.idle = 0;
  return e;
}
TlineEvent glitch(TlineEvent e, int at, uint32_t ticks) {
  e.se1At = at;
  e.se1Ticks = ticks;
  return e;
}

struct DecodeCase {
  const char* name;
  std::vector<TlineEvent> events;
  std::vector<std::string> rows;
};

// Ticks by hand: a handshake is 16 states (SYNC and PID), a token or SOF
// 32, a data packet 8 + 8 x bytes (+ stuffed bits); then 2 SE0 and the idle.
// CRC values come from the bitwise encoder, checked in test_crc.
std::vector<DecodeCase> decodeCases() {
  const uint8_t setupCrc = crc5(0x15 | 0xE << 7);
  return {
      {"reset then J", {lineState(LS_SE0, 10), idle(7)}, {"t0 reset 10 idle 7"}},
      {"reset takes any following run", {reset(5, 0), lineState(LS_K, 3), idle(4)}, {"t0 reset 5 idle 3"}},
      {"SE0 as the last run", {idle(3), lineState(LS_SE0, 10)}, {}},
      {"J and SE1 runs between events", {idle(3), se1(9), idle(2), handshake(PID_ACK, 4)}, {"t14 handshake 2 idle 4"}},
      {"ack after idle", {idle(5), handshake(PID_ACK, 6)}, {"t5 handshake 2 idle 6"}},
      {"six-state SYNC", {idle(5), withSync(handshake(PID_NAK, 6), 6)}, {"t5 handshake 10 idle 6"}},
      {"K K start is no SYNC",
       {idle(2), lineState(LS_K, 1), handshake(PID_ACK, 3), handshake(PID_STALL, 2)},
       {"t24 handshake 14 idle 2"}},
      {"token fields",
       {token(PID_SETUP, 0x15, 0xE, 1)},
       {"t0 token 13 21.14 crc " + std::to_string(setupCrc) + " ok idle 1"}},
      {"token address 127 endpoint 15",
       {token(PID_IN, 127, 15, 2)},
       {"t0 token 9 127.15 crc " + std::to_string(crc5(0x7FF)) + " ok idle 2"}},
      {"bad token CRC",
       {packet(tokenBytes(PID_OUT, 3, 1, 4), 2)},
       {"t0 token 1 3.1 crc " + std::to_string(crc5(3 | 1 << 7) ^ 4) + " bad idle 2"}},
      {"sof frame 2047", {sof(0x7FF, 3)}, {"t0 sof 2047 crc 8 ok idle 3"}},
      {"zero-length DATA0", {data(PID_DATA0, {}, 2)}, {"t0 data 3 [] crc 0 ok idle 2"}},
      {"zero-length DATA0 with CRC 01 00", {packet({0xC3, 0x01, 0x00}, 2)}, {"t0 data 3 [] crc 1 bad idle 2"}},
      {"data of two bytes has no CRC", {packet({0x4B, 0x55}, 2)}, {"t0 data 11 [] crc 0 ok idle 2"}},
      {"payload", {data(PID_DATA1, {0x23, 0x45, 0x67, 0x89}, 2)}, {"t0 data 11 [23 45 67 89] crc 7182 ok idle 2"}},
      {"stuffed 0xFF payload",
       {data(PID_MDATA, {0xFF, 0xFF, 0xFF, 0x7F, 0xFE}, 2)},
       {"t0 data 15 [ff ff ff 7f fe] crc " +
        std::to_string(crc16(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F, 0xFE}.data(), 5)) + " ok idle 2"}},
      {"SE1 inside a packet is one J",
       {glitch(data(PID_DATA0, {0x00, 0x11}, 2), 4, 37), handshake(PID_ACK, 1)},
       {"t0 data 3 [0 11] crc " + std::to_string(crc16(std::vector<uint8_t>{0x00, 0x11}.data(), 2)) + " ok idle 2",
        "t" + std::to_string(8 + 40 - 1 + 37 + 2 + 2) + " handshake 2 idle 1"}},
      {"PID check nibble ignored", {packet({0x12}, 3)}, {"t0 handshake 2 idle 3"}},
      {"handshake with a trailing byte", {packet({0xD2, 0x00}, 3)}, {"t0 handshake 2 idle 3"}},
      {"token missing its last byte", {cut(token(PID_IN, 0x15, 0xE, 2), 16)}, {"t0 token 9 21.0 crc 0 bad idle 2"}},
      {"special and reserved PIDs give no row",
       {packet(tokenBytes(PID_PING, 1, 1), 2), packet({pidByte(PID_SPLIT), 1, 2, 3}, 2), handshake(0, 2),
        handshake(PID_PRE, 2), handshake(PID_ACK, 2)},
       {"t" + std::to_string(36 + 44 + 20 + 20) + " handshake 2 idle 2"}},
      {"SYNC without a whole PID byte",
       {cut(handshake(PID_ACK, 2), 7), handshake(PID_NAK, 2)},
       {"t" + std::to_string(8 + 7 + 4) + " handshake 10 idle 2"}},
      {"no SYNC at all",
       {withSync(handshake(PID_ACK, 2), 0), handshake(PID_NAK, 2)},
       {"t" + std::to_string(8 + 4) + " handshake 10 idle 2"}},
      // No idle: the next SYNC's first K is taken as idle; the rest of that
      // SYNC is K J K J K K, which still is one.
      {"packets back to back",
       {handshake(PID_ACK, 0), handshake(PID_NAK, 2)},
       {"t0 handshake 2 idle 1", "t20 handshake 10 idle 2"}},
      {"data end before the end of packet",
       {handshake(PID_ACK, 2), noEop(handshake(PID_NAK))},
       {"t0 handshake 2 idle 2"}},
      {"data end right after the end of packet",
       {handshake(PID_ACK, 2), handshake(PID_NAK, 0)},
       {"t0 handshake 2 idle 2"}},
  };
}

TEST(PacketDecoder, Cases) {
  for (const auto& c : decodeCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decodeText(c.events), c.rows);
  }
}

// The bit after six 1s is dropped whatever its value: send the stuffed bit
// as a 1 (keep the level, flip all later states) and the packet decodes the same.
TEST(PacketDecoder, StuffedBitDroppedWhateverItsValue) {
  const TlineEvent good = data(PID_DATA0, {0xFF, 0x3F}, 3);
  std::vector<uint8_t> st = packetStates(good);
  // DATA0 0xC3 ends in 1 1, the SYNC's K K is a 1: after four payload 1s
  // there are six, so state 8 + 8 + 4 is the stuffed one.
  const size_t stuffed = 8 + 8 + 4;
  ASSERT_NE(st[stuffed], st[stuffed - 1]);
  for (size_t i = stuffed; i < st.size(); ++i) st[i] = st[i] == LS_K ? LS_J : LS_K;
  std::vector<TlineEvent> bad;
  for (uint8_t s : st) bad.push_back(lineState(s, 1));
  bad.push_back(lineState(LS_SE0, 2));
  bad.push_back(idle(3));
  EXPECT_EQ(decodeText(bad), decodeText({good}));
  ASSERT_EQ(decodeText({good}).size(), 1u);
}

// A packet whose line states would not fit any real packet (a J run of
// millions of ticks) yields no row instead of a buffer of that size.
TEST(PacketDecoder, OverlongPacketIsPassedOver) {
  std::vector<TlineEvent> ev = {idle(2)};
  for (int i = 0; i < 7; ++i) ev.push_back(lineState(i % 2 ? LS_J : LS_K, 1));
  ev.push_back(lineState(LS_K, 1));
  ev.push_back(lineState(LS_J, 3000000));
  ev.push_back(lineState(LS_SE0, 2));
  ev.push_back(idle(5));
  ev.push_back(handshake(PID_ACK, 4));
  EXPECT_EQ(decodeText(ev), std::vector<std::string>{"t3000017 handshake 2 idle 4"});
}

TEST(PacketDecoder, ProgressIsTheReadIndex) {
  const std::vector<uint8_t> raw = encodeCapture({idle(3), handshake(PID_ACK, 5), reset(100, 2), sof(1, 2000)});
  TrowVec rows;
  Tevents ev(raw);
  uint64_t progress = 12345;
  uint64_t last = 0;
  int calls = 0;
  while (ev.getNextEvent(rows, progress)) {
    EXPECT_GE(progress, last);
    EXPECT_LE(progress, raw.size());
    last = progress;
    ++calls;
  }
  EXPECT_EQ(progress, raw.size());
  EXPECT_GT(calls, 3);
  EXPECT_EQ(rows.size(), 3u);
  // Further calls keep saying the data ended.
  progress = 0;
  EXPECT_FALSE(ev.getNextEvent(rows, progress));
  EXPECT_EQ(progress, raw.size());
  // The shared-handle form appends to the same kind of list.
  auto handle = std::make_shared<TrowVec>();
  Tevents again(raw);
  while (again.getNextEvent(handle, progress)) {
  }
  EXPECT_EQ(qxtest::rowsDiff(rows, *handle), "");
}

TEST(PacketDecoder, BadHeaderGivesNothing) {
  std::vector<uint8_t> raw = encodeCapture({handshake(PID_ACK, 5)});
  raw[3] = 'x';
  TrowVec rows;
  Tevents ev(raw);
  uint64_t progress = 7;
  EXPECT_FALSE(ev.getNextEvent(rows, progress));
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(progress, 0u);
}

}  // namespace
