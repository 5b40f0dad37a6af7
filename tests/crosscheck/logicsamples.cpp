#include "logicsamples.h"

#include <cstdio>

#include "vkraw.h"

namespace xcheck {

namespace {

constexpr uint8_t DPLUS = 0x01;
constexpr uint8_t DMINUS = 0x02;

}  // namespace

uint8_t lineSample(int state) {
  switch (state & 3) {
    case 0: return 0;                // SE0
    case 1: return DMINUS;           // K
    case 2: return DPLUS;            // J
    default: return DPLUS | DMINUS;  // SE1
  }
}

bool logicSamples(const std::vector<uint8_t>& raw, const TlogicOptions& options, std::vector<uint8_t>& samples) {
  samples.clear();
  Traw reader(raw);
  if (!reader.headerOK() || options.samplesPerTick == 0) return false;
  const uint64_t spt = options.samplesPerTick;
  uint64_t total = spt * options.leadTicks;
  if (total > options.maxSamples) return false;
  samples.assign(total, lineSample(2));
  TrawItem item;
  while (reader.getItem(item)) {
    const uint64_t n = spt * static_cast<uint64_t>(item.count);
    if (n > options.maxSamples - total) return false;
    total += n;
    samples.insert(samples.end(), n, lineSample(item.val));
  }
  return true;
}

uint64_t sampleOfTick(uint64_t tick, const TlogicOptions& options) {
  return (tick + options.leadTicks) * options.samplesPerTick;
}

bool tickOfSample(uint64_t sample, const TlogicOptions& options, uint64_t& tick) {
  const uint64_t spt = options.samplesPerTick;
  const uint64_t lead = spt * options.leadTicks;
  if (spt == 0 || sample < lead || (sample - lead) % spt != 0) return false;
  tick = (sample - lead) / spt;
  return true;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace xcheck
