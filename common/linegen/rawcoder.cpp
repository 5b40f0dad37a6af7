#include "rawcoder.h"

#include <algorithm>

#include "vkboard.h"

namespace {

const uint8_t FILLER[6] = {0xFF, 0x80, 0xC0, 0xE0, 0xA5, 0xDF};
constexpr uint32_t MAX_RUN = 0xFFFFFFFFu;

}  // namespace

TrawCoder::TrawCoder(const TrawCoderOptions& options) : Fopt(options), Frng(options.seed) {
  if (Fopt.header) {
    Fout.assign(kelvo::RAW_MAGIC, kelvo::RAW_MAGIC + kelvo::RAW_MAGIC_SIZE);
    for (unsigned i = 0; i < Fopt.filler; ++i) Fout.push_back(FILLER[i % sizeof FILLER]);
  }
  Fcap = startCapacity();
}

int TrawCoder::startCapacity() {
  switch (Fopt.symbols) {
    case SF_TWOBIT: return 3;
    case SF_MIXED: return random(2) ? 6 : 3;
    default: return 6;
  }
}

std::vector<uint8_t> TrawCoder::takeBytes() {
  std::vector<uint8_t> out;
  out.swap(Fout);
  Ftaken += out.size();
  return out;
}

void TrawCoder::addRun(int state, uint32_t ticks, bool whole) {
  if (ticks == 0) return;
  state &= 3;
  if (state == FpendState) {
    const uint32_t room = MAX_RUN - FpendTicks;
    if (ticks > room) ticks = room;
    FpendTicks += ticks;
    FpendWhole = FpendWhole || whole;
  } else {
    if (FpendState >= 0) place(FpendState, FpendTicks, FpendWhole);
    FpendState = state;
    FpendTicks = ticks;
    FpendWhole = whole;
  }
  Fticks += ticks;
}

uint32_t TrawCoder::flush(bool exactEnd) {
  if (FpendState >= 0) place(FpendState, FpendTicks, FpendWhole);
  FpendState = -1;
  FpendTicks = 0;
  if (Fused == 0) return 0;
  if (Fcap == 6 && Fused <= 3) Fcap = 3;
  const int pad = Fcap - Fused;
  const int last = Fslots[Fused - 1];
  fill(exactEnd && last == LS_J ? LS_K : last, static_cast<unsigned>(pad));
  closeByte(0);
  Fticks += static_cast<uint64_t>(pad);
  return static_cast<uint32_t>(pad);
}

void TrawCoder::place(int state, uint32_t ticks, bool whole) {
  const bool threeStates = whole || state == LS_SE0 || state == LS_SE1;
  if (threeStates && Fcap == 6) {
    // A six-state byte holds only splittable K/J, so it may be cut after its
    // third state; the rest opens a three-state byte for this run.
    if (Fused >= 3) {
      emitSymbols(Fslots, 3, false);
      for (int i = 3; i < Fused; ++i) Fslots[i - 3] = Fslots[i];
      Fused -= 3;
    }
    Fcap = 3;
  }
  uint32_t left = ticks;
  for (;;) {
    const unsigned room = static_cast<unsigned>(Fcap - Fused);
    if (left < room) {
      fill(state, left);
      return;
    }
    fill(state, room);
    left -= room;
    const bool split = !threeStates && left > 0 && Fopt.symbols == SF_MIXED && random(3) == 0;
    if (!split) {
      closeByte(left);
      return;
    }
    closeByte(0);
  }
}

void TrawCoder::fill(int state, unsigned n) {
  for (unsigned i = 0; i < n; ++i) Fslots[Fused++] = state;
}

void TrawCoder::closeByte(uint32_t count) {
  emitSymbols(Fslots, Fused, Fcap == 6);
  emitCount(count);
  Fused = 0;
  Fcap = startCapacity();
}

void TrawCoder::emitSymbols(const int* states, int n, bool sixStates) {
  // The earliest state takes the highest symbol index.
  unsigned b = 0;
  if (sixStates) {
    for (int j = 0; j < n; ++j)
      if (states[j] == LS_J) b |= 1u << (n - 1 - j);
  } else {
    b = 0x40;
    for (int j = 0; j < n; ++j) b |= static_cast<unsigned>(states[j] & 3) << (2 * (n - 1 - j));
  }
  Fout.push_back(static_cast<uint8_t>(b));
}

void TrawCoder::emitCount(uint32_t count) {
  const bool mixed = Fopt.counts == CF_MIXED;
  bool first = true;
  if (mixed && random(5) == 0) {
    Fout.push_back(kelvo::countStartByte(0));  // an empty count
    first = false;
  }
  // A group is one 10cccccc byte (weight 1) and 110ccccc bytes of weight
  // 64^k holding five bits each; what one group cannot hold takes another.
  while (count > 0) {
    if (mixed && count > 1 && random(4) == 0) {
      const uint32_t part = 1 + random(std::min<uint32_t>(count - 1, 63));
      Fout.push_back(kelvo::countStartByte(part));
      count -= part;
      first = false;
      continue;
    }
    // Greedy from the highest weight: the largest value one group holds.
    uint32_t digit[6] = {};
    int top = 0;
    while (top < 5 && (count >> (6 * (top + 1))) != 0) ++top;
    uint32_t value = 0;
    for (int k = top; k >= 1; --k) {
      digit[k] = std::min<uint32_t>((count - value) >> (6 * k), 31);
      value += digit[k] << (6 * k);
    }
    digit[0] = std::min<uint32_t>(count - value, 63);
    value += digit[0];
    if (first && mixed && digit[0] < 32 && random(2) == 0)
      Fout.push_back(kelvo::countMoreByte(digit[0]));  // weight starts at 1 anyway
    else
      Fout.push_back(kelvo::countStartByte(digit[0]));
    while (top > 0 && digit[top] == 0) --top;
    for (int k = 1; k <= top; ++k) Fout.push_back(kelvo::countMoreByte(digit[k]));
    count -= value;
    first = false;
  }
}
