// Display boxes and the box string: every builder, every row kind, full and
// compact, the SETUP decode, request names and the box string grammar.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>

#include "vkboxes.h"

namespace {

std::string colour(uint64_t c) {
  char text[24];
  std::snprintf(text, sizeof text, "%06llx", static_cast<unsigned long long>(c));
  return text;
}

std::string line(const Tboxlet& b) { return b.text + "{" + colour(b.fg) + "," + colour(b.bg) + "}"; }

// g<gap>,w<width>,t2: top{fg,bg} / bottom{fg,bg}   or   g..,w..,t1: top{fg,bg}
std::string describe(const TdisplayBox& box) {
  std::string head = "g" + std::to_string(box.gap) + ",w" + std::to_string(box.width);
  if (box.lines == 1) return head + ",t2: " + line(box.top) + " / " + line(box.bottom);
  if (box.lines != 0) return head + ",lines=" + std::to_string(box.lines);
  std::string text = head + ",t1: " + line(box.top);
  const Tboxlet unused;
  if (box.bottom.text != unused.text || box.bottom.fg != unused.fg || box.bottom.bg != unused.bg)
    text += " +bottom " + line(box.bottom);
  return text;
}

std::vector<std::string> describe(const TboxVec& boxes) {
  std::vector<std::string> out;
  for (const TdisplayBox& b : boxes) out.push_back(describe(b));
  return out;
}

std::vector<std::string> boxesOf(const TrowPtr& row, bool compact = false, int level = 1) {
  Tboxes builder;
  builder.genBoxes(row, compact, level);
  return describe(builder.boxes);
}

// ---- rows ----

std::shared_ptr<Ttoken> token(int pid, int addr, int endp) {
  auto k = std::make_shared<Ttoken>();
  k->pid = pid, k->addr = addr, k->endp = endp;
  return k;
}

std::shared_ptr<Tdata> data(int pid, TbyteVec bytes) {
  auto d = std::make_shared<Tdata>();
  d->pid = pid, d->data = std::move(bytes);
  return d;
}

std::shared_ptr<Thandshake> handshake(int pid) {
  auto h = std::make_shared<Thandshake>();
  h->pid = pid;
  return h;
}

std::shared_ptr<Ttransax> transax(TtrxType type, int level, TrowVec children) {
  auto t = std::make_shared<Ttransax>(type);
  t->level = level;
  t->children = std::move(children);
  return t;
}

const TbyteVec GET_DEVICE = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};

std::shared_ptr<Ttransfer> transfer(TbyteVec setupBytes, bool withStatus) {
  auto t = std::make_shared<Ttransfer>(TFR_CONTROL);
  t->number = 1;
  t->children.push_back(transax(TRX_SETUP, 1, {token(13, 0, 0), data(3, std::move(setupBytes)), handshake(2)}));
  t->children.push_back(transax(TRX_IN, 1, {token(9, 0, 0), data(11, {0x12, 1, 0, 2, 0, 0, 0, 0x40}), handshake(2)}));
  t->children.push_back(transax(TRX_IN, 1, {token(9, 0, 0), handshake(10)}));
  t->children.push_back(
      transax(TRX_IN, 1, {token(9, 0, 0), data(3, {0x34, 0x12, 0x78, 0x56, 0, 1, 1, 2, 3, 1}), handshake(2)}));
  if (withStatus) t->children.push_back(transax(TRX_OUT, 1, {token(1, 0, 0), data(11, {}), handshake(2)}));
  return t;
}

// ---- builders ----

