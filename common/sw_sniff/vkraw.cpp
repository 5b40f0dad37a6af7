#include "vkraw.h"

#include <array>
#include <climits>

namespace {

const uint8_t MAGIC[8] = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};

// Symbol bytes have top bits 00 or 01; filler, count and stray bytes do not.
inline bool isSymbol(uint8_t b) { return (b & 0x80u) == 0; }
inline bool isCountStart(uint8_t b) { return (b & 0xC0u) == 0x80u; }
inline bool isCountMore(uint8_t b) { return (b & 0xE0u) == 0xC0u; }

// A run must stay a positive int even when count bytes code up to 2^32 - 1
// further ticks; the five other symbols of a byte may still join it.
constexpr uint32_t MAX_COUNT = INT_MAX - 6;

// The runs of each symbol byte, latest first: equal neighbouring states of
// one byte form one run. Worked out once, as every byte of a capture needs it.
struct TbyteRuns {
  uint8_t state[6];
  uint8_t length[6];
  int top;
};

constexpr std::array<TbyteRuns, 128> makeByteRuns() {
  std::array<TbyteRuns, 128> table{};
  for (unsigned b = 0; b < 128; ++b) {
    uint8_t sym[6] = {};
    int nsym = 0;
    if ((b & 0x40u) == 0) {
      for (int i = 0; i < 6; ++i) sym[i] = ((b >> i) & 1u) ? 2 : 1;  // 0 is K, 1 is J
      nsym = 6;
    } else {
      for (int i = 0; i < 3; ++i) sym[i] = static_cast<uint8_t>((b >> (2 * i)) & 3u);
      nsym = 3;
    }
    TbyteRuns& r = table[b];
    int top = 0;
    r.state[0] = sym[0];
    r.length[0] = 1;
    for (int i = 1; i < nsym; ++i) {
      if (sym[i] != r.state[top]) {
        ++top;
        r.state[top] = sym[i];
        r.length[top] = 0;
      }
      ++r.length[top];
    }
    r.top = top;
  }
  return table;
}

constexpr std::array<TbyteRuns, 128> BYTE_RUNS = makeByteRuns();

constexpr std::array<uint8_t, 64> makeSixStates() {
  std::array<uint8_t, 64> t{};
  for (unsigned b = 0; b < 64; ++b)
    for (int i = 0; i < 6; ++i) t[b] = static_cast<uint8_t>(t[b] | ((b >> i) & 1u) << (5 - i));
  return t;
}

}  // namespace

const std::array<uint8_t, 64> Traw::SIX_STATES = makeSixStates();

Traw::Traw(const std::vector<uint8_t>& raw) : Fdata(raw.data()), Fsize(raw.size()) {
  FheaderOK = checkHeader();
}

bool Traw::checkHeader() {
  if (Fsize < sizeof MAGIC) return false;
  for (unsigned i = 0; i < sizeof MAGIC; ++i)
    if (Fdata[i] != MAGIC[i]) return false;
  FreadIx = sizeof MAGIC;
  while (FreadIx < Fsize && !isSymbol(Fdata[FreadIx])) ++FreadIx;
  return FreadIx < Fsize;
}

uint32_t Traw::readCount() {
  uint32_t count = 0;
  uint32_t weight = 1;
  while (FreadIx < Fsize) {
    const uint8_t c = Fdata[FreadIx];
    if (isCountStart(c)) {
      weight = 1;
      count += (c & 0x3Fu) * weight;
    } else if (isCountMore(c)) {
      count += (c & 0x1Fu) * weight;
    } else {
      break;
    }
    weight *= 64;
    ++FreadIx;
  }
  return count > MAX_COUNT ? MAX_COUNT : count;
}

bool Traw::refill() {
  if (!FheaderOK) return false;
  // Only a stray 111xxxxx byte (and counts trailing it) can stand where a
  // symbol byte belongs; it carries no line state, so pass over it.
  while (FreadIx < Fsize && !isSymbol(Fdata[FreadIx])) ++FreadIx;
  if (FreadIx >= Fsize) return false;

  const TbyteRuns& runs = BYTE_RUNS[Fdata[FreadIx++]];
  const uint32_t count = readCount();
  Ftop = runs.top;
  for (int i = 0; i < 6; ++i) {  // fixed length: no branch on the run count
    Fstates[i] = runs.state[i];
    Flengths[i] = runs.length[i];
  }
  Flengths[0] += static_cast<int>(count);
  return true;
}
