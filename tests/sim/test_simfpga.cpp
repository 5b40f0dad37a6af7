// The simulated MachXO2 configuration port: identification, registers, busy, and the
// reprogramming of its flash from frames, driven with raw sysCONFIG bytes on channel 0.
#include "simtest.h"

using namespace kelvosim;

namespace {

const Tbytes ENABLE = {0xC6, 0x08, 0x00, 0x00};
const Tbytes ENABLE_X = {0x74, 0x08, 0x00, 0x00};
const Tbytes ERASE = {0x0E, 0x05, 0x00, 0x00};
const Tbytes INIT_ADDRESS = {0x46, 0x00, 0x00, 0x00};
const Tbytes PROGRAM_DONE = {0x5E, 0x00, 0x00, 0x00};
const Tbytes REFRESH = {0x79, 0x00, 0x00};
const Tbytes DISABLE = {0x26, 0x00, 0x00};
const Tbytes NOOP = {0xFF, 0xFF, 0xFF, 0xFF};

Tbytes frames(size_t n, uint8_t seed) {
  Tbytes f(n * 16);
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7 + seed);
  return f;
}

class TfpgaTest : public TsimTest {
 protected:
  uint64_t reg(uint8_t opcode, size_t replyBytes) {
    Tbytes cmd = {opcode, 0, 0, 0};
    cmd.resize(4 + replyBytes, 0);
    const Tbytes r = cfgWriteRead(cmd);
    uint64_t v = 0;
    for (size_t i = 4; i < r.size(); ++i) v = (v << 8) | r[i];
    return v;
  }
  bool busy() { return reg(0xF0, 1) != 0; }
  unsigned pollsUntilReady() {
    unsigned n = 0;
    while (busy() && n < 1000) ++n;
    return n;
  }
  bool setUsercode(uint32_t u) {
    return cfgWrite({0xC2, 0, 0, 0, uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)});
  }
  // The reload the board layer performs, with the busy polls it makes.
  void reload(const Tbytes& image, uint32_t usercode, std::vector<unsigned>* polls = nullptr) {
    ASSERT_TRUE(cfgWrite(ENABLE_X));
    ASSERT_TRUE(cfgWrite(ERASE));
    const unsigned erasePolls = pollsUntilReady();
    if (polls) polls->push_back(erasePolls);
    ASSERT_TRUE(cfgWrite(INIT_ADDRESS));
    for (size_t at = 0; at < image.size(); at += 16) {
      Tbytes row = {0x70, 0x00, 0x00, 0x01};
      row.insert(row.end(), image.begin() + at, image.begin() + at + 16);
      ASSERT_TRUE(cfgWrite(row));
      const unsigned n = pollsUntilReady();
      if (polls && at == 0) polls->push_back(n);
    }
    ASSERT_TRUE(cfgWrite(PROGRAM_DONE));
    ASSERT_TRUE(cfgWrite(REFRESH));
    ASSERT_TRUE(cfgWrite(DISABLE) && cfgWrite(NOOP));
    ASSERT_TRUE(cfgWrite(ENABLE_X));
    ASSERT_TRUE(setUsercode(usercode));
    ASSERT_TRUE(cfgWrite(DISABLE) && cfgWrite(NOOP));
  }
};

}  // namespace

