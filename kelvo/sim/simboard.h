// One simulated Kelvo board: consumes its device configuration, produces the CP2130,
// the MachXO2 with its capture logic and the SRAM, wired as on the real board.
#pragma once

#include "kelvosim.h"
#include "simbridge.h"
#include "simcapture.h"
#include "simenv.h"
#include "simsram.h"
#include "simxo2.h"

namespace kelvosim {

class TsimBoard {
 public:
  TsimBoard(const TdevConfig& cfg, int device, TsimEnv& env)
      : Fcapture(Fsram, env), Fxo2(cfg, Fcapture, env), Fbridge(cfg, device, Fxo2, Fcapture, env) {}

  TsimSram Fsram;
  TsimCapture Fcapture;
  TsimXo2 Fxo2;
  TsimBridge Fbridge;
};

}  // namespace kelvosim
