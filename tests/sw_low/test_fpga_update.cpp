// The FPGA's configuration port: command bytes, register reads, and every path of
// the update against the simulated MachXO2, with images that are not stand-ins
// (maker_images.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "boardtest.h"
#include "kelvosim.h"
#include "libvklow.h"
#include "simbus.h"
#include "vkxo2_1200dat.h"
#include "vkxo2_640dat.h"

namespace {

using simbus::Bytes;
using simbus::operator+;

const std::map<uint8_t, std::string> OPS = {
    {0xE0, "ID"},      {0x74, "ENABLE_X"}, {0xC6, "ENABLE"}, {0x3C, "STATUS"},   {0xC0, "USERCODE"}, {0xFB, "FEABITS"},
    {0xF8, "SET_FEA"}, {0x0E, "ERASE"},    {0xF0, "BUSY"},   {0x46, "INIT"},     {0x70, "PROG"},     {0x5E, "DONE"},
    {0x79, "REFRESH"}, {0x26, "DISABLE"},  {0xFF, "NOOP"},   {0xC2, "SET_USER"}, {0xE7, "FEATURE"},  {0x19, "TRACE"}};

// Channel 0 transactions by name; busy polls fold into "BUSY*", and runs of page
// writes (each with its busy polls) into "PROG xN".
std::vector<std::string> cfgSummary() {
  std::vector<std::string> out;
  unsigned pages = 0;
  auto flushPages = [&] {
    if (pages) out.push_back("PROG x" + std::to_string(pages));
    pages = 0;
  };
  for (const Bytes& m : simbus::spiMosi(0)) {
    const auto it = m.empty() ? OPS.end() : OPS.find(m[0]);
    const std::string name = it == OPS.end() ? "?" : it->second;
    if (name == "PROG") {
      ++pages;
    } else if (name == "BUSY" && pages) {
      // belongs to the page write before it
    } else if (name == "BUSY" && !out.empty() && out.back() == "BUSY*") {
    } else {
      flushPages();
      out.push_back(name == "BUSY" ? "BUSY*" : name);
    }
  }
  flushPages();
  return out;
}

std::vector<Bytes> pagesSent() {
  std::vector<Bytes> out;
  for (const Bytes& m : simbus::spiMosi(0))
    if (!m.empty() && m[0] == 0x70) out.push_back(m);
  return out;
}

using Names = std::vector<std::string>;

const Names KEEP = {"ID", "ENABLE_X", "STATUS", "USERCODE", "DISABLE", "NOOP"};
Names reload(unsigned frames, bool writeFea, bool writeUsercode = true) {
  Names n = {"ID", "ENABLE_X", "STATUS", "USERCODE", "STATUS", "FEABITS"};
  if (writeFea) n.push_back("SET_FEA");
  Names rest = {"ERASE", "BUSY*",  "INIT",    "PROG x" + std::to_string(frames), "DONE", "REFRESH", "DISABLE",
                "NOOP",  "STATUS", "ENABLE_X"};
  n.insert(n.end(), rest.begin(), rest.end());
  if (writeUsercode) n.push_back("SET_USER");
  Names tail = {"DISABLE", "NOOP", "STATUS"};
  n.insert(n.end(), tail.begin(), tail.end());
  return n;
}

class FpgaUpdate : public TboardTest {
 protected:
  void SetUp() override { restart(); }