TEST_F(TfpgaTest, IdentificationRegistersOfEachModel) {
  struct Tcase {
    TdevConfig cfg;
    uint32_t idcode, usercode;
  };
  TdevConfig unknown = boardConfig();
  unknown.Fidcode = 0x012BB043;
  const std::vector<Tcase> table = {
      {boardConfig(), IDCODE_640HC, USERCODE_640HC},
      {board1200Config(), IDCODE_1200HC, USERCODE_1200HC},
      {unknown, 0x012BB043, USERCODE_640HC},
  };
  for (size_t i = 0; i < table.size(); ++i) addDevice(table[i].cfg);
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    closeBoard();
    ASSERT_TRUE(openBoard(static_cast<int>(i)));
    EXPECT_EQ(reg(0xE0, 4), table[i].idcode);
    EXPECT_EQ(reg(0xC0, 4), table[i].usercode);
    EXPECT_EQ(reg(0xFB, 2), 0x0520u);
    EXPECT_EQ(reg(0x19, 8), 0x0123456789ABCDEFull);
    EXPECT_EQ(reg(0x3C, 4), 1u << 8);  // done, no error, not in configuration mode
    EXPECT_FALSE(busy());
  }
  // Bytes beyond a reply read as an idle line.
  ASSERT_TRUE(selectChannel(0));
  EXPECT_EQ(spiWriteRead({0xF0, 0, 0, 0, 0, 0}), Tbytes({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF}));
}

TEST_F(TfpgaTest, ReloadProgramsFlashAndUsercode) {
  struct Tcase {
    const char* name;
    TdevConfig cfg;
    size_t frameCount;
    bool referenceDiffers;  // a reference image is registered and one byte differs
    bool bootable;
  };
  const std::vector<Tcase> table = {
      {"640HC, whole image", boardConfig(), FRAMES_640HC, false, true},
      {"1200HC, whole image", board1200Config(), FRAMES_1200HC, false, true},
      {"640HC, one frame missing", boardConfig(), FRAMES_640HC - 1, false, false},
      {"640HC, image differs from reference", boardConfig(), FRAMES_640HC, true, false},
  };
  for (const Tcase& t : table) {
    SCOPED_TRACE(t.name);
    closeBoard();
    reset();
    ASSERT_EQ(libusb_init(nullptr), 0);
    addDevice(t.cfg);
    ASSERT_TRUE(openBoard());
    const Tbytes image = frames(t.frameCount, 3);
    if (t.referenceDiffers) {
      Tbytes ref = image;
      ref[100] ^= 1;
      setReferenceImage(t.cfg.Fidcode, ref.data(), ref.size() / 16);
    }
    std::vector<unsigned> polls;
    reload(image, 0xCAFE0001, &polls);
    EXPECT_EQ(polls, std::vector<unsigned>({3, 1}));  // erase and page busy polls
    const TfpgaState s = fpgaState(0);
    EXPECT_EQ(s.Fflash, image);
    EXPECT_EQ(s.FpagesProgrammed, t.frameCount);
    EXPECT_EQ(s.Ferases, 1u);
    EXPECT_EQ(s.FprogramCount, 1u);
    EXPECT_EQ(s.Frefreshes, 1u);
    EXPECT_EQ(s.Fusercode, 0xCAFE0001u);
    EXPECT_EQ(s.FrejectedCommands, 0u);
    EXPECT_EQ(s.Fconfigured, t.bootable);
    EXPECT_EQ(s.Fmode, CM_USER);
    EXPECT_EQ(reg(0xC0, 4), 0xCAFE0001u);
    // A design that did not boot reports a CRC error, and its capture logic is silent.
    EXPECT_EQ(reg(0x3C, 4), t.bootable ? 1u << 8 : (1u << 13) | (3u << 23));
    EXPECT_EQ(appRead(2), t.bootable ? Tbytes({0x00, 0x00}) : Tbytes({0xFF, 0xFF}));
    libusb_exit(nullptr);
  }
  ASSERT_EQ(libusb_init(nullptr), 0);
}

