// Test helpers: packet rows from short words, and a compact text of a row tree.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "qxwords.h"
#include "vkrows.h"

namespace rowbuild {

// Packet list from words (see qxwords.h).
inline TrowVec makeEvents(const std::string& words) { return qxtest::wordRows(words); }

inline std::string describe(const TrowPtr& row);

inline std::string describeList(const TrowVec& rows) {
  std::string text;
  for (const auto& row : rows) {
    if (!text.empty()) text += ' ';
    text += describe(row);
  }
  return text;
}

inline std::string describe(const TrowPtr& row) {
  return visitRow(
      *row,
      Toverload{
          [](const Treset&) -> std::string { return "R"; }, [](const Tsof&) -> std::string { return "S"; },
          [](const Ttoken& t) {
            const char* name = t.pid == PID_IN ? "IN" : t.pid == PID_OUT ? "OUT" : "SETUP";
            return name + std::to_string(t.addr) + "." + std::to_string(t.endp);
          },
          [](const Tdata& d) {
            const char* name = d.pid == PID_DATA0 ? "D0" : d.pid == PID_DATA1 ? "D1" : d.pid == PID_DATA2 ? "D2" : "DM";
            return name + ("/" + std::to_string(d.data.size()));
          },
          [](const Thandshake& h) -> std::string {
            return h.pid == PID_ACK ? "ACK" : h.pid == PID_NAK ? "NAK" : "STALL";
          },
          [](const TsofGroup& g) { return "G[" + describeList(g.children) + "]"; },
          [](const Ttransax& x) {
            const char* type = x.trxType == TRX_SETUP ? "SETUP" : x.trxType == TRX_IN ? "IN" : "OUT";
            return std::string("X:") + type + "[" + describeList(x.children) + "]";
          },
          [](const Ttransfer& c) { return "C[" + describeList(c.children) + "]"; }},
      std::string("?"));
}

inline size_t countLeaves(const TrowVec& rows) {
  size_t n = 0;
  for (const auto& row : rows) {
    if (auto group = std::dynamic_pointer_cast<Tgrouper>(row))
      n += countLeaves(group->children);
    else
      ++n;
  }
  return n;
}

}  // namespace rowbuild
