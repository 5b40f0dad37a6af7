// Test helpers: packet rows from short words, and a compact text of a row tree.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "vkrows.h"

namespace rowbuild {

// Packet list from words: R (reset), S (SOF), IN5.0 / OUT5.0 / SETUP5.0
// (token on address 5 endpoint 0), D0/8 (DATA0, 8 bytes; D1, D2, DM = DATA1,
// DATA2, MDATA), ACK, NAK, STALL.
inline TrowVec makeEvents(const std::string& words) {
  TrowVec events;
  std::istringstream in(words);
  std::string w;
  uint64_t tick = 0;
  while (in >> w) {
    TrowPtr row;
    if (w == "R") {
      row = std::make_shared<Treset>();
    } else if (w == "S") {
      auto sof = std::make_shared<Tsof>();
      sof->pid = 5;
      row = sof;
    } else if (w == "ACK" || w == "NAK" || w == "STALL") {
      auto hs = std::make_shared<Thandshake>();
      hs->pid = w == "ACK" ? 2 : w == "NAK" ? 10 : 14;
      row = hs;
    } else if (w[0] == 'D') {
      auto data = std::make_shared<Tdata>();
      const char which = w[1];
      data->pid = which == '0' ? 3 : which == '1' ? 11 : which == '2' ? 7 : 15;
      data->data.assign(std::stoul(w.substr(w.find('/') + 1)), 0xA5);
      row = data;
    } else {
      auto token = std::make_shared<Ttoken>();
      const auto digits = w.find_first_of("0123456789");
      const std::string name = w.substr(0, digits);
      token->pid = name == "IN" ? 9 : name == "OUT" ? 1 : 13;
      token->addr = std::stoi(w.substr(digits));
      token->endp = std::stoi(w.substr(w.find('.') + 1));
      row = token;
    }
    row->tick = tick++;
    events.push_back(row);
  }
  return events;
}

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
  return visitRow(*row, Toverload{
      [](const Treset&) -> std::string { return "R"; },
      [](const Tsof&) -> std::string { return "S"; },
      [](const Ttoken& t) {
        const char* name = t.pid == PID_IN ? "IN" : t.pid == PID_OUT ? "OUT" : "SETUP";
        return name + std::to_string(t.addr) + "." + std::to_string(t.endp);
      },
      [](const Tdata& d) {
        const char* name = d.pid == PID_DATA0 ? "D0" : d.pid == PID_DATA1 ? "D1" : d.pid == PID_DATA2 ? "D2" : "DM";
        return name + ("/" + std::to_string(d.data.size()));
      },
      [](const Thandshake& h) -> std::string { return h.pid == PID_ACK ? "ACK" : h.pid == PID_NAK ? "NAK" : "STALL"; },
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
