#include <gtest/gtest.h>

#include "vkutils.h"

namespace {

TEST(RowDefaults, FreshRowsCarryTheirDefaults) {
  Tbase b;
  EXPECT_EQ(b.kind, RK_NONE);
  EXPECT_EQ(b.level, 0);
  EXPECT_EQ(b.tick, MAX_TICK);
  EXPECT_TRUE(b.ok);
  EXPECT_EQ(b.handle, 0);
  EXPECT_EQ(b.parent, -1);
  EXPECT_EQ(b.number, 6666u);

  TpacketBase p;
  EXPECT_EQ(p.kind, RK_NONE);
  EXPECT_EQ(p.pid, 99);
  EXPECT_EQ(p.idle, 0u);

  EXPECT_TRUE(Tsof().crcOK);
  EXPECT_TRUE(Ttoken().crcOK);
  EXPECT_TRUE(Tdata().crcOK);
  EXPECT_EQ(Treset().kind, RK_RESET);
  EXPECT_EQ(Tsof().kind, RK_SOF);
  EXPECT_EQ(Ttoken().kind, RK_TOKEN);
  EXPECT_EQ(Tdata().kind, RK_DATA);
  EXPECT_EQ(Thandshake().kind, RK_HANDSHAKE);
  EXPECT_EQ(TsofGroup().kind, RK_SOFGROUP);
  EXPECT_EQ(Tgrouper().kind, RK_NONE);

  Ttransax t;
  EXPECT_EQ(t.kind, RK_TRANSAX);
  EXPECT_EQ(t.trxType, TRX_UNDEFINED);
  EXPECT_EQ(Ttransax(TRX_IN).trxType, TRX_IN);
  Ttransfer f;
  EXPECT_EQ(f.kind, RK_TRANSFER);
  EXPECT_EQ(f.tfrType, TFR_DEFAULT);
  EXPECT_FALSE(f.success);
  EXPECT_EQ(Ttransfer(TFR_CONTROL).tfrType, TFR_CONTROL);
}

TEST(RowHandles, OneRowSharedBetweenLists) {
  TrowPtr row = std::make_shared<Ttoken>();
  TrowVec packets{row};
  TlinVec lin;
  lin.emplace_back(row, LR_PACKET);
  lin[0].row->handle = 7;
  EXPECT_EQ(packets[0]->handle, 7);
  TlinRow moved(std::move(lin[0]));
  EXPECT_EQ(moved.flags, LR_PACKET);
  EXPECT_EQ(moved.row.get(), row.get());
  EXPECT_EQ(lin[0].row, nullptr);
}

TEST(PidTable, LookupsMaskToFourBits) {
  struct Case {
    int pid;
    L0eventType type;
    int minSize;
    bool fs;
    const char* name;
    const char* code;
    uint64_t bg, fg;
  };
  const Case cases[] = {
      {0, L0_RESERVED, 0, false, "RESERVED", "0xF0", 0xC1B6FF, 0x000000},
      {1, L0_TOKEN, 3, true, "OUT", "0xE1", 0xFF4081, 0xFFFFFF},
      {2, L0_HANDSHAKE, 1, true, "ACK", "0xD2", 0x00FFFF, 0},
      {3, L0_DATA, 3, true, "DATA0", "0xC3", 0x8C9EFF, 0},
      {4, L0_SPECIAL, 3, false, "PING", "0xB4", 0x00A5FF, 0xFFFFFF},
      {5, L0_SOF, 3, true, "SOF", "0xA5", 0x008000, 0xFFFFFF},
      {6, L0_HANDSHAKE, 1, false, "NYET", "0x96", 0xFF0000, 0xFFFFFF},
      {7, L0_DATA, 3, false, "DATA2", "0x87", 0x82004B, 0xFFFFFF},
      {8, L0_SPECIAL, 4, false, "SPLIT", "0x78", 0xEE82EE, 0xFFFFFF},
      {9, L0_TOKEN, 3, true, "IN", "0x69", 0x18FFFF, 0},
      {10, L0_HANDSHAKE, 1, true, "NAK", "0x5A", 0xCBC0FF, 0},
      {11, L0_DATA, 3, true, "DATA1", "0x4B", 0x90EE90, 0},
      {12, L0_SPECIAL, 4, false, "ERR/PRE", "0x3C", 0xE6F5FD, 0},
      {13, L0_TOKEN, 3, true, "SETUP", "0x2D", 0xEBCE87, 0},
      {14, L0_HANDSHAKE, 1, true, "STALL", "0x1E", 0xD3D3D3, 0},
      {15, L0_DATA, 3, false, "MDATA", "0x0F", 0x808000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pid);
    // The print code is the PID byte as sent: PID low, complement high.
    unsigned byte = static_cast<unsigned>(c.pid) | ((~static_cast<unsigned>(c.pid) & 15u) << 4);
    char expect[8];
    std::snprintf(expect, sizeof expect, "0x%02X", byte);
    EXPECT_EQ(utils::pidPrintCode(c.pid), expect);
    EXPECT_EQ(utils::pidPrintCode(c.pid), c.code);
    for (int alias : {c.pid, c.pid + 16, c.pid + 32 * 7}) {
      EXPECT_EQ(utils::packetType(alias), c.type);
      EXPECT_EQ(utils::packetMinSize(alias), c.minSize);
      EXPECT_EQ(utils::pidIsFsLegal(alias), c.fs);
      EXPECT_EQ(utils::pidBG(alias), c.bg);
      EXPECT_EQ(utils::pidFG(alias), c.fg);
    }
    EXPECT_EQ(utils::pidName(c.pid), c.name);
  }
  // An unset pid (99) reads entry 3 for all but the name.
  EXPECT_EQ(utils::packetType(99), L0_DATA);
  EXPECT_EQ(utils::pidPrintCode(99), "0xC3");
  EXPECT_EQ(utils::pidBG(21), utils::pidBG(5));
}

TEST(Names, PseudoPidsAndEnumerationTexts) {
  EXPECT_EQ(utils::pidName(16), "RESET");
  EXPECT_EQ(utils::pidName(17), "ERROR");
  EXPECT_EQ(utils::pidName(18), "UNDEFINED");
  EXPECT_EQ(utils::pidName(19), "Unknown (X)PID Type");
  EXPECT_EQ(utils::pidName(99), "Unknown (X)PID Type");
  EXPECT_EQ(utils::pidName(0xFFFFFFFFu), "Unknown (X)PID Type");

  const char* l0[] = {"Token", "Data", "Handshake", "Sof", "Special", "Reserved", "Reset", "Undefined"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(utils::L0eventTypeName(static_cast<L0eventType>(i)), l0[i]);
  EXPECT_EQ(utils::L0eventTypeName(static_cast<L0eventType>(8)), "Unknown L0 Event Type");
  EXPECT_EQ(utils::L0eventTypeName(static_cast<L0eventType>(-1)), "Unknown L0 Event Type");

  const char* l1[] = {"Reset", "SOF", "SOFgroup", "Control", "In", "Out", "Undefined"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(utils::L1groupTypeName(static_cast<L1groupType>(i)), l1[i]);
  EXPECT_EQ(utils::L1groupTypeName(static_cast<L1groupType>(7)), "Unknown L1 Group Type");

  const char* trx[] = {"SETUP", "IN", "OUT", "Undefined"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(utils::transactionTypeName(static_cast<TtrxType>(i)), trx[i]);
  EXPECT_EQ(utils::transactionTypeName(static_cast<TtrxType>(4)), "Unknown Transaction Type");
}

TEST(Split, DropsEmptyPiecesAndAppends) {
  EXPECT_EQ(utils::split("a;;b;", ';'), (TstringVec{"a", "b"}));
  EXPECT_TRUE(utils::split("", ';').empty());
  EXPECT_TRUE(utils::split(";;;", ';').empty());
  EXPECT_EQ(utils::split(";x", ';'), (TstringVec{"x"}));
  EXPECT_EQ(utils::split("no separator", ';'), (TstringVec{"no separator"}));
  TstringVec out{"kept"};
  utils::split("p q", ' ', out);
  EXPECT_EQ(out, (TstringVec{"kept", "p", "q"}));
}

TEST(TickText, ScalesAndKeepsLastRemainder) {
  struct Case {
    uint64_t ticks;
    int div;
    const char* text;
  };
  const Case cases[] = {
      {0, 12, "0 ns"},
      {12, 12, "1000 ns"},  // exactly 1000 stays in ns
      {24, 12, "2 mus"},
      {18, 12, "1.500 mus"},  // 1500 ns
      {24006, 12, "2 ms"},    // 2,000,500 ns: only the last remainder counts
      {12 * 1500001ull, 12, "1.500 s"},
      {12ull * 1000000 * 3, 12, "3 s"},
      {12ull * 1000000 * 5000, 12, "5000 s"},
      {1001, 1000, "1.001 mus"},
      {13, 12, "1.083 mus"},
      {MAX_TICK - 1, 12, "1537228672809.129 s"},  // ticks * 1000 past 64 bits, not wrapped
      {MAX_TICK - 1, 1, "18446744073709.551 s"},
      {MAX_TICK, 12, ""},  // no time
  };
  for (const Case& c : cases) EXPECT_EQ(utils::tickToFloatStr(c.ticks, c.div), c.text) << c.ticks;
}

}  // namespace