TEST(BoxBuilders, EachBuilderAppendsOneBox) {
  struct Case {
    const char* what;
    std::function<void(Tboxes&)> build;
    const char* box;
  };
  const Case cases[] = {
      {"left, two texts", [](Tboxes& b) { b.genLeftBox(0x123456, 0xabcdef, "one", "two"); },
       "g0,w14,t2: one{123456,abcdef} / two{123456,abcdef}"},
      {"left, number", [](Tboxes& b) { b.genLeftBox(FG_TRANSACTION, BG_TRANSACTION, "Transaction", 4000000000u); },
       "g0,w14,t2: Transaction{000000,90ee90} / 4000000000{000000,90ee90}"},
      {"left packet", [](Tboxes& b) { b.genLeftPacketBox(3, 120); },
       "g0,w14,t2: Packet 3{000000,fffff0} / 10 000 ns{000000,fffff0}"},
      {"reset", [](Tboxes& b) { b.genResetBox(150, 12); },
       "g0,w28,t2: Reset for 12 500 ns{ffffff,800080} / 1 000 ns{ffffff,800080}"},
      {"idle", [](Tboxes& b) { b.genIdleBox(4294967295u); },
       "g10,w8,t2: Idle{000000,e6d8ad} / 4294967295{000000,ffffff}"},
      {"pid level 0", [](Tboxes& b) { b.genPidBox(0, 9); }, "g10,w7,t2: IN{000000,18ffff} / 0x69{000000,ffffff}"},
      {"pid level 2", [](Tboxes& b) { b.genPidBox(2, 1); }, "g42,w7,t2: OUT{ffffff,ff4081} / 0xE1{000000,ffffff}"},
      {"pid unset", [](Tboxes& b) { b.genPidBox(1, 99); },
       "g26,w7,t2: Unknown (X)PID Type{000000,8c9eff} / 0xC3{000000,ffffff}"},
      {"pid absurd level", [](Tboxes& b) { b.genPidBox(INT_MAX, 2); },
       "g2147483647,w7,t2: ACK{000000,00ffff} / 0xD2{000000,ffffff}"},
      {"simple", [](Tboxes& b) { b.genSimpleBox("X", 1, 2, -5); }, "g0,w7,t2: X{000001,000002} / -5{000000,ffffff}"},
      {"frame", [](Tboxes& b) { b.genFrameBox(2047); }, "g0,w7,t2: Frame{ffffff,800080} / 2047{000000,ffffff}"},
      {"addr", [](Tboxes& b) { b.genAddrBox(127); }, "g0,w7,t2: ADDR{ffffff,000000} / 127{000000,ffffff}"},
      {"endp", [](Tboxes& b) { b.genEndpBox(15); }, "g0,w7,t2: ENDP{000000,90ee90} / 15{000000,ffffff}"},
      {"simple var", [](Tboxes& b) { b.genSimpleVarBox("L", 3, 4, "text", -1, 10); },
       "g10,w-1,t2: L{000003,000004} / text{000000,ffffff}"},
      {"toggle DATA0", [](Tboxes& b) { b.genDataToggleBox(3, false); },
       "g0,w2,t2: T{ffffff,800080} / 0{000000,ffffff}"},
      {"toggle DATA1 setup", [](Tboxes& b) { b.genDataToggleBox(11, true); },
       "g10,w2,t2: T{ffffff,800080} / 1{000000,ffffff}"},
      {"toggle DATA2", [](Tboxes& b) { b.genDataToggleBox(7, false); },
       "g0,w2,t2: T{ffffff,800080} / 2{000000,ffffff}"},
      {"toggle MDATA", [](Tboxes& b) { b.genDataToggleBox(15, false); },
       "g0,w2,t2: T{ffffff,800080} / 0{000000,ffffff}"},
      {"data label", [](Tboxes& b) { b.genDataBox("Lbl", "txt"); },
       "g0,w-1,t2: Lbl{ffffff,0000ff} / txt{000000,ffffff}"},
      {"crc ok", [](Tboxes& b) { b.genCrcBox("C", "t", true); }, "g0,w7,t2: C{ffffff,998877} / t{000000,ffffff}"},
      {"crc fail", [](Tboxes& b) { b.genCrcBox("C", "t", false); }, "g0,w7,t2: C{0000ff,ffffff} / t{000000,ffffff}"},
      {"crc5", [](Tboxes& b) { b.genCrc5Box(3, true); }, "g0,w7,t2: CRC5{ffffff,998877} / 0x03{000000,ffffff}"},
      {"crc5 fail", [](Tboxes& b) { b.genCrc5Box(0x1f, false); },
       "g0,w7,t2: CRC5{0000ff,ffffff} / 0x1f{000000,ffffff}"},
      {"crc16", [](Tboxes& b) { b.genCrc16Box(0x1a, true); }, "g0,w7,t2: CRC16{ffffff,998877} / 0x001a{000000,ffffff}"},
      {"crc16 wide", [](Tboxes& b) { b.genCrc16Box(0x12345, false); },
       "g0,w7,t2: CRC16{0000ff,ffffff} / 0x12345{000000,ffffff}"},
      {"sof group", [](Tboxes& b) { b.genSofGroupBox("3 SOFs"); }, "g10,w21,t1: 3 SOFs{ffffff,696969}"},
      {"transfer", [](Tboxes& b) { b.genTransferBox(1, "Ctl"); }, "g26,w14,t1: Ctl{ffffff,0000ff}"},
      {"warning", [](Tboxes& b) { b.genWarning(); }, "g0,w35,t1: Warning - Unimplemented{0000ff,fffff0}"},
  };
  for (const Case& c : cases) {
    Tboxes builder;
    c.build(builder);
    EXPECT_EQ(describe(builder.boxes), std::vector<std::string>{c.box}) << c.what;
  }
}

