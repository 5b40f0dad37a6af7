#include "simcapture.h"

#include "vkchips.h"

namespace kelvosim {

namespace {

constexpr uint32_t COUNT_MASK = 0x3FFFF;
// The counter reads n + 1 - k after k of n bytes (register 14 holds n - 1), the
// way the capture thread's n - counter + 1 reads it back.
constexpr uint32_t COUNT_OFFSET = 2;
constexpr uint8_t DUMMY = 0x00;
constexpr uint8_t FLOATING = 0xFF;

}  // namespace

TsimCapture::TsimCapture(TsimSram& sram, TsimEnv& env) : Fsram(sram), Fenv(env) {
  Frecorder.start(TsimTraffic::quiet());
}

void TsimCapture::powerUp() {
  Fsel = 0;
  for (uint8_t& r : Fregs) r = 0;
  Fcontrol = 0;
  FmemCtrl = kelvo::RC_CSnOff;
  Fsram.select(false);
  FcountReg = 0;
  Fcounter = 0;
  Farmed = false;
  Ffull = false;
  FtargetConnected = false;
  Frecorder.start(TsimTraffic::quiet());
  Frecorded.clear();
  FreadPos = 0;
  Fpipe = 0;
  FportPos = 0;
}

void TsimCapture::setConfigured(bool on) {
  if (on != Fconfigured) powerUp();
  Fconfigured = on;
}

void TsimCapture::setHalted(bool on) { Fhalted = on; }

void TsimCapture::setResetHeld(bool on) {
  if (on) powerUp();
  FresetHeld = on;
}

unsigned TsimCapture::busWidth() const {
  switch (FmemCtrl & 0x0C) {
    case 0x00: return 4;
    case 0x04: return 2;
    case 0x08: return 1;
    default: return 0;
  }
}

void TsimCapture::begin() {
  FfirstByte = true;
  FreadPos = 0;
}

uint8_t TsimCapture::exchange(uint8_t mosi) {
  if (!alive()) return FLOATING;
  uint8_t out = DUMMY;
  const unsigned tag = mosi >> 6;
  if (FfirstByte)
    FfirstByte = false;  // the port answers its first byte with a dummy
  else if (tag == 0)
    out = readNext();
  if (tag == 1) {
    Fsel = mosi & 0x3F;
    FreadPos = 0;
    if (Fsel == kelvo::REG_DATA_PORT) FportPos = 0;
  } else if (tag == 2) {
    writeReg(Fsel, mosi & 0x3F);
  }
  return out;
}

void TsimCapture::writeReg(unsigned reg, unsigned v) {
  switch (reg) {
    case kelvo::REG_CONTROL: writeControl(v); break;
    case kelvo::REG_MEM_CTRL: writeMemCtrl(v); break;
    case kelvo::REG_MEM_DATA: writeMemData(v); break;
    case kelvo::REG_COUNT: FcountReg = ((FcountReg << 6) | v) & COUNT_MASK; break;
    default: Fregs[reg] = static_cast<uint8_t>(v); break;
  }
}

void TsimCapture::writeControl(unsigned v) {
  Fcontrol = static_cast<uint8_t>(v);
  if (v & kelvo::CTL_CONNECT_SET) {
    FtargetConnected = (v & kelvo::CTL_CONNECT) != 0;
    return;
  }
  if (v & kelvo::CTL_CLEAR) {
    Farmed = false;
    Ffull = false;
    Fcounter = (FcountReg + COUNT_OFFSET) & COUNT_MASK;
  }
  if (v & kelvo::CTL_RUN) {
    Farmed = true;
    FrunStart = Fenv.Fnow;
    Frecorder.start(Fenv.Ftraffic);
    Frecorded.clear();
    FportPos = 0;
    ++Fruns;
  }
}

void TsimCapture::writeMemCtrl(unsigned v) {
  FmemCtrl = static_cast<uint8_t>(v);
  const unsigned next = v & 3;
  // Chip select off, or the end of a streaming access, releases the memory.
  if ((v & kelvo::RC_CSnOff) || next == kelvo::RC_NEXT_IDLE) {
    Fsram.select(false);
    return;
  }
  Fsram.select(true);
  if (next == kelvo::RC_NEXT_RD) Fpipe = 0;
}

void TsimCapture::writeMemData(unsigned v) {
  const unsigned w = busWidth();
  if ((FmemCtrl & kelvo::RC_CSnOff) || !(FmemCtrl & kelvo::RC_OEon) || w == 0) return;
  Fsram.clockIn(v & ((1u << w) - 1));
}

void TsimCapture::clockByte(uint8_t b) {
  const unsigned w = busWidth();
  if (!(FmemCtrl & kelvo::RC_OEon) || w == 0) return;
  for (int shift = 8 - static_cast<int>(w); shift >= 0; shift -= static_cast<int>(w))
    Fsram.clockIn((b >> shift) & ((1u << w) - 1));
}

uint8_t TsimCapture::readNext() {
  const unsigned pos = FreadPos++;
  switch (Fsel) {
    case kelvo::REG_MEM_DATA: {
      if ((FmemCtrl & 3) != kelvo::RC_NEXT_RD || !Fsram.selected()) return FLOATING;
      const uint8_t out = Fpipe;
      Fpipe = Fsram.clockOutByte(busWidth());
      return out;
    }
    case kelvo::REG_DATA_PORT: return FportPos < Frecorded.size() ? Frecorded[FportPos++] : 0x00;
    case kelvo::REG_COUNT: return pos < 3 ? static_cast<uint8_t>(Fcounter >> (8 * pos)) : 0x00;
    case kelvo::REG_CONTROL: return pos == 0 ? Fcontrol : 0x00;
    case kelvo::REG_MEM_CTRL: return pos == 0 ? FmemCtrl : 0x00;
    default: return pos == 0 ? Fregs[Fsel] : 0x00;
  }
}

bool TsimCapture::writing() const {
  return (FmemCtrl & kelvo::RC_CSnOff) == 0 && (FmemCtrl & 3) == kelvo::RC_NEXT_WR && Fsram.selected();
}

void TsimCapture::advance() {
  if (!alive() || !Farmed || Ffull) return;
  const uint64_t elapsed = Fenv.Fnow - FrunStart;
  const bool keep = writing();
  uint8_t b = 0;
  // While the memory path is not writing, the bus goes on and its records are lost.
  while (!Ffull && Frecorder.next(elapsed, b)) {
    if (!keep) continue;
    clockByte(b);
    Frecorded.push_back(b);
    if (Fcounter <= COUNT_OFFSET) {
      Ffull = true;  // the 18-bit down counter wraps to all ones: bit 17 reads "full"
      Fcounter = COUNT_MASK;
    } else {
      --Fcounter;
    }
  }
}

TcaptureState TsimCapture::state() const {
  TcaptureState s;
  s.Fcontrol = Fcontrol;
  s.FmemCtrl = FmemCtrl;
  s.FcountReg = FcountReg;
  s.Fcounter = Fcounter;
  s.Farmed = Farmed;
  s.Ffull = Ffull;
  s.Frecorded = Frecorded.size();
  s.FtargetConnected = FtargetConnected;
  s.FsramMode = Fsram.mode();
  s.FsramAddress = Fsram.address();
  s.Fruns = Fruns;
  return s;
}

}  // namespace kelvosim