TEST_F(TfpgaTest, CommandsOutsideConfigurationModeOrWhileBusyAreIgnored) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  ASSERT_TRUE(cfgWrite(ERASE));  // user mode: refused
  ASSERT_TRUE(setUsercode(0x11111111));
  TfpgaState s = fpgaState(0);
  EXPECT_EQ(s.Ferases, 0u);
  EXPECT_EQ(s.Fusercode, USERCODE_640HC);
  EXPECT_EQ(s.FrejectedCommands, 2u);
  EXPECT_EQ((reg(0x3C, 4) >> 23) & 7, 2u);  // CMD ERR
  ASSERT_TRUE(cfgWrite(ENABLE_X));
  EXPECT_EQ(reg(0x3C, 4) & (1u << 9), 1u << 9);  // configuration enabled
  ASSERT_TRUE(cfgWrite(ERASE));
  EXPECT_NE(reg(0x3C, 4) & (1u << 12), 0u);  // busy shows in the status too
  ASSERT_TRUE(cfgWrite(INIT_ADDRESS));       // not waited for: ignored
  EXPECT_EQ(fpgaState(0).FrejectedCommands, 3u);
  EXPECT_EQ(pollsUntilReady(), 3u);
  ASSERT_TRUE(cfgWrite({0x70, 0, 0, 1, 1, 2, 3}));  // a page must be 16 bytes
  EXPECT_EQ(fpgaState(0).FrejectedCommands, 4u);
  EXPECT_EQ(fpgaState(0).Fusercode, 0u);  // erased with the flash
  // Transparent mode keeps the capture logic running; offline mode stops it.
  EXPECT_EQ(appRead(2), Tbytes({0x00, 0x00}));
  ASSERT_TRUE(cfgWrite(DISABLE));
  ASSERT_TRUE(cfgWrite(ENABLE));
  EXPECT_EQ(appRead(2), Tbytes({0xFF, 0xFF}));
  ASSERT_TRUE(cfgWrite(DISABLE));
  EXPECT_EQ(appRead(2), Tbytes({0x00, 0x00}));
}

TEST_F(TfpgaTest, FeatureBitsAndBusyForever) {
  TdevConfig c = boardConfig();
  c.Ffeabits = 0x0400;
  c.FbusyForever = true;
  addDevice(c);
  ASSERT_TRUE(openBoard());
  EXPECT_EQ(reg(0xFB, 2), 0x0400u);
  ASSERT_TRUE(cfgWrite(ENABLE_X));  // refused: the port is busy
  ASSERT_TRUE(cfgWrite({0xF8, 0, 0, 0, 0x05, 0x20}));
  EXPECT_EQ(fpgaState(0).Fmode, CM_USER);
  EXPECT_EQ(reg(0xFB, 2), 0x0400u);
  EXPECT_EQ(pollsUntilReady(), 1000u);
  setBusyForever(0, false);
  ASSERT_TRUE(cfgWrite(ENABLE_X));
  ASSERT_TRUE(cfgWrite({0xF8, 0, 0, 0, 0x05, 0x20}));
  EXPECT_EQ(reg(0xFB, 2), 0x0520u);
  EXPECT_EQ(fpgaState(0).FfeabitsWrites, 1u);
  EXPECT_GE(fpgaState(0).FbusyPolls, 1000u);
}

TEST_F(TfpgaTest, PowerCycleBootsTheProgrammedImage) {
  TdevConfig c = boardConfig();
  c.FflashValid = false;  // a board that comes up unconfigured
  addDevice(c);
  ASSERT_TRUE(openBoard());
  EXPECT_EQ(appRead(2), Tbytes({0xFF, 0xFF}));
  EXPECT_EQ(reg(0x3C, 4) & (1u << 8), 0u);
  const Tbytes image = frames(FRAMES_640HC, 9);
  reload(image, USERCODE_640HC);
  EXPECT_TRUE(fpgaState(0).Fconfigured);
  closeBoard();
  replug(0);
  ASSERT_TRUE(openBoard());
  const TfpgaState s = fpgaState(0);
  EXPECT_TRUE(s.Fconfigured);
  EXPECT_EQ(s.Fflash, image);
  EXPECT_EQ(s.Fusercode, USERCODE_640HC);
  EXPECT_EQ(appRead(2), Tbytes({0x00, 0x00}));
}