TEST(BoxBuilders, DataBoxesByPayloadLength) {
  struct Case {
    TbyteVec bytes;
    const char* label;
    const char* text;
  };
  const Case cases[] = {
      {{}, "DATA", ""},
      {{0xab}, "DATA (1 bytes)", "ab "},
      {{1, 2, 3, 4}, "DATA (4 bytes)", "01 02 03 04  "},
      {{1, 2, 3, 4, 5, 6, 7, 0xff}, "DATA (8 bytes)", "01 02 03 04  05 06 07 ff "},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, "DATA (9 bytes)", "01 02 03 04  05 06 07 08   ..."},
      {TbyteVec(1023, 0), "DATA (1023 bytes)", "00 00 00 00  00 00 00 00   ..."},
  };
  for (const Case& c : cases) {
    Tboxes builder;
    builder.genDataBox(c.bytes);
    ASSERT_EQ(builder.boxes.size(), 1u);
    EXPECT_EQ(builder.boxes[0].top.text, c.label);
    EXPECT_EQ(builder.boxes[0].bottom.text, c.text) << c.label;
    EXPECT_EQ(builder.boxes[0].width, -1);
  }
}

TEST(BoxBuilders, TickTextGroupsDigitsByThree) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0 ns"},
      {1, "83 ns"},
      {11, "916 ns"},
      {12, "1 000 ns"},
      {120, "10 000 ns"},
      {1200, "100 000 ns"},
      {1201, "100 083 ns"},
      {12000000, "1 000 000 000 ns"},
      {1234567890123ull, "102 880 657 510 250 ns"},
      // ticks * 1000 past 64 bits: exact, never wrapped; no time shows nothing
      {MAX_TICK - 1, "1 537 228 672 809 129 301 166 ns"},
      {MAX_TICK, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Tboxes::tickToStr(c.first), c.second) << c.first;
  auto data = std::make_shared<Tdata>();  // a row read from a line without TI
  Tboxes builder;
  EXPECT_EQ(builder.getBoxes(data)->at(0).bottom.text, "");
}

// ---- rows, full and compact ----

