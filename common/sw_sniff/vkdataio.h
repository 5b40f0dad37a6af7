// Decode pipeline and sample-data files: a raw capture buffer becomes packet
// rows, the row tree and the numbered display rows; display rows are written
// to and rebuilt from a gzip file of row text lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vkrows.h"

// Receives the raw-buffer byte position reached after each decoded event.
using TprogressFn = std::function<void(uint64_t)>;

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

  // Rows written, or 0 when the file could not be written completely.
  int saveLinearToFile(TlinVecPtr rows, std::string path);
  // Row lines that gave a row, or 0 when the file is missing or its head is bad.
  int loadLinearFile(std::string path, TrowVecPtr roots, TlinVecPtr rows);

  // Appends row to the parent list of its level; false (row dropped) when none.
  bool addToParent(TrowPtr row);
  void setParentList(TrowVec* list, int level);

  // Parent lists by level while a file loads; they belong to the tree.
  std::vector<TrowVec*> Fparents;

  uint32_t resetCount = 0;
  uint32_t packetCount = 0;
  uint32_t transactionCount = 0;
  uint32_t transferCount = 0;
  uint32_t sofGroupCount = 0;
};
