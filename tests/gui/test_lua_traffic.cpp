// The decode scripts on traffic that goes wrong or is unusual: a control
// transfer's outcome and bytes as the engine works them out, every answer
// to every token, request words over all their values, resets around the
// length a device takes for one.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "displtest.h"

namespace {

using namespace displtest;
using decodeparse::Tdecoded;

constexpr int NONE = -1;  // no data packet, or no handshake
const int TOGGLE[] = {PID_DATA0, PID_DATA1, PID_DATA2};

// A transaction of a token, a data packet and a handshake, each optional.
TrowPtr stage(TtrxType type, int dataPid, TbyteVec bytes, int handshake) {
  TrowVec c = {tok(type == TRX_SETUP ? PID_SETUP : type == TRX_IN ? PID_IN : PID_OUT, 5, 0)};
  if (dataPid != NONE) c.push_back(dat(dataPid, std::move(bytes)));
  if (handshake != NONE) c.push_back(hs(handshake));
  return trx(type, c);
}

std::shared_ptr<Ttransfer> transfer(const TbyteVec& request, const TrowVec& stages) {
  auto t = std::make_shared<Ttransfer>(TFR_CONTROL);
  t->children = {stage(TRX_SETUP, PID_DATA0, request, PID_ACK)};
  t->children.insert(t->children.end(), stages.begin(), stages.end());
  return t;
}

// A test adds rows with their checks, which get the decode and its first
// paragraph (the summary); all rows show as one capture, checked at the end.
class TrafficScript : public ::testing::Test {
 protected:
  void add(const TrowPtr& row, std::function<void(const Tdecoded&, const std::string&)> check) {
    capture.add(row, [check](const Tdecoded& d) {
      check(d, d.items.empty() || d.items[0].kind != 'S' ? "" : d.items[0].text);
    });
  }
  void TearDown() override { capture.check(); }

  // Over bit 7, wLength, the status stage and the data toggles (index into
  // TOGGLE): "completed" and the byte count as the engine's findData has them.
  // alternating: the cases whose ACKed packets in the data direction go
  // DATA1, DATA0, ... (an engine that counts each of them counts right).
  void compareWithTheEngine(bool alternating) {
    for (int type : {0x00, 0x80, 0x21, 0xa1})
      for (int length : {0, 7})
        for (TtrxType status : {TRX_IN, TRX_OUT})
          for (int handshake : {int(PID_ACK), int(PID_NAK), int(PID_STALL), NONE})
            for (size_t statusBytes : {0, 2})
              for (std::vector<int> pids : std::vector<std::vector<int>>{
                       {}, {1}, {1, 0}, {1, 0, 1}, {1, 1}, {1, 0, 0}, {1, 0, 0, 1}, {0}, {0, 1}, {1, 2, 0}}) {
                const TtrxType data = (type & 0x80) ? TRX_IN : TRX_OUT;
                const bool read = length && (type & 0x80), write = length && !(type & 0x80);
                TrowVec stages;
                for (size_t i = 0; i < pids.size(); ++i) {
                  stages.push_back(stage(data, TOGGLE[pids[i]], TbyteVec(3 + i, uint8_t(i)), PID_ACK));
                  if (i == 0) stages.push_back(stage(data, data == TRX_IN ? NONE : PID_DATA0, {9}, PID_NAK));
                }
                const bool refused = status == TRX_IN && (handshake == PID_NAK || handshake == PID_STALL);
                stages.push_back(stage(status, refused ? NONE : PID_DATA1, TbyteVec(statusBytes, 1), handshake));
                if (data != (read ? TRX_IN : TRX_OUT)) pids.clear();  // not the data stage's direction
                if (status == (read ? TRX_IN : TRX_OUT) && handshake == PID_ACK) pids.push_back(1);
                bool alternates = true;
                for (size_t i = 0; i < pids.size(); ++i) alternates = alternates && pids[i] == int(i % 2 == 0);
                auto t = transfer(setup(type, 6, 0x0100, 0, length), stages);
                if (alternates != alternating) continue;
                add(t, [t, read, write](const Tdecoded& d, const std::string& said) {
                  const size_t bytes = t->findData().size();
                  EXPECT_EQ(has(said, "the request completed"), t->success);
                  std::smatch m;
                  const bool found = std::regex_search(said, m, std::regex(R"(sent (\d+)( bytes?)? (of the|though))"));
                  EXPECT_EQ(found ? std::stoul(m[1]) : 0ul, bytes);
                  size_t listed = 0;
                  for (const TstringVec& r : d.table("Stages")->rows) listed += r[0] != "Uncounted";
                  EXPECT_EQ(listed, t->children.size());
                  // a read asks for at most wLength bytes, a write announces them
                  EXPECT_EQ(d.row("SETUP request", "6").at(1), read    ? "wLength 7 bytes at most"
                                                               : write ? "wLength 7 bytes follow"
                                                                       : "wLength 0 bytes, no data stage");
                  EXPECT_EQ(has(said, " asked for"), read);
                  EXPECT_EQ(has(said, " bytes announced"), write);
                });
              }
  }