TEST(RowBoxes, PacketRows) {
  auto reset = std::make_shared<Treset>();
  reset->duration = 150, reset->tick = 120, reset->idleTicks = 40, reset->level = 3;

  auto sof = std::make_shared<Tsof>();
  sof->level = 1, sof->number = 7, sof->tick = 12, sof->pid = 99, sof->frame = 100, sof->crc5 = 3, sof->idle = 5;

  auto tok = token(9, 5, 1);
  tok->level = 2, tok->number = 3, tok->tick = 0, tok->crc5 = 0x1a, tok->crcOK = false, tok->idle = 3;

  auto dat = data(11, {1, 2});
  dat->level = 2, dat->number = 4, dat->tick = 24, dat->crc16 = 0x1a, dat->idle = 0;

  auto ack = handshake(2);
  ack->level = 1, ack->number = 3, ack->tick = 120, ack->idle = 40;

  const std::string BOT = "{000000,ffffff}";
  struct Case {
    const char* what;
    TrowPtr row;
    bool compact;
    int level;
    std::vector<std::string> boxes;
  };
  const std::vector<std::string> resetBoxes = {
      "g0,w28,t2: Reset for 12 500 ns{ffffff,800080} / 10 000 ns{ffffff,800080}",
      "g10,w8,t2: Idle{000000,e6d8ad} / 40" + BOT};
  const std::vector<std::string> sofBoxes = {
      "g0,w14,t2: Packet 7{000000,fffff0} / 1 000 ns{000000,fffff0}", "g26,w7,t2: SOF{ffffff,008000} / 0xA5" + BOT,
      "g0,w7,t2: Frame{ffffff,800080} / 100" + BOT, "g0,w7,t2: CRC5{ffffff,998877} / 0x03" + BOT,
      "g10,w8,t2: Idle{000000,e6d8ad} / 5" + BOT};
  const Case cases[] = {
      {"reset", reset, false, 1, resetBoxes},
      {"reset has no compact form", reset, true, 4, resetBoxes},
      {"sof shows SOF whatever its pid", sof, false, 1, sofBoxes},
      {"sof has no compact form", sof, true, 3, sofBoxes},
      {"token",
       tok,
       false,
       1,
       {"g0,w14,t2: Packet 3{000000,fffff0} / 0 ns{000000,fffff0}", "g42,w7,t2: IN{000000,18ffff} / 0x69" + BOT,
        "g0,w7,t2: ADDR{ffffff,000000} / 5" + BOT, "g0,w7,t2: ENDP{000000,90ee90} / 1" + BOT,
        "g0,w7,t2: CRC5{0000ff,ffffff} / 0x1a" + BOT, "g10,w8,t2: Idle{000000,e6d8ad} / 3" + BOT}},
      {"token compact takes the level argument",
       tok,
       true,
       3,
       {"g58,w7,t2: IN{000000,18ffff} / 0x69" + BOT, "g0,w7,t2: ADDR{ffffff,000000} / 5" + BOT,
        "g0,w7,t2: ENDP{000000,90ee90} / 1" + BOT}},
      {"data",
       dat,
       false,
       1,
       {"g0,w14,t2: Packet 4{000000,fffff0} / 2 000 ns{000000,fffff0}", "g42,w7,t2: DATA1{000000,90ee90} / 0x4B" + BOT,
        "g0,w2,t2: T{ffffff,800080} / 1" + BOT, "g0,w-1,t2: DATA (2 bytes){ffffff,0000ff} / 01 02 " + BOT,
        "g0,w7,t2: CRC16{ffffff,998877} / 0x001a" + BOT, "g10,w8,t2: Idle{000000,e6d8ad} / 0" + BOT}},
      {"data compact sits at level 0",
       dat,
       true,
       3,
       {"g10,w7,t2: DATA1{000000,90ee90} / 0x4B" + BOT, "g0,w2,t2: T{ffffff,800080} / 1" + BOT,
        "g0,w-1,t2: DATA (2 bytes){ffffff,0000ff} / 01 02 " + BOT}},
      {"handshake",
       ack,
       false,
       1,
       {"g0,w14,t2: Packet 3{000000,fffff0} / 10 000 ns{000000,fffff0}", "g26,w7,t2: ACK{000000,00ffff} / 0xD2" + BOT,
        "g10,w8,t2: Idle{000000,e6d8ad} / 40" + BOT}},
      {"handshake compact", ack, true, 5, {"g10,w7,t2: ACK{000000,00ffff} / 0xD2" + BOT}},
  };
  for (const Case& c : cases) EXPECT_EQ(boxesOf(c.row, c.compact, c.level), c.boxes) << c.what;
}

TEST(RowBoxes, RowsWithoutBoxes) {
  auto liar = std::make_shared<Tbase>();
  liar->kind = RK_TOKEN;  // kind without its class
  auto negative = std::make_shared<Tbase>();
  negative->kind = -1;
  for (const TrowPtr& row : {TrowPtr(), TrowPtr(std::make_shared<Tbase>()), TrowPtr(liar), TrowPtr(negative)})
    EXPECT_TRUE(boxesOf(row).empty());
}

