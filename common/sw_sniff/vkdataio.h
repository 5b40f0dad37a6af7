// Decode pipeline and sample-data files: a raw capture buffer becomes packet
// rows, the row tree and the numbered display rows; display rows are written
// to and rebuilt from a gzip file of row text lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vkrows.h"

struct stat;

// Receives the raw-buffer byte position reached after each decoded event.
using TprogressFn = std::function<void(uint64_t)>;

// Why the last save or load of a TdataIO fell short; none when it did not.
enum class TfileFault {
  none,
  system,        // the system's error, in FfaultErrno
  folderLocked,  // save: the file's folder may not be written to, so it cannot be replaced whole
  notRegular,    // the name is a folder, device, FIFO or socket
  noMemory,      // save: memory ran out before anything was written
  empty,         // load: the file holds no byte
  badHead,       // load: the first two lines are not those of a sample-data file
  cutOff,        // load: the file ends before its length line says, or its gzip data break off
  damaged,       // load: its gzip data fail their check, so the rows read may hold wrong lines
};

class TdataIO {
 public:
  TdataIO();
  ~TdataIO();

  // The three decode steps; each replaces the contents of the vector it fills.
  void rawDataToEventVec(const std::vector<uint8_t>& raw, TrowVecPtr events, TprogressFn progress);
  void eventVecToTreeRootVec(TrowVecPtr events, TrowVecPtr roots);
  void treeRootVecToLinVec(TrowVecPtr roots, TlinVecPtr rows);
  // Appends row and its subtree in pre-order, writing handle, parent, number.
  void treeRow2Linear(const TrowPtr& row, int parent, const TlinVecPtr& rows, uint8_t flags);

  // Rows written, or 0 when the file could not be written completely, also
  // when memory ran out. A save only ever replaces the file whole: what stood
  // at path before stays as it was unless the save succeeds.
  int saveLinearToFile(TlinVecPtr rows, std::string path);
  // Row lines that gave a row, or 0 when the file is missing, is no regular
  // file (never waited on, nor a device opened) or its head is bad.
  // A file that breaks off, also in mid-line, keeps the whole rows before
  // the break and sets cutOff. One whose gzip data fail their check keeps
  // every whole row that inflated, wrong ones among them maybe, and sets damaged.
  // Running out of memory throws std::bad_alloc with the file closed.
  int loadLinearFile(std::string path, TrowVecPtr roots, TlinVecPtr rows);

  // Appends row to the parent list of its level; false (row dropped) when none.
  bool addToParent(TrowPtr row);
  void setParentList(TrowVec* list, int level);

  // Parent lists by level while a file loads; they belong to the tree.
  std::vector<TrowVec*> Fparents;

  // Why the last save or load fell short, and the system's error number.
  TfileFault Ffault = TfileFault::none;
  int FfaultErrno = 0;

  uint32_t resetCount = 0;
  uint32_t packetCount = 0;
  uint32_t transactionCount = 0;
  uint32_t transferCount = 0;
  uint32_t sofGroupCount = 0;

 private:
  // Records why a save or load fell short; returns 0, their result then.
  int fault(TfileFault kind, int err);
  // Saves and loads take regular files only; false, with the fault recorded, for anything else.
  bool regularFile(const struct stat& st);
  int writeFile(const TlinVec& rows, const std::string& path);
};
