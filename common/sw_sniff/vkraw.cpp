#include "vkraw.h"

#include <climits>

#include "vkboard.h"

namespace {

constexpr int ST_K = 1;
constexpr int ST_J = 2;

// Symbol bytes have top bits 00 or 01; filler, count and stray bytes do not.
inline bool isSymbol(uint8_t b) { return (b & 0x80u) == 0; }
inline bool isCount(uint8_t b) { return static_cast<uint8_t>(b - 0x80u) < 0x60u; }

// A run must stay a positive int even when count bytes code up to 2^32 - 1
// further ticks; the five other symbols of a byte may still join it.
constexpr uint32_t MAX_COUNT = INT_MAX - 6;

template <class TbyteRuns>
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

// The states of each byte that holds only K and J, in time order as bits
// (bit 0 earliest, 1 for J) with the latest state repeated into the high
// bits, so that sign extension lengthens it; and their number, 0 for any
// other byte.
struct TkjByte {
  int8_t bits;
  uint8_t n;
};

constexpr std::array<TkjByte, 256> makeKjBytes() {
  std::array<TkjByte, 256> table{};
  for (unsigned b = 0; b < 128; ++b) {
    const bool six = b < 64;
    const int n = six ? 6 : 3;
    unsigned bits = 0;
    bool kj = true;
    for (int i = 0; i < n; ++i) {  // symbol 0 is the latest
      const unsigned s = six ? (((b >> i) & 1u) ? 2u : 1u) : (b >> (2 * i)) & 3u;
      kj = kj && (s == 1 || s == 2);
      bits |= (s == 2 ? 1u : 0u) << (n - 1 - i);
    }
    if (bits & (1u << (n - 1))) bits |= 0xFFu << n;
    if (kj) table[b] = TkjByte{static_cast<int8_t>(bits & 0xFFu), static_cast<uint8_t>(n)};
  }
  return table;
}

constexpr std::array<TkjByte, 256> KJ_BYTES = makeKjBytes();

// The value of a count byte as the first of its count, where 10cccccc and
// 110ccccc both weigh 1; 0 for any other byte.
constexpr std::array<uint8_t, 256> makeOneCount() {
  std::array<uint8_t, 256> table{};
  for (unsigned c = 0x80; c < 0xE0; ++c) {
    const uint8_t b = static_cast<uint8_t>(c);
    table[c] = static_cast<uint8_t>(kelvo::isCountStart(b) ? kelvo::countStartValue(b) : kelvo::countMoreValue(b));
  }
  return table;
}

constexpr std::array<uint8_t, 256> ONE_COUNT = makeOneCount();

inline uint64_t lowMask(size_t k) { return k >= 64 ? ~uint64_t(0) : (uint64_t(1) << k) - 1; }

// Reads the count bytes from ix on, leaving ix on the first byte after them.
uint32_t countAt(const uint8_t* data, uint64_t size, uint64_t& ix) {
  uint32_t count = 0;
  uint32_t weight = 1;
  while (ix < size) {
    const uint8_t c = data[ix];
    if (kelvo::isCountStart(c)) {
      weight = 1;
      count += kelvo::countStartValue(c) * weight;
    } else if (kelvo::isCountMore(c)) {
      count += kelvo::countMoreValue(c) * weight;
    } else {
      break;
    }
    weight *= kelvo::COUNT_WEIGHT;
    ++ix;
  }
  return count > MAX_COUNT ? MAX_COUNT : count;
}

// Sets the bits from `from` up to `to`: a run of J states.
void setOnes(uint64_t* words, size_t from, size_t to) {
  for (size_t i = from; i < to;) {
    const size_t off = i & 63;
    const size_t k = to - i < 64 - off ? to - i : 64 - off;
    words[i >> 6] |= lowMask(k) << off;
    i += k;
  }
}

// Appends the n states of a byte whose latest state a long count lengthens.
__attribute__((noinline)) void putLongRun(uint64_t* words, size_t at, int8_t bits, size_t n, size_t extra) {
  const size_t off = at & 63;
  const uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(bits)) & lowMask(n);
  words[at >> 6] |= v << off;
  words[(at >> 6) + 1] |= (v >> 1) >> (off ^ 63);
  if (bits < 0) setOnes(words, at + n, at + n + extra);
}

}  // namespace

