#include "vklow.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "vkxo2_1200dat.h"
#include "vkxo2_640dat.h"

using namespace kelvo;

// Defined only by the generated stand-in images. Weak, so that a maker's image without
// it still links, and reads as a real one.
namespace XO2_640HC {
extern const bool fpgaConfigStandIn __attribute__((weak));
}
namespace XO2_1200HC {
extern const bool fpgaConfigStandIn __attribute__((weak));
}

namespace {

const char* const CFG_ERROR_TEXT[8] = {"No Error",     "ID ERR",    "CMD ERR",      "CRC ERR",
                                       "Preamble ERR", "Abort ERR", "Overflow ERR", "SDM EOF"};
// Status register bits: a design is configured and running; the last configuration failed.
constexpr uint32_t STATUS_DONE = 1u << 8;
constexpr uint32_t STATUS_FAIL = 1u << 13;

TvkLow::Tbytes cmd4(uint8_t aOp, uint8_t a1 = 0, uint8_t a2 = 0, uint8_t a3 = 0) { return {aOp, a1, a2, a3}; }

}  // namespace

// ---- application port ----

bool TvkLow::appWrFpgaAddr(unsigned aReg) {
  TllBuf b;
  b.ta(aReg);
  return appxWrite(b);
}

bool TvkLow::appWrFpgaReg(unsigned aReg, unsigned aValue) {
  TllBuf b;
  b.ta(aReg).td(aValue);
  return appxWrite(b);
}

bool TvkLow::appRdFpgaReg(unsigned aReg, uint8_t& aValue) {
  aValue = 0;
  if (!appWrFpgaAddr(aReg)) return false;
  uint8_t reply[2] = {0, 0};
  bool ok = appxRead(reply, sizeof reply);
  aValue = reply[1];  // byte 0 is the port's dummy
  return ok;
}

// ---- configuration port: transport ----

bool TvkLow::cfgWr(const Tbytes& aBytes) { return cfgxWrite(aBytes.data(), static_cast<uint32_t>(aBytes.size())); }

uint64_t TvkLow::cfgGetReg(const Tbytes& aCmd, unsigned aReplyLen, bool* aOk) {
  Tbytes msg(aCmd);
  msg.resize(aCmd.size() + aReplyLen, 0);
  bool ok = cfgxWriteRead(msg.data(), static_cast<uint32_t>(msg.size()));
  if (aOk) *aOk = ok;
  if (!ok) return 0;
  return getN(Tbytes(msg.end() - aReplyLen, msg.end()));
}

void TvkLow::milliSleep(int aMs) {
  if (aMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(aMs));
}

uint64_t TvkLow::getN(const Tbytes& aBytes) {
  uint64_t v = 0;
  for (uint8_t b : aBytes) v = (v << 8) | b;
  return v;
}

// ---- commands ----

bool TvkLow::enable() {
  bool ok = cfgWr(cmd4(CFG_ISC_ENABLE, 0x08));
  milliSleep(1);
  return ok;
}

bool TvkLow::enableX() {
  bool ok = cfgWr(cmd4(CFG_ISC_ENABLE_X, 0x08));
  milliSleep(1);
  return ok;
}

bool TvkLow::erase() { return cfgWr(cmd4(CFG_ISC_ERASE, 0x05)); }

bool TvkLow::initAddr() { return cfgWr(cmd4(CFG_LSC_INIT_ADDRESS)); }

bool TvkLow::done() {
  bool ok = cfgWr(cmd4(CFG_ISC_PROGRAM_DONE));
  milliSleep(1);
  return ok;
}

bool TvkLow::refresh() {
  bool ok = cfgWr({CFG_LSC_REFRESH, 0x00, 0x00});
  milliSleep(2);
  return ok;
}

bool TvkLow::disableAndBypass() { return cfgWr({CFG_ISC_DISABLE, 0x00, 0x00}) && bypass(); }

