// Bus traffic for the capture logic: consumes a line-state stream in the raw capture
// coding (or none at all), produces its bytes one record at a time once simulated bus
// time has passed the end of each record, followed by an idle bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvosim {

class TsimTraffic {
 public:
  enum Tkind { TK_QUIET, TK_IDLE, TK_STREAM, TK_SCENARIO };

  TsimTraffic() = default;
  static TsimTraffic quiet();
  static TsimTraffic idle();
  static TsimTraffic stream(std::vector<uint8_t> lineStates);
  static TsimTraffic scenario();  // the built-in stream, built when a run first needs it

  Tkind kind() const { return Fkind; }
  const std::vector<uint8_t>* bytes() const;

 private:
  Tkind Fkind = TK_IDLE;
  std::shared_ptr<const std::vector<uint8_t>> Fstream;
};

// Length in bytes and duration in ticks of the record that starts at p[i]: a symbol
// byte with its count bytes, or one stray byte that takes no time.
size_t recordAt(const uint8_t* p, size_t n, size_t i, uint64_t& ticks);

// Plays one run of a traffic source from its start.
class TsimRecorder {
 public:
  void start(const TsimTraffic& src);
  // The next byte, when the record it belongs to ended at or before `elapsed`.
  bool next(uint64_t elapsed, uint8_t& b);

 private:
  bool openRecord();

  TsimTraffic Fsrc = TsimTraffic::quiet();
  size_t Fpos = 0;           // next stream byte
  size_t FrecEnd = 0;        // end of the open record in the stream
  uint64_t FrecEndTick = 0;  // bus time at which the open record ends
  bool FinIdle = false;
  unsigned FidlePos = 3;  // next byte of the open idle record (3: none open)
};

}  // namespace kelvosim
