// Fuzz target of the raw capture reader and packet decoder. The first byte
// is a flag: bit 0 set puts the magic in front of the rest, so the fuzzer
// need not find it; the rest is the capture. The decode must end, keep its
// progress within the buffer and make only packet and reset rows.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vkrawevt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const uint8_t MAGIC[8] = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};
  const bool addMagic = data[0] & 1u;
  // Exactly sized, so that a read past the end is caught.
  std::vector<uint8_t> raw((addMagic ? 8 : 0) + size - 1);
  size_t at = 0;
  if (addMagic)
    for (uint8_t m : MAGIC) raw[at++] = m;
  for (size_t i = 1; i < size; ++i) raw[at++] = data[i];

  TrowVec rows;
  Tevents events(raw);
  uint64_t progress = 0;
  uint64_t last = 0;
  while (events.getNextEvent(rows, progress)) {
    if (progress < last || progress > raw.size()) std::abort();
    last = progress;
  }
  for (const TrowPtr& r : rows)
    if (!r || static_cast<unsigned>(r->kind) > RK_HANDSHAKE) std::abort();
  return 0;
}