std::shared_ptr<TsofGroup> sofGroup(std::vector<TrowPtr> children) {
  auto g = std::make_shared<TsofGroup>();
  g->children = std::move(children);
  return g;
}

TrowPtr numbered(TrowPtr row, uint32_t number) {
  row->number = number;
  return row;
}

TEST(RowBoxes, SofGroupRange) {
  auto s = [](uint32_t n) { return numbered(std::make_shared<Tsof>(), n); };
  struct Case {
    const char* what;
    TrowPtr row;
    const char* range;
    const char* count;
  };
  const Case cases[] = {
      {"three", sofGroup({s(5), s(6), s(7)}), "5 .. 7", "3 SOFs"},
      {"one", sofGroup({s(9)}), "9 .. 9", "1 SOFs"},
      {"none", sofGroup({}), "", "0 SOFs"},
      {"non-SOF ends", sofGroup({numbered(token(9, 0, 0), 4), s(8), numbered(handshake(2), 3)}), " .. ", "3 SOFs"},
      {"non-SOF first", sofGroup({numbered(std::make_shared<Treset>(), 4), s(8)}), " .. 8", "2 SOFs"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(boxesOf(c.row), (std::vector<std::string>{
                                  std::string("g0,w14,t2: Packets{000000,fffff0} / ") + c.range + "{000000,fffff0}",
                                  std::string("g10,w21,t1: ") + c.count + "{ffffff,696969}"}))
        << c.what;
  }
}

TEST(RowBoxes, Transactions) {
  const std::string BOT = "{000000,ffffff}";
  const std::string left = "g0,w14,t2: Transaction{000000,90ee90} / 2{000000,90ee90}";
  const std::string ackBox = "g10,w7,t2: ACK{000000,00ffff} / 0xD2" + BOT;
  struct Case {
    const char* what;
    TrowPtr row;
    std::vector<std::string> boxes;
  };
  auto n2 = [](std::shared_ptr<Ttransax> t) { return numbered(t, 2); };
  const Case cases[] = {
      {"root IN",
       n2(transax(TRX_IN, 0, {token(9, 5, 1), data(11, {0xaa}), handshake(2)})),
       {left, "g10,w7,t2: IN{000000,18ffff} / 0x69" + BOT, "g0,w7,t2: ADDR{ffffff,000000} / 5" + BOT,
        "g0,w7,t2: ENDP{000000,90ee90} / 1" + BOT, "g10,w7,t2: DATA1{000000,90ee90} / 0x4B" + BOT,
        "g0,w2,t2: T{ffffff,800080} / 1" + BOT, "g0,w-1,t2: DATA (1 bytes){ffffff,0000ff} / aa " + BOT, ackBox}},
      {"OUT in a transfer, NAKed",
       n2(transax(TRX_OUT, 1, {token(1, 3, 2), handshake(10)})),
       {left, "g26,w7,t2: OUT{ffffff,ff4081} / 0xE1" + BOT, "g0,w7,t2: ADDR{ffffff,000000} / 3" + BOT,
        "g0,w7,t2: ENDP{000000,90ee90} / 2" + BOT, "g10,w7,t2: NAK{000000,cbc0ff} / 0x5A" + BOT}},
      {"SETUP decodes its data",
       n2(transax(TRX_SETUP, 1, {token(13, 0, 0), data(3, GET_DEVICE), handshake(2)})),
       {left, "g26,w7,t2: SETUP{000000,ebce87} / 0x2D" + BOT, "g0,w7,t2: ADDR{ffffff,000000} / 0" + BOT,
        "g0,w7,t2: ENDP{000000,90ee90} / 0" + BOT, "g10,w2,t2: T{ffffff,800080} / 0" + BOT,
        "g0,w4,t2: Dir{000000,dec4b0} / DtoH" + BOT, "g0,w3,t2: Typ{000000,cbc0ff} / S" + BOT,
        "g0,w2,t2: R{000000,90ee90} / D" + BOT, "g0,w-1,t2: bRequest{000000,aacd66} / 6" + BOT,
        "g0,w-1,t2: wValue{000000,00ffff} / 0x0100" + BOT, "g0,w-1,t2: wIndex{000000,e6d8ad} / 0x0000" + BOT,
        "g0,w-1,t2: wLength{000000,90ee90} / 18" + BOT, ackBox}},
      {"SETUP with 7 bytes shows nothing for its data",
       n2(transax(TRX_SETUP, 1, {token(13, 0, 0), data(3, {0x80, 6, 0, 1, 0, 0, 0x12}), handshake(2)})),
       {left, "g26,w7,t2: SETUP{000000,ebce87} / 0x2D" + BOT, "g0,w7,t2: ADDR{ffffff,000000} / 0" + BOT,
        "g0,w7,t2: ENDP{000000,90ee90} / 0" + BOT, ackBox}},
      {"children of other kinds show nothing",
       n2(transax(TRX_IN, 0,
                  {std::make_shared<Tsof>(), std::make_shared<Treset>(), sofGroup({}), TrowPtr(),
                   std::make_shared<Tbase>(), handshake(2)})),
       {left, ackBox}},
      {"empty", n2(transax(TRX_UNDEFINED, 0, {})), {left}},
  };
  for (const Case& c : cases) EXPECT_EQ(boxesOf(c.row), c.boxes) << c.what;
}

TEST(RowBoxes, SetupBoxesForEveryRequestTypeField) {
  const char* DIR[2] = {"HtoD", "DtoH"};
  const char* TYP[4] = {"S", "C", "V", "R"};
  const std::pair<unsigned, const char*> RECIPIENTS[] = {{0, "D"}, {1, "I"}, {2, "E"}, {3, "O"},
                                                         {4, "?"}, {5, "?"}, {31, "?"}};
  for (unsigned dir = 0; dir < 2; ++dir) {
    for (unsigned typ = 0; typ < 4; ++typ) {
      for (const auto& rcp : RECIPIENTS) {
        const uint8_t b0 = static_cast<uint8_t>(dir << 7 | typ << 5 | rcp.first);
        Tdata d;
        d.pid = 11;
        d.data = {b0, 0xfe, 0x34, 0x12, 0xcd, 0xab, 0xff, 0xff};
        Tboxes builder;
        builder.genSetupBoxes(d);
        const std::string BOT = "{000000,ffffff}";
        EXPECT_EQ(describe(builder.boxes), (std::vector<std::string>{
                                               "g10,w2,t2: T{ffffff,800080} / 1" + BOT,
                                               std::string("g0,w4,t2: Dir{000000,dec4b0} / ") + DIR[dir] + BOT,
                                               std::string("g0,w3,t2: Typ{000000,cbc0ff} / ") + TYP[typ] + BOT,
                                               std::string("g0,w2,t2: R{000000,90ee90} / ") + rcp.second + BOT,
                                               "g0,w-1,t2: bRequest{000000,aacd66} / 254" + BOT,
                                               "g0,w-1,t2: wValue{000000,00ffff} / 0x1234" + BOT,
                                               "g0,w-1,t2: wIndex{000000,e6d8ad} / 0xabcd" + BOT,
                                               "g0,w-1,t2: wLength{000000,90ee90} / 65535" + BOT,
                                           }))
            << "b0 = " << int(b0);
      }
    }
  }
  for (size_t n : {0u, 1u, 7u, 9u, 64u}) {
    Tdata d;
    d.data.assign(n, 0x80);
    Tboxes builder;
    builder.genSetupBoxes(d);
    EXPECT_TRUE(builder.boxes.empty()) << n << " bytes";
  }
}

TEST(RowBoxes, ControlTransferSummary) {
  const std::string BOT = "{000000,ffffff}";
  const std::string left = "g0,w14,t2: Control Transfer{ffffff,008000} / 1{ffffff,008000}";
  const std::vector<std::string> summary = {
      left,
      "g10,w-1,t2: bRequest{000000,aacd66} / Get Descriptor" + BOT,
      "g0,w7,t2: ADDR{ffffff,000000} / 0" + BOT,
      "g0,w7,t2: ENDP{000000,90ee90} / 0" + BOT,
      "g0,w-1,t2: DATA (18 bytes){ffffff,0000ff} / 12 01 00 02  00 00 00 40   ..." + BOT,
  };
  auto with = [&](const char* success) {
    auto v = summary;
    v.push_back(std::string("g0,w-1,t2: Success{000000,00ffff} / ") + success + BOT);
    return v;
  };
  auto noSetup = transfer(GET_DEVICE, true);
  noSetup->children.erase(noSetup->children.begin());
  auto setupWithoutToken = transfer(GET_DEVICE, true);
  std::static_pointer_cast<Ttransax>(setupWithoutToken->children[0])
      ->children.erase(std::static_pointer_cast<Ttransax>(setupWithoutToken->children[0])->children.begin());
  auto empty = std::make_shared<Ttransfer>();
  empty->number = 1;
  // The device sent its first DATA1 again after a lost ACK: counted once.
  auto resent = transfer(GET_DEVICE, true);
  resent->children.insert(resent->children.begin() + 2,
                          std::make_shared<Ttransax>(*std::static_pointer_cast<Ttransax>(resent->children[1])));

  struct Case {
    const char* what;
    TrowPtr row;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"acknowledged status stage", transfer(GET_DEVICE, true), with("OK")},
      {"no status stage", transfer(GET_DEVICE, false), with("Fail")},
      {"first data packet sent twice", resent, with("OK")},
      {"no SETUP transaction", noSetup, {left}},
      {"SETUP without its token", setupWithoutToken, {left}},
      {"SETUP data of 7 bytes", transfer({0x80, 6, 0, 1, 0, 0, 0x12}, true), {left}},
      {"no children", empty, {left}},
  };
  for (const Case& c : cases) EXPECT_EQ(boxesOf(c.row), c.boxes) << c.what;
}