  // Opens a board with the given FPGA; the sim accepts only our images at refresh.
  void openBoard(uint32_t idcode, uint32_t usercode, uint16_t feabits = 0x0520, bool flashValid = true) {
    kelvosim::TdevConfig c = kelvosim::boardConfig();
    c.Fidcode = idcode;
    c.Fusercode = usercode;
    c.Ffeabits = feabits;
    c.FflashValid = flashValid;
    kelvosim::addDevice(c);
    kelvosim::setReferenceImage(kelvosim::IDCODE_640HC, XO2_640HC::fpgaConfigData, XO2_640HC::fpgaConfigNumFrames);
    kelvosim::setReferenceImage(kelvosim::IDCODE_1200HC, XO2_1200HC::fpgaConfigData, XO2_1200HC::fpgaConfigNumFrames);
    ASSERT_TRUE(lib().snifferOpen());
    kelvosim::clearLog();
  }
};

TEST_F(FpgaUpdate, CommandsAndRegisterReadsAreExactBytes) {
  openBoard(kelvosim::IDCODE_640HC, kelvosim::USERCODE_640HC);
  TvkLow& lo = *lib().pLo();
  const Bytes frame = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const Bytes Z4 = {0, 0, 0, 0}, Z8 = {0, 0, 0, 0, 0, 0, 0, 0};
  const struct {
    const char* name;
    std::function<bool()> op;
    std::vector<Bytes> expect;
  } cases[] = {
      {"enable", [&] { return lo.enable(); }, {{0xC6, 0x08, 0, 0}}},
      {"disableAndBypass", [&] { return lo.disableAndBypass(); }, {{0x26, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}}},
      {"bypass", [&] { return lo.bypass(); }, {{0xFF, 0xFF, 0xFF, 0xFF}}},
      {"enableX", [&] { return lo.enableX(); }, {{0x74, 0x08, 0, 0}}},
      {"erase",
       [&] { return lo.erase() && lo.waitNotBusy(1000); },
       {{0x0E, 0x05, 0, 0}, {0xF0, 0, 0, 0, 0}, {0xF0, 0, 0, 0, 0}, {0xF0, 0, 0, 0, 0}, {0xF0, 0, 0, 0, 0}}},
      {"initAddr", [&] { return lo.initAddr(); }, {{0x46, 0, 0, 0}}},
      {"sendRow",
       [&] { return lo.sendRow(frame.data()); },
       {Bytes{0x70, 0, 0, 1} + frame, {0xF0, 0, 0, 0, 0}, {0xF0, 0, 0, 0, 0}}},
      {"done", [&] { return lo.done(); }, {{0x5E, 0, 0, 0}}},
      {"setUsercode", [&] { return lo.setUsercode(0x8E5AEC17); }, {{0xC2, 0, 0, 0, 0x8E, 0x5A, 0xEC, 0x17}}},
      {"setFEAbits", [&] { return lo.setFEAbits(0x0520); }, {{0xF8, 0, 0, 0, 0x05, 0x20}}},
      {"isBusy",
       [&] {
         bool ok = false;
         return !lo.isBusy(&ok) && ok;
       },
       {{0xF0, 0, 0, 0, 0}}},
      {"getStatusReg", [&] { return (lo.getStatusReg() & 0x3200) == 0x0200; }, {Bytes{0x3C, 0, 0, 0} + Z4}},
      {"getIDReg", [&] { return lo.getIDReg() == 0x012B9043; }, {Bytes{0xE0, 0, 0, 0} + Z4}},
      {"getTraceReg", [&] { return lo.getTraceReg() == 0x0123456789ABCDEFull; }, {Bytes{0x19, 0, 0, 0} + Z8}},
      {"getFEAbits", [&] { return lo.getFEAbits() == 0x0520; }, {{0xFB, 0, 0, 0, 0, 0}}},
      {"getUsercode",
       [&] {
         bool ok = false;
         return lo.getUsercode(&ok) == 0x8E5AEC17 && ok;
       },
       {Bytes{0xC0, 0, 0, 0} + Z4}},
      {"showCfgStatus reads the status only",
       [&] {
         lo.showCfgStatus();
         return true;
       },
       {Bytes{0x3C, 0, 0, 0} + Z4}},
      {"getFeatureRow framed by enable and disable",
       [&] { return lo.getFeatureRow() == 0; },
       {{0xC6, 0x08, 0, 0}, Bytes{0xE7, 0, 0, 0} + Z8, {0x26, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}}},
      {"refresh", [&] { return lo.refresh(); }, {{0x79, 0, 0}}},
  };
  for (const auto& c : cases) {
    kelvosim::clearLog();
    EXPECT_TRUE(c.op()) << c.name;
    EXPECT_EQ(simbus::spiMosi(0), c.expect) << c.name;
  }
}

TEST_F(FpgaUpdate, FailedReadsGiveZero) {
  openBoard(kelvosim::IDCODE_640HC, kelvosim::USERCODE_640HC);
  TvkLow& lo = *lib().pLo();
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_IN;
  rule.Fcount = 0;
  kelvosim::addFault(rule);
  bool ok = true;
  EXPECT_EQ(lo.getUsercode(&ok), 0u);
  EXPECT_FALSE(ok);
  ok = true;
  EXPECT_FALSE(lo.isBusy(&ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ(lo.getIDReg(), 0u);
  EXPECT_EQ(lo.getFPGAmodel(), TvkLow::MODEL_UNKNOWN);
  EXPECT_FALSE(lo.waitNotBusy());
}

struct UpdateCase {
  const char* name;
  uint32_t idcode, usercode;
  uint16_t feabits;
  bool force;
  bool expectResult;
  Names expectSeq;
  uint32_t expectUsercode;
  unsigned expectErases, expectUsercodeWrites, expectFeaWrites;
  bool flashValid = true;  // false: the flash fails its check, no design runs
};

TEST_F(FpgaUpdate, EveryPathSendsItsCommands) {
  const uint32_t U640 = kelvosim::USERCODE_640HC, U1200 = kelvosim::USERCODE_1200HC;
  const uint32_t ID640 = kelvosim::IDCODE_640HC, ID1200 = kelvosim::IDCODE_1200HC;
  const UpdateCase cases[] = {
      {"640HC current, no force: kept", ID640, U640, 0x0520, false, true, KEEP, U640, 0, 0, 0},
      {"640HC current, force: reloaded", ID640, U640, 0x0520, true, true, reload(599, false), U640, 1, 1, 0},
      {"1200HC out of date: reloaded", ID1200, 0x12345678, 0x0520, false, true, reload(792, false), U1200, 1, 1, 0},
      {"640HC current, no design running: reloaded", ID640, U640, 0x0520, false, true, reload(599, false), U640, 1, 1,
       0, false},
      {"640HC with the 1200HC usercode: reloaded", ID640, U1200, 0x0520, false, true, reload(599, false), U640, 1, 1,
       0},
      {"feature bits differ: written", ID1200, 0, 0x0000, false, true, reload(792, true), U1200, 1, 1, 1},
      {"unknown IDCODE: leave only", 0x012BB043, 0, 0x0520, false, false, {"ID", "DISABLE", "NOOP"}, 0, 0, 0, 0},
      {"unknown IDCODE, force", 0x01234567, U640, 0x0520, true, false, {"ID", "DISABLE", "NOOP"}, U640, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    openBoard(c.idcode, c.usercode, c.feabits, c.flashValid);
    EXPECT_EQ(lib().updateFPGA(c.force), c.expectResult);
    EXPECT_EQ(cfgSummary(), c.expectSeq);
    const auto f = kelvosim::fpgaState(0);
    EXPECT_EQ(f.Fusercode, c.expectUsercode);
    EXPECT_EQ(f.Ferases, c.expectErases);
    EXPECT_EQ(f.FusercodeWrites, c.expectUsercodeWrites);
    EXPECT_EQ(f.FfeabitsWrites, c.expectFeaWrites);
    EXPECT_EQ(f.Ffeabits, c.expectFeaWrites ? 0x0520 : c.feabits);
    EXPECT_EQ(f.Fmode, kelvosim::CM_USER);
    EXPECT_EQ(f.FrejectedCommands, 0u);
    if (c.expectErases) {
      EXPECT_TRUE(f.Fconfigured);
      const bool is1200 = c.idcode == ID1200;
      const uint8_t* image = is1200 ? XO2_1200HC::fpgaConfigData : XO2_640HC::fpgaConfigData;
      const uint32_t frames = is1200 ? 792 : 599;
      EXPECT_EQ(f.Fflash, Bytes(image, image + frames * 16));
      const auto pages = pagesSent();
      ASSERT_EQ(pages.size(), frames);
      EXPECT_EQ(pages.back(), (Bytes{0x70, 0, 0, 1}) + Bytes(image + (frames - 1) * 16, image + frames * 16))
          << "last frame";
      const auto mosi = simbus::spiMosi(0);
      const Bytes u = {0xC2,
                       0,
                       0,
                       0,
                       uint8_t(c.expectUsercode >> 24),
                       uint8_t(c.expectUsercode >> 16),
                       uint8_t(c.expectUsercode >> 8),
                       uint8_t(c.expectUsercode)};
      EXPECT_EQ(mosi[mosi.size() - 4], u) << "usercode written last";
    }
  }
}

TEST_F(FpgaUpdate, AfterReloadTheNextStartKeepsTheImage) {
  openBoard(kelvosim::IDCODE_1200HC, 0xFFFFFFFF);
  bool needed = false;
  EXPECT_TRUE(lib().updateFPGAneeded(needed));
  EXPECT_TRUE(needed);
  ASSERT_TRUE(lib().updateFPGA(false));
  EXPECT_EQ(kelvosim::fpgaState(0).Fusercode, kelvosim::USERCODE_1200HC);

  kelvosim::clearLog();
  EXPECT_TRUE(lib().updateFPGAneeded(needed));
  EXPECT_FALSE(needed);
  kelvosim::clearLog();
  EXPECT_TRUE(lib().updateFPGA(false));
  EXPECT_EQ(cfgSummary(), KEEP);
  EXPECT_EQ(kelvosim::fpgaState(0).Ferases, 1u);
}

TEST_F(FpgaUpdate, UpdateNeededByModel) {
  const struct {
    uint32_t idcode, usercode;
    bool expectResult, expectNeeded;
  } cases[] = {
      {kelvosim::IDCODE_640HC, kelvosim::USERCODE_640HC, true, false},
      {kelvosim::IDCODE_640HC, 0, true, true},
      {kelvosim::IDCODE_1200HC, kelvosim::USERCODE_1200HC, true, false},
      {kelvosim::IDCODE_1200HC, kelvosim::USERCODE_640HC, true, true},
      {0x11111111, 0, false, true},  // untouched: keeps the caller's value
  };
  for (const auto& c : cases) {
    restart();
    openBoard(c.idcode, c.usercode);
    bool needed = true;
    EXPECT_EQ(lib().updateFPGAneeded(needed), c.expectResult) << std::hex << c.idcode;
    EXPECT_EQ(needed, c.expectNeeded) << std::hex << c.idcode;
  }
}

// Index of the bulk OUT that carries page `frame` of an update, counted over all
// bulk OUTs of the run.
unsigned bulkOutIndexOfPage(unsigned frame) {
  unsigned outs = 0, pages = 0;
  for (const auto& r : kelvosim::transfers()) {
    if (r.Fkind != kelvosim::XK_BULK_OUT) continue;
    if (r.Fdata.size() == 28 && r.Fdata[8] == 0x70 && pages++ == frame) return outs;
    ++outs;
  }
  return ~0u;
}

TEST_F(FpgaUpdate, FailingFrameSendsTheRestAndLeavesTheImageOutOfDate) {
  // Dry run to find the transfer that carries frame 100.
  openBoard(kelvosim::IDCODE_1200HC, 0x12345678);
  ASSERT_TRUE(lib().updateFPGA(false));
  const unsigned at = bulkOutIndexOfPage(100);
  ASSERT_NE(at, ~0u);

  restart();
  TlibVkLow fresh;
  kelvosim::TdevConfig c = kelvosim::boardConfig();
  c.Fidcode = kelvosim::IDCODE_1200HC;
  c.Fusercode = 0x12345678;
  kelvosim::addDevice(c);
  kelvosim::setReferenceImage(kelvosim::IDCODE_1200HC, XO2_1200HC::fpgaConfigData, 792);
  ASSERT_TRUE(fresh.snifferOpen());
  kelvosim::clearLog();
  kelvosim::TfaultRule rule;
  rule.Fkind = kelvosim::XK_BULK_OUT;
  rule.Fskip = at;
  kelvosim::addFault(rule);

  EXPECT_FALSE(fresh.updateFPGA(false));
  unsigned attempts = 0;
  for (const auto& r : kelvosim::transfers())
    if (r.Fkind == kelvosim::XK_BULK_OUT && r.Flength == 28) ++attempts;
  EXPECT_EQ(attempts, 792u);            // every frame was tried
  EXPECT_EQ(pagesSent().size(), 791u);  // one never reached the FPGA
  auto f = kelvosim::fpgaState(0);
  EXPECT_EQ(f.FusercodeWrites, 0u);  // a broken image must not look current
  EXPECT_NE(f.Fusercode, kelvosim::USERCODE_1200HC);
  EXPECT_EQ(f.Fmode, kelvosim::CM_USER);

  // The next start sees the image out of date and reloads it.
  kelvosim::clearFaults();
  kelvosim::clearLog();
  EXPECT_TRUE(fresh.updateFPGA(false));
  EXPECT_EQ(cfgSummary(), reload(792, false));
  f = kelvosim::fpgaState(0);
  EXPECT_EQ(f.Fusercode, kelvosim::USERCODE_1200HC);
  EXPECT_TRUE(f.Fconfigured);
}

TEST_F(FpgaUpdate, FpgaStuckBusyEndsTheUpdate) {
  kelvosim::TdevConfig c = kelvosim::boardConfig();
  c.Fusercode = 0;
  c.FpageBusyPolls = 1u << 30;  // the first page never finishes
  kelvosim::addDevice(c);
  ASSERT_TRUE(lib().snifferOpen());
  kelvosim::clearLog();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(lib().updateFPGA(false));
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(pagesSent().size(), 1u);
  const auto seq = cfgSummary();
  ASSERT_GE(seq.size(), 3u);
  EXPECT_EQ(Names(seq.end() - 3, seq.end()), (Names{"DISABLE", "NOOP", "STATUS"}));
  EXPECT_EQ(kelvosim::fpgaState(0).FusercodeWrites, 0u);
}

// A reply that cannot be read changes nothing: an unread USERCODE fails the
// update, an unread status does not make a current image look broken.
TEST_F(FpgaUpdate, UnreadableRepliesLeaveTheFlashAlone) {
  const struct {
    const char* name;
    unsigned skip;  // bulk INs that pass: IDCODE, then status, then USERCODE
    uint32_t usercode;
    bool flashValid, expectResult;
  } cases[] = {
      {"USERCODE unread", 2, 0, true, false},
      {"status unread, USERCODE current", 1, kelvosim::USERCODE_640HC, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    openBoard(kelvosim::IDCODE_640HC, c.usercode, 0x0520, c.flashValid);
    kelvosim::TfaultRule rule;
    rule.Fkind = kelvosim::XK_BULK_IN;
    rule.Fskip = c.skip;
    kelvosim::addFault(rule);
    EXPECT_EQ(lib().updateFPGA(false), c.expectResult);
    EXPECT_EQ(cfgSummary(), KEEP);
    EXPECT_EQ(kelvosim::fpgaState(0).Ferases, 0u);
    EXPECT_EQ(kelvosim::fpgaState(0).Fmode, kelvosim::CM_USER);
  }
}

}  // namespace
