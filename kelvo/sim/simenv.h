// What every simulated board shares with the rest of the simulation: consumes the
// set-up chosen by the test, produces the bus time, the traffic source, the reference
// images and the sink of the SPI log.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "kelvosim.h"
#include "simtraffic.h"

namespace kelvosim {

struct TsimEnv {
  uint64_t Fnow = 0;  // bus time in ticks
  TsimTraffic Ftraffic;
  std::map<uint32_t, std::vector<uint8_t>> Fimages;  // IDCODE -> frames accepted at refresh
  bool Flogging = true;
  std::vector<TspiRecord> FspiLog;
};

}  // namespace kelvosim
