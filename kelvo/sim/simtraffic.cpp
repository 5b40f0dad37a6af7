#include "simtraffic.h"

#include "simscenario.h"
#include "vkboard.h"

namespace kelvosim {

namespace {

// An idle bus: J held, written as one J byte and a count, 2053 ticks a record.
constexpr uint8_t IDLE_RECORD[3] = {0x3F, 0xBF, 0xDF};
constexpr uint64_t IDLE_TICKS = 6 + 63 + 31 * 64;

}  // namespace

TsimTraffic TsimTraffic::quiet() {
  TsimTraffic t;
  t.Fkind = TK_QUIET;
  return t;
}

TsimTraffic TsimTraffic::idle() { return TsimTraffic(); }

TsimTraffic TsimTraffic::stream(std::vector<uint8_t> lineStates) {
  TsimTraffic t;
  t.Fkind = TK_STREAM;
  t.Fstream = std::make_shared<const std::vector<uint8_t>>(std::move(lineStates));
  return t;
}

TsimTraffic TsimTraffic::scenario() {
  TsimTraffic t;
  t.Fkind = TK_SCENARIO;
  return t;
}

const std::vector<uint8_t>* TsimTraffic::bytes() const {
  return Fkind == TK_SCENARIO ? &scenarioBytes() : Fstream.get();
}

size_t recordAt(const uint8_t* p, size_t n, size_t i, uint64_t& ticks) {
  ticks = 0;
  if (i >= n) return 0;
  const uint8_t sym = p[i];
  if (sym & 0x80) return 1;  // filler or a stray count byte: no time of its own
  ticks = (sym & 0x40) ? 3 : 6;
  // Count bytes as the raw reader adds them, in 32-bit arithmetic.
  uint32_t count = 0, weight = 1;
  size_t j = i + 1;
  for (; j < n; ++j) {
    const uint8_t c = p[j];
    if (kelvo::isCountStart(c)) {
      weight = 1;
      count += kelvo::countStartValue(c) * weight;
      weight *= kelvo::COUNT_WEIGHT;
    } else if (kelvo::isCountMore(c)) {
      count += kelvo::countMoreValue(c) * weight;
      weight *= kelvo::COUNT_WEIGHT;
    } else {
      break;
    }
  }
  ticks += count;
  return j - i;
}

void TsimRecorder::start(const TsimTraffic& src) {
  Fsrc = src;
  Fpos = 0;
  FrecEnd = 0;
  FrecEndTick = 0;
  FinIdle = false;
  FidlePos = 3;
}

bool TsimRecorder::openRecord() {
  const std::vector<uint8_t>* s = Fsrc.bytes();
  if (!FinIdle && s && Fpos < s->size()) {
    uint64_t ticks = 0;
    FrecEnd = Fpos + recordAt(s->data(), s->size(), Fpos, ticks);
    FrecEndTick += ticks;
    return true;
  }
  FinIdle = true;
  FidlePos = 0;
  FrecEndTick += IDLE_TICKS;
  return true;
}

bool TsimRecorder::next(uint64_t elapsed, uint8_t& b) {
  if (Fsrc.kind() == TsimTraffic::TK_QUIET) return false;
  const bool open = FinIdle ? FidlePos < 3 : Fpos < FrecEnd;
  if (!open) openRecord();
  if (FrecEndTick > elapsed) return false;
  if (FinIdle) {
    b = IDLE_RECORD[FidlePos++];
  } else {
    b = (*Fsrc.bytes())[Fpos++];
  }
  return true;
}

}  // namespace kelvosim
