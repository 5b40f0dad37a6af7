// Raw capture coder: consumes line-state runs (state, ticks), produces the
// byte stream the Kelvo board stores: optional "VARNOKE." and filler, then
// symbol bytes (six K/J states or three states of any kind) and count bytes.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

// Line states, as the raw format codes them.
enum TlineState : int { LS_SE0 = 0, LS_K = 1, LS_J = 2, LS_SE1 = 3 };

// SF_DENSE: six-state bytes wherever they fit; SF_TWOBIT: only three-state
// bytes; SF_MIXED: a seeded choice per byte, and long K/J runs of packets
// sometimes split over bytes instead of counted.
enum TsymbolForm : int { SF_DENSE, SF_TWOBIT, SF_MIXED };
// CF_COMPACT: fewest count bytes; CF_MIXED: seeded variants (a 110ccccc
// first byte, extra 10cccccc groups, empty 0x80 counts).
enum TcountForm : int { CF_COMPACT, CF_MIXED };

struct TrawCoderOptions {
  bool header = true;  // begin with the magic, then `filler` filler bytes
  unsigned filler = 0;
  TsymbolForm symbols = SF_DENSE;
  TcountForm counts = CF_COMPACT;
  uint32_t seed = 1;  // drives the MIXED choices
};

class TrawCoder {
 public:
  explicit TrawCoder(const TrawCoderOptions& options = TrawCoderOptions());

  // Appends a run of `state` for `ticks` ticks (0 adds nothing). A whole run
  // comes out of the reader as exactly one run; SE0 and SE1 runs always are
  // whole, K/J runs only when asked (idle after an end of packet). A run of
  // the same state as the one before joins it. A run is coded when the next
  // different state arrives or on flush(), as the board writes a run when it
  // ends. Runs are capped at 2^32 - 1 ticks.
  void addRun(int state, uint32_t ticks, bool whole);
  // Codes the pending run and closes the open symbol byte. When the last run
  // does not fill that byte it is lengthened, so coding may go on; with
  // exactEnd a last J run (idle) keeps its length and K states fill the
  // byte instead: a packet start cut off, which makes no row as long as
  // nothing follows. Returns the ticks added (0..2).
  uint32_t flush(bool exactEnd = false);

  uint64_t ticks() const { return Fticks; }                   // all ticks added, padding included
  const std::vector<uint8_t>& bytes() const { return Fout; }  // coded, not yet taken
  std::vector<uint8_t> takeBytes();
  uint64_t bytesCoded() const { return Ftaken + Fout.size(); }

 private:
  void place(int state, uint32_t ticks, bool whole);
  void fill(int state, unsigned n);
  void closeByte(uint32_t count);
  void emitSymbols(const int* states, int n, bool sixStates);
  void emitCount(uint32_t count);
  int startCapacity();
  unsigned random(unsigned n) { return static_cast<unsigned>(Frng() % n); }

  TrawCoderOptions Fopt;
  std::mt19937 Frng;
  std::vector<uint8_t> Fout;
  uint64_t Ftaken = 0;
  uint64_t Fticks = 0;
  // The run not yet coded.
  int FpendState = -1;
  uint32_t FpendTicks = 0;
  bool FpendWhole = false;
  // The open symbol byte, earliest state first; 6 while it may still become
  // a six-state byte (K/J of packets only), else 3.
  int Fslots[6] = {};
  int Fused = 0;
  int Fcap = 6;
};