// Worked out once, as every byte of a capture needs its runs.
const std::array<Traw::TbyteRuns, 128> Traw::BYTE_RUNS = makeByteRuns<Traw::TbyteRuns>();

Traw::Traw(const std::vector<uint8_t>& raw) : Fdata(raw.data()), Fsize(raw.size()) { FheaderOK = checkHeader(); }

bool Traw::checkHeader() {
  if (Fsize < kelvo::RAW_MAGIC_SIZE) return false;
  for (unsigned i = 0; i < kelvo::RAW_MAGIC_SIZE; ++i)
    if (Fdata[i] != static_cast<uint8_t>(kelvo::RAW_MAGIC[i])) return false;
  FreadIx = kelvo::RAW_MAGIC_SIZE;
  while (FreadIx < Fsize && !isSymbol(Fdata[FreadIx])) ++FreadIx;
  return FreadIx < Fsize;
}

bool Traw::refill() {
  if (!FheaderOK) return false;
  // Only a stray 111xxxxx byte (and counts trailing it) can stand where a
  // symbol byte belongs; it carries no line state, so pass over it.
  while (FreadIx < Fsize && !isSymbol(Fdata[FreadIx])) ++FreadIx;
  if (FreadIx >= Fsize) return false;

  Fruns = BYTE_RUNS[Fdata[FreadIx++]];
  Fcount = FreadIx < Fsize && isCount(Fdata[FreadIx]) ? countAt(Fdata, Fsize, FreadIx) : 0;
  Ftop = Fruns.top;
  return true;
}

size_t Traw::getKJStates(uint64_t* words, size_t at, size_t limit) { return takeKJStates<true>(words, at, limit); }

void Traw::skipKJStates() { takeKJStates<false>(nullptr, 0, 0); }

// What is left of a byte whose first run was taken (the rest of a SYNC,
// mostly) goes in bulk too when it is all K and J.
template <bool KEEP>
bool Traw::takePendingKJ(uint64_t* words, size_t& at, size_t limit) {
  size_t n = 0;
  for (int t = Ftop; t >= 0; --t) {
    if (Fruns.state[t] != ST_K && Fruns.state[t] != ST_J) return false;
    n += static_cast<size_t>(runLength(t));
  }
  if (KEEP) {
    if (n > limit - at) return false;
    for (int t = Ftop; t >= 0; --t) {
      const size_t len = static_cast<size_t>(runLength(t));
      if (Fruns.state[t] == ST_J) setOnes(words, at, at + len);
      at += len;
    }
  }
  Fposition += n;
  Ftop = -1;
  return true;
}

template <bool KEEP>
size_t Traw::takeKJStates(uint64_t* words, size_t at, size_t limit) {
  if (Ftop >= 0 && !takePendingKJ<KEEP>(words, at, limit)) return at;
  if (!FheaderOK || Fsize < 2) return at;
  const uint8_t* const data = Fdata;
  // Below this index a symbol byte and the two bytes after it can be read
  // without a check; the last two bytes are left to refill.
  const uint64_t end = Fsize - 2;
  const size_t start = at;
  uint64_t ix = FreadIx;
  while (ix < end) {
    const TkjByte kj = KJ_BYTES[data[ix]];
    if (kj.n == 0) break;
    // Random payload puts a count byte after about every other symbol
    // byte: take one count byte without a branch on whether it is there.
    const uint8_t c = data[ix + 1];
    uint64_t next = ix + 1 + (isCount(c) ? 1u : 0u);
    size_t extra = ONE_COUNT[c];
    if (isCount(data[next])) {  // a count of several bytes: a long run
      next = ix + 1;
      extra = countAt(data, Fsize, next);
    }
    const size_t n = kj.n + extra;
    if (KEEP) {
      if (n > limit - at) break;
      const size_t off = at & 63;
      const size_t word = at >> 6;
      if (n < 64) {
        // The byte's states, its latest one lengthened by the count.
        const uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(kj.bits)) & ((uint64_t(1) << n) - 1);
        words[word] |= v << off;
        words[word + 1] = (v >> 1) >> (off ^ 63);  // was zero: past the list
      } else {
        putLongRun(words, at, kj.bits, kj.n, extra);
      }
    }
    at += n;
    ix = next;
  }
  FreadIx = ix;
  Fposition += at - start;
  return at;
}