bool TvkLow::bypass() { return cfgWr(cmd4(CFG_ISC_NOOP, 0xFF, 0xFF, 0xFF)); }

bool TvkLow::sendRow(const uint8_t* aFrame, bool* aTimedOut) {
  Tbytes msg(4 + FRAME_SIZE, 0);
  msg[0] = CFG_LSC_PROG_INCR_NV;
  msg[3] = 0x01;  // one page
  std::copy(aFrame, aFrame + FRAME_SIZE, msg.begin() + 4);
  bool ok = cfgWr(msg);
  bool idle = waitNotBusy(PAGE_BUSY_LIMIT_MS, aTimedOut);
  return ok && idle;
}

bool TvkLow::setUsercode(uint32_t aCode) {
  TllBuf b;
  b.byte(CFG_ISC_PROGRAM_USERCODE).byte(0).byte(0).byte(0).dwordBE(aCode);
  bool ok = cfgWr(b.buf());
  milliSleep(1);
  return ok;
}

bool TvkLow::setFEAbits(uint16_t aBits) {
  TllBuf b;
  b.byte(CFG_LSC_PROG_FEABITS).byte(0).byte(0).byte(0).wordBE(aBits);
  bool ok = cfgWr(b.buf());
  milliSleep(1);
  return ok;
}

// ---- register reads ----

bool TvkLow::isBusy(bool* aOk) {
  bool ok = false;
  uint64_t v = cfgGetReg(cmd4(CFG_LSC_CHECK_BUSY), 1, &ok);
  if (aOk) *aOk = ok;
  return ok && v != 0;
}

uint32_t TvkLow::getStatusReg(bool* aOk) {
  return static_cast<uint32_t>(cfgGetReg(cmd4(CFG_LSC_READ_STATUS), 4, aOk));
}

uint32_t TvkLow::getIDReg() { return static_cast<uint32_t>(cfgGetReg(cmd4(CFG_IDCODE_PUB), 4)); }

uint64_t TvkLow::getTraceReg() { return cfgGetReg(cmd4(CFG_UIDCODE_PUB), 8); }

uint64_t TvkLow::getFeatureRow() {
  enable();
  uint64_t row = cfgGetReg(cmd4(CFG_LSC_READ_FEATURE), 8);
  disableAndBypass();
  return row;
}

uint16_t TvkLow::getFEAbits() { return static_cast<uint16_t>(cfgGetReg(cmd4(CFG_LSC_READ_FEABITS), 2)); }

uint32_t TvkLow::getUsercode(bool* aOk) { return static_cast<uint32_t>(cfgGetReg(cmd4(CFG_USERCODE), 4, aOk)); }

// ---- update ----

bool TvkLow::waitNotBusy(unsigned aLimitMs, bool* aTimedOut) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(aLimitMs);
  if (aTimedOut) *aTimedOut = false;
  bool ok = true;
  while (isBusy(&ok)) {
    if (Clock::now() >= deadline || (Fcancel && Fcancel->load(std::memory_order_acquire))) {
      if (aTimedOut) *aTimedOut = true;
      return false;
    }
  }
  return ok;
}

int TvkLow::getFPGAmodel() {
  uint32_t id = getIDReg();
  if (id == IDCODE_640HC) return MODEL_640HC;
  if (id == IDCODE_1200HC) return MODEL_1200HC;
  xprintf("\nboard: unknown FPGA IDCODE %08x (expected %08x or %08x)\n", id, IDCODE_640HC, IDCODE_1200HC);
  return MODEL_UNKNOWN;
}

uint32_t TvkLow::showCfgStatus(bool* aOk) {
  const uint32_t s = getStatusReg(aOk);
  xprintf("\n*** status = %08x", s);
  xprintf("  Done=%d, CfgEna=%d, Busy=%d, Fail=%d, FlashCheck=%s  ", (s >> 8) & 1, (s >> 9) & 1, (s >> 12) & 1,
          (s >> 13) & 1, CFG_ERROR_TEXT[(s >> 23) & 7]);
  return s;
}

