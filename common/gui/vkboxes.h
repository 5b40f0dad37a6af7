// Display boxes: turns one row into the line of coloured boxes that shows it
// (TdisplayBox records for the row drawing) and into the box string that
// outside callers read. Part of the engine: no toolkit types here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vkcolors.h"
#include "vkrows.h"

// One text line of a box.
class Tboxlet {
 public:
  std::string text;
  uint64_t fg = WHITE;
  uint64_t bg = PURPLE;
};

// One box: empty pixels before it, width in characters (-1 fits the texts),
// lines 1 = top and bottom, 0 = top only at full height.
class TdisplayBox {
 public:
  int gap = 0;
  int width = 7;
  int lines = 1;
  Tboxlet top;
  Tboxlet bottom;
};

using TboxVec = std::vector<TdisplayBox>;

// Builds the boxes of one row at a time; not for use by two threads at once.
// Building a control transfer fills the transfer's data-stage cache.
class Tboxes {
 public:
  // The boxes of a row; valid until the next build on this builder. A
  // transaction adds no more children's boxes once it holds maxBoxes.
  TboxVec* getBoxes(TrowPtr row, size_t maxBoxes = SIZE_MAX);
  void init();
  void genBoxes(TrowPtr row, bool compact, int level);
  void genSetupBoxes(Tdata& data);

  void genLeftBox(uint64_t fg, uint64_t bg, const std::string& text1, const std::string& text2);
  void genLeftBox(uint64_t fg, uint64_t bg, const std::string& text, unsigned n);
  void genLeftPacketBox(unsigned number, uint64_t tick);
  void genResetBox(uint64_t duration, uint64_t tick);
  void genIdleBox(unsigned ticks);
  void genPidBox(int level, int pid);
  void genSimpleBox(const std::string& label, uint64_t fg, uint64_t bg, int n);
  void genFrameBox(int n);
  void genAddrBox(int n);
  void genEndpBox(int n);
  void genSimpleVarBox(const std::string& label, uint64_t fg, uint64_t bg, const std::string& text, int width, int gap);
  void genDataToggleBox(int pid, bool setup);
  void genDataBox(const std::string& label, const std::string& text);
  void genDataBox(const TbyteVec& bytes);
  void genCrcBox(const std::string& label, const std::string& text, bool ok);
  void genCrc5Box(int crc, bool ok);
  void genCrc16Box(int crc, bool ok);
  void genSofGroupBox(const std::string& text);
  void genTransferBox(int level, const std::string& text);
  void genWarning();

  // Nanoseconds with the digits grouped by threes: 12 ticks -> "1 000 ns";
  // empty for MAX_TICK (no time).
  static std::string tickToStr(uint64_t ticks);

  // The box string of a row: "g<gap>,w<width>,t1|s<fg>,<bg>,<text>;" per box, then "\n".
  std::string getBoxesString(TrowPtr row);
  // "0xff" and red, green, blue as two lower-case hex digits each.
  static std::string hexRGB(uint64_t colour);

  TboxVec boxes;

 private:
  void genTransactionBoxes(const Ttransax& trx);
  void genTransferBoxes(Ttransfer& tfr);
  void add2(int gap, int width, const std::string& top, uint64_t fg, uint64_t bg, const std::string& bottom,
            uint64_t bfg = FG_BOT, uint64_t bbg = BG_BOT);
  void add1(int gap, int width, const std::string& text, uint64_t fg, uint64_t bg);

  size_t FmaxBoxes = SIZE_MAX;
};
