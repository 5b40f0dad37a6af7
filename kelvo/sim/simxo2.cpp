#include "simxo2.h"

#include "vkchips.h"

namespace kelvosim {

namespace {

constexpr uint8_t ERASE_SRAM = 0x01;
constexpr uint8_t ERASE_FEATURE = 0x02;
constexpr uint8_t ERASE_FLASH = 0x04;

constexpr size_t MAX_PAGES = 8192;
constexpr unsigned ERR_CMD = 2;
constexpr unsigned ERR_CRC = 3;

void appendBE(std::vector<uint8_t>& v, uint64_t x, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

uint64_t readBE(const std::vector<uint8_t>& v, size_t from, size_t bytes) {
  uint64_t x = 0;
  for (size_t i = 0; i < bytes; ++i) x = (x << 8) | v[from + i];
  return x;
}

bool isRead(uint8_t op) {
  return op == kelvo::CFG_IDCODE_PUB || op == kelvo::CFG_USERCODE || op == kelvo::CFG_LSC_READ_STATUS ||
         op == kelvo::CFG_LSC_CHECK_BUSY || op == kelvo::CFG_LSC_READ_FEABITS || op == kelvo::CFG_LSC_READ_FEATURE ||
         op == kelvo::CFG_UIDCODE_PUB;
}

}  // namespace

TsimXo2::TsimXo2(const TdevConfig& cfg, TsimCapture& app, TsimEnv& env)
    : Fapp(app),
      Fenv(env),
      Fidcode(cfg.Fidcode),
      Fusercode(cfg.Fusercode),
      Ffeabits(cfg.Ffeabits),
      FfeatureRow(cfg.FfeatureRow),
      FtraceId(cfg.FtraceId),
      FbusyForever(cfg.FbusyForever),
      FeraseBusyPolls(cfg.FeraseBusyPolls),
      FpageBusyPolls(cfg.FpageBusyPolls),
      Fconfigured(cfg.FflashValid),
      FpowerUpImage(cfg.FflashValid),
      FflashDone(cfg.FflashValid) {
  Ffail = !Fconfigured;
  FerrorCode = Fconfigured ? 0 : ERR_CRC;
  Fapp.setConfigured(Fconfigured);
}

void TsimXo2::begin() {
  Fcmd.clear();
  Freply.clear();
}

uint8_t TsimXo2::exchange(uint8_t mosi) {
  const size_t idx = Fcmd.size();
  Fcmd.push_back(mosi);
  if (idx == 0) prepareReply(mosi);
  // The reply follows the opcode and its three operand bytes; an idle line reads ones.
  if (idx >= 4 && idx - 4 < Freply.size()) return Freply[idx - 4];
  return 0xFF;
}

void TsimXo2::prepareReply(uint8_t opcode) {
  switch (opcode) {
    case kelvo::CFG_IDCODE_PUB: appendBE(Freply, Fidcode, 4); break;
    case kelvo::CFG_USERCODE: appendBE(Freply, Fusercode, 4); break;
    case kelvo::CFG_LSC_READ_STATUS: appendBE(Freply, status(), 4); break;
    case kelvo::CFG_LSC_READ_FEABITS: appendBE(Freply, Ffeabits, 2); break;
    case kelvo::CFG_LSC_READ_FEATURE: appendBE(Freply, FfeatureRow, 8); break;
    case kelvo::CFG_UIDCODE_PUB: appendBE(Freply, FtraceId, 8); break;
    case kelvo::CFG_LSC_CHECK_BUSY:
      ++FbusyPolls;
      Freply.push_back(busy() ? 0x80 : 0x00);
      if (!FbusyForever && FbusyLeft > 0) --FbusyLeft;
      break;
    default: break;
  }
}

void TsimXo2::end() {
  if (!Fcmd.empty()) execute();
  Fcmd.clear();
}

bool TsimXo2::needsConfigMode() {
  if (Fmode != CM_USER) return true;
  ++Frejected;
  FerrorCode = ERR_CMD;
  return false;
}

void TsimXo2::setMode(TcfgMode m) {
  const bool leavingOffline = Fmode == CM_OFFLINE && m != CM_OFFLINE;
  Fmode = m;
  Fapp.setHalted(m == CM_OFFLINE);
  if (leavingOffline) Fapp.powerUp();
}

void TsimXo2::execute() {
  const uint8_t op = Fcmd[0];
  if (isRead(op) || op == kelvo::CFG_ISC_NOOP) return;
  if (busy()) {  // the port ignores commands until the flash is ready
    ++Frejected;
    return;
  }
  const size_t dataLen = Fcmd.size() > 4 ? Fcmd.size() - 4 : 0;
  switch (op) {
    case kelvo::CFG_ISC_ENABLE: setMode(CM_OFFLINE); break;
    case kelvo::CFG_ISC_ENABLE_X: setMode(CM_TRANSPARENT); break;
    case kelvo::CFG_ISC_DISABLE: setMode(CM_USER); break;
    case kelvo::CFG_LSC_REFRESH: refresh(); break;
    case kelvo::CFG_ISC_ERASE: {
      if (!needsConfigMode()) return;
      const uint8_t what = Fcmd.size() > 1 ? Fcmd[1] : 0;
      if (what & ERASE_FLASH) {
        Fflash.clear();
        FpowerUpImage = false;
        FflashDone = false;
        Fusercode = 0;
      }
      if (what & ERASE_FEATURE) {
        Ffeabits = 0;
        FfeatureRow = 0;
      }
      if ((what & ERASE_SRAM) && Fmode == CM_OFFLINE) {
        Fconfigured = false;  // a transparent erase leaves the running design alone
        Fapp.setConfigured(false);
      }
      ++Ferases;
      FbusyLeft = FeraseBusyPolls;
      break;
    }
    case kelvo::CFG_LSC_INIT_ADDRESS:
      if (!needsConfigMode()) return;
      FpagePointer = 0;
      break;
    case kelvo::CFG_LSC_PROG_INCR_NV: {
      if (!needsConfigMode()) return;
      const size_t pages = Fcmd.size() > 3 ? Fcmd[3] : 0;
      if (pages == 0 || dataLen != pages * kelvo::CFG_FRAME_SIZE || FpagePointer + pages > MAX_PAGES) {
        ++Frejected;
        return;
      }
      for (size_t p = 0; p < pages; ++p, ++FpagePointer) {
        const size_t at = size_t(FpagePointer) * kelvo::CFG_FRAME_SIZE;
        if (at < Fflash.size()) {  // flash must be erased before it is written again
          Ffail = true;
          ++Frejected;
          continue;
        }
        Fflash.resize(at, 0xFF);
        Fflash.insert(Fflash.end(), Fcmd.begin() + 4 + p * kelvo::CFG_FRAME_SIZE,
                      Fcmd.begin() + 4 + (p + 1) * kelvo::CFG_FRAME_SIZE);
      }
      FbusyLeft = FpageBusyPolls;
      break;
    }
    case kelvo::CFG_ISC_PROGRAM_DONE:
      if (!needsConfigMode()) return;
      FflashDone = true;
      if (!Fflash.empty()) ++FprogramCount;
      break;
    case kelvo::CFG_ISC_PROGRAM_USERCODE:
      if (!needsConfigMode()) return;
      if (dataLen != 4) {
        ++Frejected;
        return;
      }
      Fusercode = static_cast<uint32_t>(readBE(Fcmd, 4, 4));
      ++FusercodeWrites;
      break;
    case kelvo::CFG_LSC_PROG_FEABITS:
      if (!needsConfigMode()) return;
      if (dataLen != 2) {
        ++Frejected;
        return;
      }
      Ffeabits = static_cast<uint16_t>(readBE(Fcmd, 4, 2));
      ++FfeabitsWrites;
      break;
    default: ++Funknown; break;
  }
}

void TsimXo2::takeNonVolatile(const TsimXo2& old) {
  Fidcode = old.Fidcode;
  Fusercode = old.Fusercode;
  Ffeabits = old.Ffeabits;
  FfeatureRow = old.FfeatureRow;
  FbusyForever = old.FbusyForever;
  FpowerUpImage = old.FpowerUpImage;
  FflashDone = old.FflashDone;
  Fflash = old.Fflash;
  Ferases = old.Ferases;
  FprogramCount = old.FprogramCount;
  Frefreshes = old.Frefreshes;
  FusercodeWrites = old.FusercodeWrites;
  FfeabitsWrites = old.FfeabitsWrites;
  Fconfigured = imageValid();  // power-up loads the design from flash
  Ffail = !Fconfigured;
  FerrorCode = Fconfigured ? 0 : ERR_CRC;
  Fapp.setConfigured(Fconfigured);
}

bool TsimXo2::imageValid() const {
  if (!FflashDone) return false;
  if (Fflash.empty()) return FpowerUpImage;
  const size_t frames = Fflash.size() / kelvo::CFG_FRAME_SIZE;
  if (Fidcode == IDCODE_640HC && frames != FRAMES_640HC) return false;
  if (Fidcode == IDCODE_1200HC && frames != FRAMES_1200HC) return false;
  const auto ref = Fenv.Fimages.find(Fidcode);
  return ref == Fenv.Fimages.end() || ref->second == Fflash;
}

void TsimXo2::refresh() {
  ++Frefreshes;
  setMode(CM_USER);
  Fconfigured = imageValid();
  Ffail = !Fconfigured;
  FerrorCode = Fconfigured ? 0 : ERR_CRC;
  Fapp.powerUp();  // a reload restarts the design from its reset state
  Fapp.setConfigured(Fconfigured);
}

uint32_t TsimXo2::status() const {
  uint32_t s = 0;
  if (Fconfigured) s |= 1u << 8;
  if (Fmode != CM_USER) s |= 1u << 9;
  if (busy()) s |= 1u << 12;
  if (Ffail) s |= 1u << 13;
  s |= (FerrorCode & 7u) << 23;
  return s;
}

TfpgaState TsimXo2::state() const {
  TfpgaState s;
  s.Fidcode = Fidcode;
  s.Fusercode = Fusercode;
  s.Ffeabits = Ffeabits;
  s.Fstatus = status();
  s.Fmode = Fmode;
  s.Fconfigured = Fconfigured;
  s.FflashDone = FflashDone;
  s.FpagePointer = FpagePointer;
  s.FpagesProgrammed = static_cast<uint32_t>(Fflash.size() / kelvo::CFG_FRAME_SIZE);
  s.Ferases = Ferases;
  s.FprogramCount = FprogramCount;
  s.Frefreshes = Frefreshes;
  s.FusercodeWrites = FusercodeWrites;
  s.FfeabitsWrites = FfeabitsWrites;
  s.FbusyPolls = FbusyPolls;
  s.FrejectedCommands = Frejected;
  s.FunknownCommands = Funknown;
  s.Fflash = Fflash;
  return s;
}

}  // namespace kelvosim