TEST(RowBoxes, ControlTransferFillsItsDataCache) {
  auto t = transfer(GET_DEVICE, true);
  ASSERT_TRUE(t->data.empty());
  Tboxes builder;
  builder.getBoxes(t);
  EXPECT_EQ(t->data.size(), 18u);
  EXPECT_TRUE(t->success);
  EXPECT_EQ(describe(builder.boxes), describe(*builder.getBoxes(t)));  // second build from the cache
}

TEST(RowBoxes, RequestNames) {
  const std::pair<int, const char*> cases[] = {
      {0, "Get Status"},  {1, "Clear Feature"}, {2, "Reserved"},       {3, "Set Feature"},
      {4, "Reserved"},    {5, "Set Address"},   {6, "Get Descriptor"}, {7, "Set Descriptor"},
      {8, "Get Config"},  {9, "Set Config"},    {10, "Get Interface"}, {11, "Set Interface"},
      {12, "Sync Frame"}, {13, "Non-standard"}, {128, "Non-standard"}, {255, "Non-standard"},
  };
  for (const auto& c : cases) {
    TbyteVec setup = GET_DEVICE;
    setup[1] = static_cast<uint8_t>(c.first);
    Tboxes builder;
    const TboxVec& boxes = *builder.getBoxes(transfer(setup, true));
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].top.text, "bRequest");
    EXPECT_EQ(boxes[1].bottom.text, c.second) << c.first;
  }
}