bool TvkLow::updateFPGAneeded(bool& aNeeded) {
  bool ok = false;
  uint32_t u = getUsercode(&ok);
  if (!ok) return false;
  int model = getFPGAmodel();
  if (model == MODEL_UNKNOWN) return false;
  aNeeded = (u != imageChecksum(model));
  return true;
}

bool TvkLow::exitFPGAupdate(bool aResult) {
  disableAndBypass();
  return aResult;
}

const uint8_t* TvkLow::imageData(int aModel) {
  return aModel == MODEL_1200HC ? XO2_1200HC::fpgaConfigData : XO2_640HC::fpgaConfigData;
}

uint32_t TvkLow::imageFrames(int aModel) {
  return aModel == MODEL_1200HC ? XO2_1200HC::fpgaConfigNumFrames : XO2_640HC::fpgaConfigNumFrames;
}

uint32_t TvkLow::imageChecksum(int aModel) {
  return aModel == MODEL_1200HC ? XO2_1200HC::fpgaConfigChecksum : XO2_640HC::fpgaConfigChecksum;
}

bool TvkLow::imageIsStandIn(int aModel) {
  const bool* mark = aModel == MODEL_1200HC ? &XO2_1200HC::fpgaConfigStandIn : &XO2_640HC::fpgaConfigStandIn;
  return mark != nullptr && *mark;
}

bool TvkLow::updateFPGAinner(bool aForce) {
  const int model = getFPGAmodel();
  if (model == MODEL_UNKNOWN) return exitFPGAupdate(false);

  int errors = errs(enableX());
  bool statusOk = false;
  const uint32_t status = showCfgStatus(&statusOk);
  const bool noDesign = (status & STATUS_DONE) == 0;
  bool ok = false;
  const uint32_t u = getUsercode(&ok);
  if (!ok) return exitFPGAupdate(false);
  const uint32_t checksum = imageChecksum(model);
  // USERCODE outlives a flash image that no longer boots: it names the running
  // design only while there is one. An unread status says nothing either way.
  const bool current = u == checksum && !(statusOk && noDesign);
  if (!aForce && current) return exitFPGAupdate(true);
  // Writing a stand-in would replace the board's capture logic for good, and its
  // checksum in USERCODE would hide that from every later start: keep the design.
  if (imageIsStandIn(model)) {
    // Without a running design the board captures nothing but erased memory.
    if (noDesign) {
      xprintf(
          "\nboard: the FPGA runs no design (status %08x, Done=0, Fail=%d) and the only image at hand is a "
          "stand-in, which is never written\n",
          status, (status & STATUS_FAIL) ? 1 : 0);
      return exitFPGAupdate(false);
    }
    return exitFPGAupdate(true);
  }

  showCfgStatus();
  xprintf("\nreloading FPGA....\n");
  if (getFEAbits() != FEATURE_BITS) setFEAbits(FEATURE_BITS);

  errors += errs(erase());
  bool hung = false;
  // Only an erase that never ends counts here; a lost poll shows up in later steps.
  errors += errs(waitNotBusy(ERASE_BUSY_LIMIT_MS, &hung) || !hung);
  errors += errs(initAddr());

  // A failed frame does not stop the image; an FPGA that stays busy does.
  const uint8_t* frame = imageData(model);
  for (uint32_t i = 0; i < imageFrames(model) && !hung; ++i, frame += FRAME_SIZE) {
    errors += errs(sendRow(frame, &hung));
  }

  errors += errs(done());
  errors += errs(refresh());
  errors += errs(disableAndBypass());
  showCfgStatus();

  errors += errs(enableX());
  // The usercode marks the image as current: never on a flash that took errors.
  if (errors == 0) errors += errs(setUsercode(checksum));
  errors += errs(disableAndBypass());
  showCfgStatus();
  return errors == 0;
}
