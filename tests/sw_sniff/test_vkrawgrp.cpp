// Grouping of packet rows into the row tree, and the finders of the group rows.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "rowbuild.h"
#include "vkrawgrp.h"

namespace {

using namespace rowbuild;

// Every grouped row sits one level below its group; roots are at level 0.
void expectLevels(const TrowVec& rows, int level) {
  for (const auto& row : rows) {
    EXPECT_EQ(row->level, level) << describe(row);
    if (auto group = std::dynamic_pointer_cast<Tgrouper>(row)) expectLevels(group->children, level + 1);
  }
}

struct GroupCase {
  const char* name;
  const char* events;
  const char* tree;
};

class Grouping : public ::testing::TestWithParam<GroupCase> {};

TEST_P(Grouping, BuildsExpectedTree) {
  const GroupCase& c = GetParam();
  TrowVec events = makeEvents(c.events);
  TrowVec roots;
  TrawTree tree(events, roots);
  EXPECT_EQ(describeList(roots), c.tree);
  expectLevels(roots, 0);
  // Nothing is dropped or copied: every packet appears once in the tree.
  EXPECT_EQ(countLeaves(roots), events.size());
  for (const auto& row : roots) EXPECT_EQ(row->tick == MAX_TICK, row->kind >= RK_SOFGROUP);
}

const GroupCase GROUP_CASES[] = {
    {"Empty", "", ""},
    {"SingleSofBetweenTokens", "IN1.1 S OUT1.1", "X:IN[IN1.1] S X:OUT[OUT1.1]"},
    {"SofRunThenReset", "S S S R", "G[S S S] R"},
    {"SofRunToEnd", "R S S", "R G[S S]"},
    {"TwoSofRunsSplitByToken", "S S IN1.1 NAK S S", "G[S S] X:IN[IN1.1 NAK] G[S S]"},
    {"SetupTransaction", "SETUP5.0 D0/8 ACK", "C[X:SETUP[SETUP5.0 D0/8 ACK]]"},
    {"SetupThenSof", "SETUP5.0 S", "C[X:SETUP[SETUP5.0]] S"},
    {"SetupDataThenNak", "SETUP5.0 D0/8 NAK", "C[X:SETUP[SETUP5.0 D0/8]] NAK"},
    {"SetupTakesOnlyData0", "SETUP5.0 D1/8 ACK", "C[X:SETUP[SETUP5.0]] D1/8 ACK"},
    {"ControlReadClosedByEmptyOut", "SETUP5.0 D0/8 ACK IN5.0 D1/18 ACK OUT5.0 D1/0 ACK IN5.0 NAK",
     "C[X:SETUP[SETUP5.0 D0/8 ACK] X:IN[IN5.0 D1/18 ACK] X:OUT[OUT5.0 D1/0 ACK]] X:IN[IN5.0 NAK]"},
    {"EmptyStatusWithoutHandshakeStillCloses", "SETUP5.0 D0/8 ACK IN5.0 D1/8 ACK OUT5.0 D1/0 IN5.0 NAK",
     "C[X:SETUP[SETUP5.0 D0/8 ACK] X:IN[IN5.0 D1/8 ACK] X:OUT[OUT5.0 D1/0]] X:IN[IN5.0 NAK]"},
    {"LaterTransactionsJoinOpenTransfer", "SETUP5.0 D0/8 ACK S R IN5.0 NAK IN5.0 D1/8 ACK",
     "C[X:SETUP[SETUP5.0 D0/8 ACK] X:IN[IN5.0 NAK] X:IN[IN5.0 D1/8 ACK]] S R"},
    {"InNak", "IN1.2 NAK", "X:IN[IN1.2 NAK]"},
    {"InStall", "IN1.2 STALL", "X:IN[IN1.2 STALL]"},
    {"InDataWithoutHandshake", "IN1.2 D0/4 IN1.2 D1/4", "X:IN[IN1.2 D0/4] X:IN[IN1.2 D1/4]"},
    {"InDataThenNakIsRoot", "IN1.2 D0/4 NAK", "X:IN[IN1.2 D0/4] NAK"},
    {"OutAckDirectly", "OUT1.2 ACK", "X:OUT[OUT1.2] ACK"},
    {"OutDataStall", "OUT1.2 D0/4 STALL OUT1.2 D1/4 NAK", "X:OUT[OUT1.2 D0/4 STALL] X:OUT[OUT1.2 D1/4 NAK]"},
    {"InData2", "IN1.2 D2/1", "X:IN[IN1.2] D2/1"},
    {"OutMdata", "OUT1.2 DM/3 ACK", "X:OUT[OUT1.2] DM/3 ACK"},
    {"SecondSetupStartsNewTransfer", "SETUP5.0 D0/8 ACK SETUP5.0 D0/8 ACK IN5.0 D1/2 ACK",
     "C[X:SETUP[SETUP5.0 D0/8 ACK]] C[X:SETUP[SETUP5.0 D0/8 ACK] X:IN[IN5.0 D1/2 ACK]]"},
    {"PortsDoNotCollide1", "SETUP33.0 D0/8 ACK IN1.1 NAK", "C[X:SETUP[SETUP33.0 D0/8 ACK]] X:IN[IN1.1 NAK]"},
    {"PortsDoNotCollide2", "SETUP32.0 D0/8 ACK IN0.1 NAK", "C[X:SETUP[SETUP32.0 D0/8 ACK]] X:IN[IN0.1 NAK]"},
    {"TwoPortsOpenAtOnce", "SETUP1.0 D0/8 ACK SETUP2.0 D0/8 ACK IN1.0 D1/8 ACK IN2.0 NAK",
     "C[X:SETUP[SETUP1.0 D0/8 ACK] X:IN[IN1.0 D1/8 ACK]] C[X:SETUP[SETUP2.0 D0/8 ACK] X:IN[IN2.0 NAK]]"},
    {"StrayPacketsAreRoots", "ACK D0/3 NAK", "ACK D0/3 NAK"},
    {"TokenAtEnd", "S IN3.3", "S X:IN[IN3.3]"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Grouping, ::testing::ValuesIn(GROUP_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// Return value and index of one step: false only when the step ran into the end.
TEST(GroupingStep, ReturnsFalseOnlyAtEndOfInput) {
  struct Case {
    const char* events;
    bool result;
    uint64_t ix;
  } const cases[] = {
      {"", false, 0},
      {"R", true, 1},
      {"S", true, 1},
      {"S S", false, 2},
      {"S S R", true, 2},
      {"IN1.1", false, 1},
      {"IN1.1 D0/0", false, 2},
      {"IN1.1 D0/0 ACK", true, 3},
      {"IN1.1 NAK R", true, 2},
      {"OUT1.1 ACK", true, 1},
      {"SETUP1.0", false, 1},
      {"SETUP1.0 D0/8", false, 2},
      {"SETUP1.0 D0/8 ACK", true, 3},
      {"SETUP1.0 D0/8 R", true, 2},
      {"ACK", true, 1},
  };
  for (const auto& c : cases) {
    TrowVec events;
    TrowVec roots;
    TrawTree tree(events, roots);
    events = makeEvents(c.events);
    uint64_t ix = 0;
    EXPECT_EQ(tree.getDisplayItem(ix), c.result) << c.events;
    EXPECT_EQ(ix, c.ix) << c.events;
  }
}

TEST(GroupingStep, PidAndPortKeys) {
  EXPECT_EQ(TrawTree::getPid(std::make_shared<Treset>()), -1);
  EXPECT_EQ(TrawTree::getPid(std::make_shared<TsofGroup>()), -1);
  EXPECT_EQ(TrawTree::getPid(nullptr), -1);
  EXPECT_EQ(TrawTree::getPid(makeEvents("NAK")[0]), 10);
  EXPECT_EQ(TrawTree::getPid(makeEvents("S")[0]), 5);
  // Every address/endpoint pair gets its own key.
  std::set<int> keys;
  for (int addr = 0; addr < 128; ++addr)
    for (int endp = 0; endp < 16; ++endp) keys.insert(TrawTree::portRef(addr, endp));
  EXPECT_EQ(keys.size(), 128u * 16u);
}

// Roots grouped from a SETUP with the given request, then transactions.
TrowVec groupWithRequest(const TbyteVec& request, const std::string& rest) {
  TrowVec events = makeEvents("SETUP7.0 D0/" + std::to_string(request.size()) + " ACK " + rest);
  std::static_pointer_cast<Tdata>(events[1])->data = request;
  TrowVec roots;
  TrawTree tree(events, roots);
  return roots;
}

std::shared_ptr<Ttransfer> makeTransfer(const TbyteVec& request, const std::string& rest) {
  return std::static_pointer_cast<Ttransfer>(groupWithRequest(request, rest).at(0));
}

const TbyteVec GET_DESCRIPTOR = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};
const TbyteVec SET_CONFIG = {0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};

// A zero-length packet closes the transfer only as its status stage, when the
// device did not NAK it; the next transaction on the port then is a root.
TEST(ControlTransfer, ClosesAtItsStatusStage) {
  const TbyteVec getString255 = {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xFF, 0x00};
  const TbyteVec setReport7 = {0x21, 0x09, 0x00, 0x02, 0x00, 0x00, 0x07, 0x00};
  struct Case {
    const char* name;
    TbyteVec request;
    const char* rest;
    const char* after;  // the transfer's transactions after SETUP, then the roots after it
    size_t bytes;
    bool success;
  } const cases[] = {
      {"ZeroLengthEndsDataStage", getString255, "IN7.0 D1/8 ACK IN7.0 D0/8 ACK IN7.0 D1/0 ACK OUT7.0 D1/0 ACK IN7.0 NAK",
       "X:IN[IN7.0 D1/8 ACK] X:IN[IN7.0 D0/8 ACK] X:IN[IN7.0 D1/0 ACK] X:OUT[OUT7.0 D1/0 ACK]] X:IN[IN7.0 NAK]", 16,
       true},
      {"NakedStatusRetried", GET_DESCRIPTOR,
       "IN7.0 D1/8 ACK IN7.0 D0/10 ACK OUT7.0 D1/0 NAK OUT7.0 D1/0 ACK IN7.0 NAK",
       "X:IN[IN7.0 D1/8 ACK] X:IN[IN7.0 D0/10 ACK] X:OUT[OUT7.0 D1/0 NAK] X:OUT[OUT7.0 D1/0 ACK]] X:IN[IN7.0 NAK]", 18,
       true},
      {"ControlOutNakedInStatus", setReport7, "OUT7.0 D1/7 ACK IN7.0 NAK IN7.0 D1/0 ACK OUT7.0 D0/7 ACK",
       "X:OUT[OUT7.0 D1/7 ACK] X:IN[IN7.0 NAK] X:IN[IN7.0 D1/0 ACK]] X:OUT[OUT7.0 D0/7 ACK]", 7, true},
      {"StalledStatusCloses", GET_DESCRIPTOR, "IN7.0 D1/8 ACK OUT7.0 D1/0 STALL IN7.0 NAK",
       "X:IN[IN7.0 D1/8 ACK] X:OUT[OUT7.0 D1/0 STALL]] X:IN[IN7.0 NAK]", 8, false},
      {"ShortRequestAnyZeroLengthCloses", {0x80, 0x06, 0, 1, 0, 0, 0x12}, "IN7.0 D1/0 ACK IN7.0 NAK",
       "X:IN[IN7.0 D1/0 ACK]] X:IN[IN7.0 NAK]", 0, false},
      {"NoDataStageStatusInDespiteBit7", {0xC0, 0x01, 0, 0, 0, 0, 0, 0},
       "IN7.0 NAK IN7.0 D1/0 ACK IN7.0 NAK SETUP7.0 D0/8 ACK",
       "X:IN[IN7.0 NAK] X:IN[IN7.0 D1/0 ACK]] X:IN[IN7.0 NAK] C[X:SETUP[SETUP7.0 D0/8 ACK]]", 0, true},
      {"NoDataStageOutIsNoStatus", {0x80, 0x05, 9, 0, 0, 0, 0, 0}, "OUT7.0 D1/0 ACK IN7.0 D1/0 ACK",
       "X:OUT[OUT7.0 D1/0 ACK] X:IN[IN7.0 D1/0 ACK]]", 0, true},
      {"HighByteOfWLengthCounts", {0x80, 0x06, 0, 1, 0, 0, 0, 1}, "IN7.0 D1/0 ACK IN7.0 NAK",
       "X:IN[IN7.0 D1/0 ACK] X:IN[IN7.0 NAK]]", 0, false},
  };
  for (const auto& c : cases) {
    TrowVec roots = groupWithRequest(c.request, c.rest);
    const std::string setup = "C[X:SETUP[SETUP7.0 D0/" + std::to_string(c.request.size()) + " ACK] ";
    EXPECT_EQ(describeList(roots), setup + c.after) << c.name;
    auto transfer = std::static_pointer_cast<Ttransfer>(roots.at(0));
    EXPECT_EQ(transfer->findData().size(), c.bytes) << c.name;
    EXPECT_EQ(transfer->success, c.success) << c.name;
  }
}

TEST(TransferData, CollectsAcknowledgedDataStage) {
  struct Case {
    const char* name;
    TbyteVec request;
    const char* rest;
    size_t bytes;
    bool success;
  } const cases[] = {
      {"ReadWithStatus", GET_DESCRIPTOR, "IN7.0 D1/8 ACK IN7.0 NAK IN7.0 D0/10 ACK OUT7.0 D1/0 ACK", 18, true},
      {"ReadWithoutStatus", GET_DESCRIPTOR, "IN7.0 D1/8 ACK IN7.0 NAK IN7.0 D0/10 ACK", 18, false},
      {"UnackedDataLeftOut", GET_DESCRIPTOR, "IN7.0 D1/8 ACK IN7.0 D0/10", 8, false},
      {"NakedStatusFails", GET_DESCRIPTOR, "IN7.0 D1/8 ACK OUT7.0 D1/0 NAK", 8, false},
      {"WriteStatusIsIn", SET_CONFIG, "IN7.0 D1/0 ACK", 0, true},
      {"WriteStatusOutIgnored", SET_CONFIG, "OUT7.0 D1/0 ACK", 0, false},
      {"ShortRequest", {0x80, 0x06, 0, 1, 0, 0, 0x12}, "IN7.0 D1/8 ACK OUT7.0 D1/0 ACK", 0, false},
  };
  for (const auto& c : cases) {
    auto transfer = makeTransfer(c.request, c.rest);
    const TbyteVec& data = transfer->findData();
    EXPECT_EQ(data.size(), c.bytes) << c.name;
    EXPECT_EQ(transfer->success, c.success) << c.name;
    EXPECT_EQ(&data, &transfer->data) << c.name;
  }
}

TEST(TransferData, DataInOrderAndKeptOnceFound) {
  auto transfer = makeTransfer(GET_DESCRIPTOR, "IN7.0 D1/2 ACK IN7.0 D0/1 ACK");
  auto first = std::static_pointer_cast<Tgrouper>(transfer->children[1])->children[1];
  auto second = std::static_pointer_cast<Tgrouper>(transfer->children[2])->children[1];
  std::static_pointer_cast<Tdata>(first)->data = {1, 2};
  std::static_pointer_cast<Tdata>(second)->data = {3};
  EXPECT_EQ(transfer->findData(), (TbyteVec{1, 2, 3}));
  // Later changes to the packets are not seen: the result is kept.
  std::static_pointer_cast<Tdata>(second)->data = {9, 9};
  EXPECT_EQ(transfer->findData(), (TbyteVec{1, 2, 3}));
}

// A transaction of the given type from words whose data packet (the second
// word) carries payload.
TrowPtr transaxWith(TtrxType type, const std::string& words, const TbyteVec& payload) {
  auto trx = std::make_shared<Ttransax>(type);
  trx->children = makeEvents(words);
  std::static_pointer_cast<Tdata>(trx->children.at(1))->data = payload;
  return trx;
}

// The receiver takes DATA1 first, then alternating toggles: a packet that
// repeats the toggle taken last was sent again after a lost ACK, and DATA2 and
// MDATA have no place at full speed. Every sequence of up to five data
// transactions, in both directions, against that rule.
TEST(TransferData, TakesOnlyTheExpectedToggle) {
  const char* const WORDS[] = {"D0/1 ACK", "D1/1 ACK", "D0/1 NAK", "D1/1 NAK", "D2/1 ACK", "DM/1 ACK"};
  const int TOGGLE[] = {PID_DATA0, PID_DATA1, -1, -1, PID_DATA2, PID_MDATA};  // -1: NAKed, never taken
  const TbyteVec setReport7 = {0x21, 0x09, 0x00, 0x02, 0x00, 0x00, 0x07, 0x00};
  for (const bool in : {true, false}) {
    const std::string data = in ? "IN7.0 " : "OUT7.0 ", status = in ? "OUT7.0 D1/0 ACK" : "IN7.0 D1/0 ACK";
    for (int length = 0, variants = 1; length <= 5; ++length, variants *= 6) {
      for (int code = 0; code < variants; ++code) {
        Ttransfer transfer(TFR_CONTROL);
        transfer.children = {transaxWith(TRX_SETUP, "SETUP7.0 D0/8 ACK", in ? GET_DESCRIPTOR : setReport7)};
        TbyteVec want;
        int expected = PID_DATA1;  // flips only on a packet taken
        for (int i = 0, c = code; i < length; ++i, c /= 6) {
          const uint8_t byte = static_cast<uint8_t>(i);
          transfer.children.push_back(transaxWith(in ? TRX_IN : TRX_OUT, data + WORDS[c % 6], {byte}));
          if (TOGGLE[c % 6] != expected) continue;
          want.push_back(byte);
          expected = expected == PID_DATA1 ? PID_DATA0 : PID_DATA1;
        }
        transfer.children.push_back(transaxWith(in ? TRX_OUT : TRX_IN, status, {}));
        ASSERT_EQ(transfer.findData(), want) << "in " << in << ", length " << length << ", code " << code;
        ASSERT_TRUE(transfer.success);
      }
    }
  }
}

// GET_DESCRIPTOR(DEVICE) whose first DATA1 the device sent twice, as the
// host's ACK was lost: the descriptor's 18 bytes, once.
TEST(TransferData, PacketSentAgainAfterLostAckCountsOnce) {
  const TbyteVec descriptor = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x34,
                               0x12, 0x78, 0x56, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01};
  auto transfer =
      makeTransfer(GET_DESCRIPTOR, "IN7.0 D1/8 ACK IN7.0 D1/8 ACK IN7.0 D0/8 ACK IN7.0 D1/2 ACK OUT7.0 D1/0 ACK");
  const size_t pieces[][2] = {{0, 8}, {0, 8}, {8, 16}, {16, 18}};  // the second is the first again
  for (size_t i = 0; i < std::size(pieces); ++i)
    std::static_pointer_cast<Ttransax>(transfer->children.at(i + 1))
        ->findDataPkt()
        ->data.assign(descriptor.begin() + pieces[i][0], descriptor.begin() + pieces[i][1]);
  EXPECT_EQ(transfer->findData(), descriptor);
  EXPECT_TRUE(transfer->success);
}

TEST(TransferData, NoSetupGivesNothing) {
  Ttransfer transfer(TFR_CONTROL);
  transfer.children = makeEvents("");
  auto in = std::make_shared<Ttransax>(TRX_IN);
  in->children = makeEvents("IN7.0 D1/8 ACK");
  transfer.children.push_back(in);
  EXPECT_TRUE(transfer.findData().empty());
  EXPECT_FALSE(transfer.success);
  EXPECT_EQ(transfer.findSetupTransax(), nullptr);
}

TEST(TransferFinders, SearchFromIndex) {
  auto transfer = makeTransfer(GET_DESCRIPTOR, "IN7.0 NAK OUT7.0 D1/4 ACK IN7.0 D1/8 ACK");
  // children: SETUP, IN, OUT, IN
  ASSERT_EQ(transfer->children.size(), 4u);
  unsigned i = 1;
  EXPECT_EQ(transfer->findInTransax(i), transfer->children[1]);
  EXPECT_EQ(i, 1u);
  ++i;
  EXPECT_EQ(transfer->findInTransax(i), transfer->children[3]);
  EXPECT_EQ(i, 3u);
  ++i;
  EXPECT_EQ(transfer->findInTransax(i), nullptr);
  EXPECT_EQ(i, 4u);
  i = 0;
  EXPECT_EQ(transfer->findOutTransax(i), transfer->children[2]);
  EXPECT_EQ(i, 2u);
  EXPECT_EQ(transfer->findSetupTransax(), transfer->children[0]);
  i = 7;  // past the end
  EXPECT_EQ(transfer->findTransax(TRX_SETUP, i), nullptr);
}

TEST(TransactionFinders, FirstChildOfEachKind) {
  auto trx = std::make_shared<Ttransax>(TRX_IN);
  EXPECT_EQ(trx->findTokenPkt(), nullptr);
  EXPECT_EQ(trx->findDataPkt(), nullptr);
  EXPECT_EQ(trx->findHandshakePkt(), nullptr);
  EXPECT_FALSE(trx->ackOK());

  trx->children = makeEvents("IN1.1 D0/3 NAK D1/4 ACK");
  EXPECT_EQ(trx->findTokenPkt(), trx->children[0]);
  EXPECT_EQ(trx->findDataPkt(), trx->children[1]);
  EXPECT_EQ(trx->findHandshakePkt(), trx->children[2]);
  EXPECT_FALSE(trx->ackOK());  // the first handshake decides

  trx->children = makeEvents("OUT1.1 D0/3 ACK");
  EXPECT_TRUE(trx->ackOK());
  trx->children = makeEvents("OUT1.1 D0/3 STALL");
  EXPECT_FALSE(trx->ackOK());
}

}  // namespace
