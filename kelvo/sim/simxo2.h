// Configuration port of the simulated MachXO2 behind SPI channel 0: consumes sysCONFIG
// command transactions, produces their replies (IDCODE, USERCODE, status, busy,
// feature bits) and the effects on flash, USERCODE and the running design.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvosim.h"
#include "simcapture.h"
#include "simenv.h"

namespace kelvosim {

class TsimXo2 {
 public:
  TsimXo2(const TdevConfig& cfg, TsimCapture& app, TsimEnv& env);

  // One SPI transaction: bytes in, reply bytes out, the command runs at its end.
  void begin();
  uint8_t exchange(uint8_t mosi);
  void end();

  TfpgaState state() const;
  void setIdcode(uint32_t v) { Fidcode = v; }
  void setUsercode(uint32_t v) { Fusercode = v; }
  void setBusyForever(bool on) { FbusyForever = on; }
  // After a power cycle: the flash, USERCODE and feature bits of the board before it.
  void takeNonVolatile(const TsimXo2& old);

 private:
  void prepareReply(uint8_t opcode);
  void execute();
  bool busy() const { return FbusyForever || FbusyLeft > 0; }
  bool needsConfigMode();
  void refresh();
  bool imageValid() const;
  uint32_t status() const;
  void setMode(TcfgMode m);

  TsimCapture& Fapp;
  TsimEnv& Fenv;
  uint32_t Fidcode;
  uint32_t Fusercode;
  uint16_t Ffeabits;
  uint64_t FfeatureRow;
  uint64_t FtraceId;
  bool FbusyForever;
  unsigned FeraseBusyPolls;
  unsigned FpageBusyPolls;

  TcfgMode Fmode = CM_USER;
  bool Fconfigured;
  bool FpowerUpImage;  // flash holds the board's factory image (no page data)
  bool FflashDone;
  bool Ffail = false;
  unsigned FerrorCode = 0;
  unsigned FbusyLeft = 0;
  uint32_t FpagePointer = 0;
  std::vector<uint8_t> Fflash;  // pages programmed since the last erase
  unsigned Ferases = 0;
  unsigned FprogramCount = 0;
  unsigned Frefreshes = 0;
  unsigned FusercodeWrites = 0;
  unsigned FfeabitsWrites = 0;
  unsigned FbusyPolls = 0;
  unsigned Frejected = 0;
  unsigned Funknown = 0;

  std::vector<uint8_t> Fcmd;  // bytes of the current transaction
  std::vector<uint8_t> Freply;
};

}  // namespace kelvosim
