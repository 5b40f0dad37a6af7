#include "simsram.h"

#include "vkchips.h"

namespace kelvosim {

namespace {

constexpr uint32_t ADDRESS_MASK = kelvo::CAPTURE_MEMORY - 1;

unsigned modeWidth(TsramMode m) { return m == SM_SQI ? 4 : m == SM_SDI ? 2 : 1; }

}  // namespace

TsimSram::TsimSram() : Fmem(kelvo::CAPTURE_MEMORY, 0xFF), FpendingMode(SM_SPI) {}

unsigned TsimSram::width() const { return modeWidth(Fmode); }

void TsimSram::select(bool active) {
  if (active == Fselected) return;
  Fselected = active;
  Facc = 0;
  FaccBits = 0;
  if (active) {
    Fphase = PH_COMMAND;
  } else {
    Fphase = PH_DESELECTED;
    Fmode = FpendingMode;  // I/O mode commands take effect when CS rises
  }
}

void TsimSram::clockIn(unsigned lines) {
  if (!Fselected || Fphase == PH_READ || Fphase == PH_MODE_READ) return;
  const unsigned w = width();
  Facc = (Facc << w) | (lines & ((1u << w) - 1));
  FaccBits += w;
  if (FaccBits < 8) return;
  const uint8_t b = static_cast<uint8_t>(Facc);
  Facc = 0;
  FaccBits = 0;
  byteIn(b);
}

void TsimSram::byteIn(uint8_t b) {
  switch (Fphase) {
    case PH_COMMAND: startCommand(b); break;
    case PH_ADDRESS:
      Faddress = (Faddress << 8) | b;
      if (++FaddressBytes == 3) {
        Faddress &= ADDRESS_MASK;
        if (Fcommand == kelvo::Q_CMD_WRITE)
          Fphase = PH_WRITE;
        else
          Fphase = Fmode == SM_SPI ? PH_READ : PH_DUMMY;
      }
      break;
    case PH_DUMMY: Fphase = PH_READ; break;
    case PH_WRITE:
      Fmem[Faddress] = b;
      Faddress = (Faddress + 1) & ADDRESS_MASK;
      break;
    case PH_MODE_WRITE:
      FmodeReg = b;
      Fphase = PH_IGNORE;
      break;
    default: break;
  }
}

void TsimSram::startCommand(uint8_t cmd) {
  Fcommand = cmd;
  Fphase = PH_IGNORE;
  switch (cmd) {
    case kelvo::Q_CMD_READ:
    case kelvo::Q_CMD_WRITE:
      Faddress = 0;
      FaddressBytes = 0;
      Fphase = PH_ADDRESS;
      break;
    case kelvo::Q_CMD_EQIO: FpendingMode = SM_SQI; break;
    case kelvo::Q_CMD_EDIO: FpendingMode = SM_SDI; break;
    case kelvo::Q_CMD_RSTIO: FpendingMode = SM_SPI; break;
    case kelvo::Q_CMD_RDMR: Fphase = PH_MODE_READ; break;
    case kelvo::Q_CMD_WRMR: Fphase = PH_MODE_WRITE; break;
    default: break;
  }
}

uint8_t TsimSram::clockOutByte(unsigned hostWidth) {
  if (!Fselected) return 0xFF;
  if (Fphase == PH_DUMMY) {  // nobody drives during the dummy cycles
    Fphase = PH_READ;
    return 0xFF;
  }
  if (Fphase == PH_MODE_READ) return FmodeReg;
  if (Fphase != PH_READ) return 0xFF;
  const uint8_t b = Fmem[Faddress];
  Faddress = (Faddress + 1) & ADDRESS_MASK;
  // A host sampling another number of lines than the memory drives sees noise.
  return hostWidth == width() ? b : 0xFF;
}

}  // namespace kelvosim
