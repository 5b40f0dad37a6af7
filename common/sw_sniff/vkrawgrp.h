// Grouping pass: consumes the decoder's flat list of reset and packet rows and
// produces the roots of the row tree (SOF groups, transactions, control
// transfers); rows are shared, only their levels are written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "vkrows.h"

// The open control transfer of one device endpoint.
struct TportInfo {
  std::shared_ptr<Ttransfer> transfer;
};

class TrawTree {
 public:
  // Runs the whole pass; appends to roots without clearing it.
  TrawTree(TrowVec& events, TrowVec& roots);

  // One step from ix; false at the end of events.
  bool getDisplayItem(uint64_t& ix);
  bool doReset(uint64_t& ix);
  bool doSOF(uint64_t& ix);
  bool doSetup(uint64_t& ix);
  bool doIn(uint64_t& ix);
  bool doOut(uint64_t& ix);

  static int getPid(const TrowPtr& row);
  static int portRef(int addr, int endp);

 private:
  bool doInOut(uint64_t& ix, TtrxType type);
  bool keepAsRoot(uint64_t& ix);
  bool atEnd(uint64_t ix) const { return ix >= events.size(); }

  TrowVec& events;
  TrowVec& roots;
  std::map<int, TportInfo> portMap;
};