TEST(RowBoxes, EachBuildStartsAfresh) {
  Tboxes builder;
  builder.genWarning();
  EXPECT_EQ(builder.getBoxes(handshake(2))->size(), 3u);
  EXPECT_EQ(builder.getBoxes(TrowPtr())->size(), 0u);
  builder.genWarning();
  builder.init();
  EXPECT_TRUE(builder.boxes.empty());
}

// ---- box string ----

TEST(BoxString, ColourText) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0x800080, "0xff800080"}, {0xfffff0, "0xfff0ffff"},        {0x0000ff, "0xffff0000"}, {0, "0xff000000"},
      {0x123456, "0xff563412"}, {0xff12345678ull, "0xff785634"}, {~0ull, "0xffffffff"},
  };
  for (const auto& c : cases) EXPECT_EQ(Tboxes::hexRGB(c.first), c.second);
}

TEST(BoxString, WorkedExamplesAndEdges) {
  auto ack = handshake(2);
  ack->level = 1, ack->number = 3, ack->tick = 120, ack->idle = 40;
  auto group = sofGroup({numbered(std::make_shared<Tsof>(), 5), numbered(std::make_shared<Tsof>(), 6),
                         numbered(std::make_shared<Tsof>(), 7)});
  auto two = data(3, {1, 2});
  two->number = 1, two->tick = 0;
  auto none = data(3, {});
  none->number = 1, none->tick = 0;

  struct Case {
    const char* what;
    TrowPtr row;
    std::string text;
  };
  const Case cases[] = {
      {"handshake", ack,
       "g0,w14,t2|s0xff000000,0xfff0ffff,Packet 3|s0xff000000,0xfff0ffff,10 000 ns;"
       "g26,w7,t2|s0xff000000,0xffffff00,ACK|s0xff000000,0xffffffff,0xD2;"
       "g10,w8,t2|s0xff000000,0xffadd8e6,Idle|s0xff000000,0xffffffff,40;\n"},
      {"sof group", group,
       "g0,w14,t2|s0xff000000,0xfff0ffff,Packets|s0xff000000,0xfff0ffff,5 .. 7;"
       "g10,w21,t1|s0xffffffff,0xff696969,3 SOFs;\n"},
      {"fit width from the longer text, trailing space kept", two,
       "g0,w14,t2|s0xff000000,0xfff0ffff,Packet 1|s0xff000000,0xfff0ffff,0 ns;"
       "g10,w7,t2|s0xff000000,0xffff9e8c,DATA0|s0xff000000,0xffffffff,0xC3;"
       "g0,w2,t2|s0xffffffff,0xff800080,T|s0xff000000,0xffffffff,0;"
       "g0,w-14,t2|s0xffffffff,0xffff0000,DATA (2 bytes)|s0xff000000,0xffffffff,01 02 ;"
       "g0,w7,t2|s0xffffffff,0xff778899,CRC16|s0xff000000,0xffffffff,0x0000;"
       "g10,w8,t2|s0xff000000,0xffadd8e6,Idle|s0xff000000,0xffffffff,0;\n"},
      {"null row", TrowPtr(), "\n"},
      {"row of no kind", std::make_shared<Tbase>(), "\n"},
  };
  for (const Case& c : cases) {
    Tboxes builder;
    EXPECT_EQ(builder.getBoxesString(c.row), c.text) << c.what;
  }
  // An empty payload: the label alone sets the fitted width, the text is empty.
  Tboxes builder;
  const std::string text = builder.getBoxesString(none);
  EXPECT_NE(text.find(";g0,w-4,t2|s0xffffffff,0xffff0000,DATA|s0xff000000,0xffffffff,;"), std::string::npos) << text;
}

TEST(BoxString, RebuildsTheBuildersListForTheRow) {
  Tboxes builder;
  builder.getBoxes(transfer(GET_DEVICE, true));
  const std::string text = builder.getBoxesString(handshake(10));
  EXPECT_EQ(builder.boxes.size(), 3u);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(std::count(text.begin(), text.end(), ';'), 3);
}

TEST(BoxString, TransferBoxesParseBackByTheGrammar) {
  Tboxes builder;
  const std::string text = builder.getBoxesString(transfer(GET_DEVICE, true));
  ASSERT_EQ(text.back(), '\n');
  size_t boxes = 0, start = 0;
  for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1, ++boxes) {
    const std::string box = text.substr(start, end - start);
    const size_t bars = std::count(box.begin(), box.end(), '|');
    const bool two = box.find(",t2|") != std::string::npos;
    EXPECT_EQ(bars, two ? 2u : 1u) << box;
    EXPECT_EQ(box[0], 'g') << box;
  }
  EXPECT_EQ(boxes, 6u);
  EXPECT_EQ(start, text.size() - 1);  // only "\n" after the last ";"
}

}  // namespace
