// Raw capture reader: consumes the raw capture buffer ("VARNOKE.", filler,
// then symbol and count bytes), produces the line-state runs in time order as
// TrawItem records. The buffer is read in place and must outlive the reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// One run of one line state: 0 SE0, 1 K, 2 J, 3 SE1.
struct TrawItem {
  int val = 0;
  int count = 0;         // ticks, at least 1
  uint64_t strt = 0;     // tick at which the run starts
  uint64_t nxtStrt = 0;  // strt + count
};

class Traw {
 public:
  explicit Traw(const std::vector<uint8_t>& raw);
  // The buffer is not copied: a temporary would be gone before the first read.
  explicit Traw(std::vector<uint8_t>&&) = delete;

  // The next run, or false at the end of the data (always after a bad header).
  bool getItem(TrawItem& item) {
    if (Ftop < 0 && !refill()) {
      item.strt = Fposition;
      item.nxtStrt = Fposition;
      return false;
    }
    item.strt = Fposition;
    item.val = Fruns.state[Ftop];
    item.count = runLength(Ftop);
    --Ftop;
    Fposition += static_cast<uint64_t>(item.count);
    item.nxtStrt = Fposition;
    return true;
  }
  // Bulk path of the packet decoder: takes the pending runs when they are
  // all K or J, then the following symbol bytes with their counts for as
  // long as they hold only K and J, and appends their states in time order
  // to a bit list, 1 for J: the states getItem would hand out as runs. Bit
  // i of words is state i; the bits from `at` on must be zero, and words
  // must hold limit + 64 bits. Stops before a byte with an SE0 or SE1, one
  // that is no symbol byte, and one whose states would take the list past
  // limit, leaving those to getItem; returns the new length of the list.
  size_t getKJStates(uint64_t* words, size_t at, size_t limit);
  // The same bytes passed over, for a packet whose states are not kept.
  void skipKJStates();
  uint64_t getRawDataIx() const { return FreadIx; }
  uint64_t size() const { return Fsize; }
  bool headerOK() const { return FheaderOK; }

 private:
  bool checkHeader();
  bool refill();
  template <bool KEEP>
  size_t takeKJStates(uint64_t* words, size_t at, size_t limit);
  template <bool KEEP>
  bool takePendingKJ(uint64_t* words, size_t& at, size_t limit);

  // The runs of one symbol byte, latest first: equal neighbouring states
  // form one run. A table holds them for every byte; refill copies one.
  struct TbyteRuns {
    uint8_t state[6];
    uint8_t length[6];
    int top;
  };
  static const std::array<TbyteRuns, 128> BYTE_RUNS;

  // Length of pending run t: the byte's count lengthens run 0.
  int runLength(int t) const {
    return Fruns.length[t] + static_cast<int>(Fcount & (0u - static_cast<uint32_t>(t == 0)));
  }

  const uint8_t* Fdata;
  uint64_t Fsize;
  uint64_t FreadIx = 0;
  // Runs of the last symbol byte and its count; Ftop indexes the earliest
  // run not yet handed out, -1 when none is pending.
  TbyteRuns Fruns{};
  uint32_t Fcount = 0;
  int Ftop = -1;
  bool FheaderOK = false;
  uint64_t Fposition = 0;
};
