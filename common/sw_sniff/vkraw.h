// Raw capture reader: consumes the raw capture buffer ("VARNOKE.", filler,
// then symbol and count bytes), produces the line-state runs in time order as
// TrawItem records. The buffer is read in place and must outlive the reader.
#pragma once

#include <array>
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
  // Six-state symbol bytes with their states in time order (bit 5 first).
  static const std::array<uint8_t, 64> SIX_STATES;

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
    item.val = Fstates[Ftop];
    item.count = Flengths[Ftop];
    --Ftop;
    Fposition += static_cast<uint64_t>(item.count);
    item.nxtStrt = Fposition;
    return true;
  }
  // Bulk path of the packet decoder: when no run is pending and the next
  // byte holds six K/J states, takes it with its count bytes and gives its
  // states in time order as bits (bit 0 earliest, 1 for J) and the count
  // that lengthens the last one: the states getItem would hand out as runs.
  // False leaves everything as it was.
  bool getSixStates(unsigned& bits, uint32_t& extra) {
    if (Ftop >= 0 || !FheaderOK || FreadIx >= Fsize || (Fdata[FreadIx] & 0xC0u)) return false;
    bits = SIX_STATES[Fdata[FreadIx++]];
    extra = FreadIx < Fsize && (Fdata[FreadIx] & 0x80u) ? readCount() : 0;
    Fposition += 6 + static_cast<uint64_t>(extra);
    return true;
  }
  uint64_t getRawDataIx() const { return FreadIx; }
  uint64_t size() const { return Fsize; }
  bool headerOK() const { return FheaderOK; }

 private:
  bool checkHeader();
  bool refill();
  uint32_t readCount();

  const uint8_t* Fdata;
  uint64_t Fsize;
  uint64_t FreadIx = 0;
  // Runs of the last symbol byte, latest first; Ftop indexes the earliest.
  int Fstates[6] = {};
  int Flengths[6] = {};
  int Ftop = -1;
  bool FheaderOK = false;
  uint64_t Fposition = 0;
};
