// Logic-analyser view of a raw capture: consumes the line-state runs of a raw
// capture (through Traw), produces one byte a sample, D+ on bit 0 and D- on
// bit 1, at a whole number of samples per full-speed bit time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xcheck {

struct TlogicOptions {
  unsigned samplesPerTick = 4;
  // J before tick 0: a logic decoder needs an idle bus to see the first SOP.
  uint32_t leadTicks = 16;
  uint64_t maxSamples = uint64_t(1) << 28;  // a bigger capture is refused
};

// Sample byte of a line state (0 SE0, 1 K, 2 J, 3 SE1) at full speed.
uint8_t lineSample(int state);

// False for a buffer without a valid header or one over maxSamples.
bool logicSamples(const std::vector<uint8_t>& raw, const TlogicOptions& options, std::vector<uint8_t>& samples);

// Sample number of a tick and back; tickOfSample is false off the tick grid.
uint64_t sampleOfTick(uint64_t tick, const TlogicOptions& options);
bool tickOfSample(uint64_t sample, const TlogicOptions& options, uint64_t& tick);

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace xcheck
