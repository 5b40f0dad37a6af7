// Serial SRAM of the simulated board (128 KiB, SPI/SDI/SQI): consumes chip-select
// edges and bus clocks carrying 1, 2 or 4 data bits, produces memory writes and the
// bytes a read command streams out.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvosim.h"

namespace kelvosim {

class TsimSram {
 public:
  TsimSram();

  void select(bool active);  // CS low (true) starts a command, CS high ends it
  bool selected() const { return Fselected; }
  // One clock with the host driving `lines` (bit 0 = SIO0 ... bit 3 = SIO3).
  void clockIn(unsigned lines);
  // Clocks one byte out in the current mode; `width` is the number of data lines
  // the host samples. Outside a read's data phase the lines float (0xFF).
  uint8_t clockOutByte(unsigned hostWidth);

  TsramMode mode() const { return Fmode; }
  uint32_t address() const { return Faddress; }
  std::vector<uint8_t>& memory() { return Fmem; }

 private:
  enum Tphase {
    PH_DESELECTED,
    PH_COMMAND,
    PH_ADDRESS,
    PH_DUMMY,
    PH_WRITE,
    PH_READ,
    PH_MODE_WRITE,
    PH_MODE_READ,
    PH_IGNORE
  };

  unsigned width() const;
  void byteIn(uint8_t b);
  void startCommand(uint8_t cmd);

  std::vector<uint8_t> Fmem;
  TsramMode Fmode = SM_SPI;
  TsramMode FpendingMode;
  bool Fselected = false;
  Tphase Fphase = PH_DESELECTED;
  uint8_t Fcommand = 0;
  unsigned Facc = 0;
  unsigned FaccBits = 0;
  uint32_t Faddress = 0;
  unsigned FaddressBytes = 0;
  uint8_t FmodeReg = 0x40;  // sequential mode
};

}  // namespace kelvosim