  Tcapture capture;
};

TEST_F(TrafficScript, OutcomeAndBytesAsTheEngineWorksThemOut) { compareWithTheEngine(true); }

TEST_F(TrafficScript, RepeatedAndOutOfTurnTogglesAsTheEngineCountsThem) { compareWithTheEngine(false); }

// A data packet sent again after a lost ACK, at each place of a read and of
// a write: a row says it was not counted, and all else reads as without it.
TEST_F(TrafficScript, ARetransmittedPacketCountsOnce) {
  const TbyteVec device = {18, 1, 0, 2, 0, 0, 0, 8, 0x34, 0x12, 0x78, 0x56, 0, 1, 1, 2, 3, 1};
  for (const bool read : {true, false}) {
    TrowPtr clean;
    for (int again = NONE; again < 3; ++again) {
      TrowVec stages;
      for (int i = 0; i < 3; ++i)
        for (int copy = 0; copy <= (i == again); ++copy)
          stages.push_back(stage(read ? TRX_IN : TRX_OUT, TOGGLE[1 - i % 2],
                                 TbyteVec(device.begin() + 8 * i, device.begin() + std::min(8 * i + 8, 18)), PID_ACK));
      stages.push_back(stage(read ? TRX_OUT : TRX_IN, PID_DATA1, {}, PID_ACK));
      const TrowPtr t = transfer(read ? setup(0x80, 6, 0x0100, 0, 18) : setup(0x21, 9, 0x0200, 0, 18), stages);
      if (again == NONE) clean = t;
      add(t, [this, clean, again, read](const Tdecoded& d, const std::string& said) {
        const Tdecoded without = capture.host.read(clean);
        EXPECT_TRUE(has(said, read ? "device sent 18 bytes of the 18" : "host sent 18 of the 18 bytes"));
        EXPECT_EQ(has(said, "again with the same toggle"), again >= 0);
        ASSERT_EQ(d.items.size(), without.items.size());
        for (size_t i = 1; i < d.items.size(); ++i)
          EXPECT_TRUE(d.items[i].text == "Stages" || d.items[i].rows == without.items[i].rows) << d.items[i].text;
        std::vector<TstringVec> uncounted;  // where the copy is listed, and why it does not count
        const std::vector<TstringVec>& rows = d.table("Stages")->rows;
        for (size_t i = 0; i < rows.size(); ++i)
          if (rows[i][0] == "Uncounted") uncounted.push_back({std::to_string(i), rows[i][1]});
        const std::string why = "repeated DATA" + std::to_string(1 - again % 2) + " (lost ACK)";
        EXPECT_EQ(uncounted, std::vector<TstringVec>(again >= 0, {std::to_string(again + 3), why}));
        EXPECT_TRUE(!read || d.table("Device descriptor"));
      });
    }
  }
}

// Every PID after IN, OUT and SETUP tokens, with no, some or zero data bytes:
// the outcome names what answered, never a timeout; a SETUP answered but by
// ACK broke the protocol; the handshake, not a zero-length packet, acknowledges.
TEST_F(TrafficScript, EveryAnswerToEveryTokenIsNamed) {
  for (TtrxType type : {TRX_SETUP, TRX_IN, TRX_OUT})
    for (int data : {NONE, int(PID_DATA0), int(PID_DATA1)})
      for (int handshake = NONE; handshake < 16; ++handshake) {
        TrowPtr row = stage(type, data, data == PID_DATA1 ? TbyteVec() : setup(0x80, 6, 0x0100, 0, 18), handshake);
        row->level = 0;
        add(row, [this, row, type, data, handshake](const Tdecoded& d, const std::string& said) {
          const bool setup = type == TRX_SETUP, ack = handshake == PID_ACK;
          const auto& packets = std::static_pointer_cast<Tgrouper>(row)->children;
          auto explains = [&](const TrowPtr& r, const char* text) {
            return has(capture.host.read(r).paragraphs(), text);
          };
          EXPECT_TRUE(data != PID_DATA1 || explains(packets[1], "the handshake after it is what acknowledges"));
          EXPECT_EQ(has(said, "broke the protocol"), setup && data != NONE && handshake != NONE && !ack);
          if (handshake == NONE) {
            EXPECT_TRUE(!setup || data == NONE || has(said, "No handshake"));
            return;
          }
          EXPECT_FALSE(has(said, "timeout"));
          const std::string table = std::string(setup ? "SETUP" : type == TRX_IN ? "IN" : "OUT") + " transaction";
          const std::string cell = d.row(table, "Handshake").at(1);
          EXPECT_TRUE(has(said, cell.substr(0, cell.find(" ("))) ||
                      (ack && (has(said, "acknowledged") || has(said, "accepted"))));
          EXPECT_EQ(explains(packets.back(), "breaks the protocol"), setup && !ack);
        });
      }
}

// SET_ADDRESS, SET_CONFIGURATION and the feature requests over their
// values and recipients: the words follow from the values alone.
TEST_F(TrafficScript, RequestWordsFollowTheirValues) {
  std::vector<int> values;
  for (int v = 0; v < 0x200; ++v) values.push_back(v);
  for (int high = 2; high < 256; ++high)
    for (int low : {0x00, 0x01, 0x7f, 0x80, 0xff}) values.push_back(high << 8 | low);
  for (int value : values) {
    const std::string v = std::to_string(value), low = std::to_string(value & 0xff);
    add(controlNoData(5, setup(0, 5, value, 0, 0)), [value, v](const Tdecoded& d, const std::string& said) {
      const std::string cell = d.row("SETUP request", "2").at(1);
      const std::regex address(R"(address (\d+))");
      for (const std::string& text : {said, cell})
        for (std::sregex_iterator m(text.begin(), text.end(), address), end; m != end; ++m) EXPECT_EQ((*m)[1], v);
      EXPECT_EQ(has(said, value ? "answers at address " + v + "." : "answers at the default address 0."), value <= 127);
      EXPECT_TRUE(has(cell, value > 127 ? "(" + v + ", invalid)" : value ? "address " + v : "default address"));
      EXPECT_EQ(has(said, "not a valid address (1 to 127)"), value > 127);
    });
    add(controlNoData(5, setup(0, 9, value, 0, 0)), [value, low](const Tdecoded& d, const std::string& said) {
      EXPECT_EQ(d.row("SETUP request", "2").at(1).substr(14), value & 0xff ? "configuration " + low : "unconfigured");
      EXPECT_TRUE(has(said, value & 0xff ? "The device is configured" : "back in the address state"));
      EXPECT_EQ(has(said, "reserved high byte"), value > 0xff);
    });
    for (int recipient = 0; recipient < 5 && (value < 0x110 || value > 0xfff0); ++recipient)
      for (int code : {1, 3})
        add(controlNoData(5, setup(recipient, code, value, 0, 0)), [=](const Tdecoded& d, const std::string&) {
          const std::string name = recipient == 2 && value == 0   ? "endpoint halt"
                                   : recipient == 0 && value == 1 ? "remote wakeup"
                                   : recipient == 0 && value == 2 ? "test mode"
                                                                  : "feature " + v;
          EXPECT_EQ(d.row("SETUP request", "2").at(1).substr(14), name);
        });
  }
}

// An SE0 resets the device's address only from 2.5 us (30 bit times) on;
// the table labels its rows apart.
TEST_F(TrafficScript, OnlyARealResetResetsTheAddress) {
  for (uint32_t ticks = 0; ticks < 60; ++ticks) {
    auto reset = std::make_shared<Treset>();
    reset->duration = ticks, reset->idleTicks = 7;
    add(reset, [ticks](const Tdecoded& d, const std::string& said) {
      EXPECT_EQ(has(said, "answers at address 0"), ticks >= 30);
      std::set<std::string> labels;
      for (const TstringVec& r : d.table("Bus reset")->rows) labels.insert(r[0]);
      EXPECT_EQ(labels.size(), d.table("Bus reset")->rows.size());
    });
  }
}

}  // namespace
