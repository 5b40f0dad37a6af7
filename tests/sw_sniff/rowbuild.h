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
  switch (row->kind) {
    case RK_RESET: return "R";
    case RK_SOF: return "S";
    case RK_TOKEN: {
      auto t = std::static_pointer_cast<Ttoken>(row);
      const char* name = t->pid == 9 ? "IN" : t->pid == 1 ? "OUT" : "SETUP";
      return name + std::to_string(t->addr) + "." + std::to_string(t->endp);
    }
    case RK_DATA: {
      auto d = std::static_pointer_cast<Tdata>(row);
      const char* name = d->pid == 3 ? "D0" : d->pid == 11 ? "D1" : d->pid == 7 ? "D2" : "DM";
      return name + ("/" + std::to_string(d->data.size()));
    }
    case RK_HANDSHAKE: {
      const int pid = std::static_pointer_cast<Thandshake>(row)->pid;
      return pid == 2 ? "ACK" : pid == 10 ? "NAK" : "STALL";
    }
    case RK_SOFGROUP: return "G[" + describeList(std::static_pointer_cast<Tgrouper>(row)->children) + "]";
    case RK_TRANSAX: {
      auto x = std::static_pointer_cast<Ttransax>(row);
      const char* type = x->trxType == TRX_SETUP ? "SETUP" : x->trxType == TRX_IN ? "IN" : "OUT";
      return std::string("X:") + type + "[" + describeList(x->children) + "]";
    }
    case RK_TRANSFER: return "C[" + describeList(std::static_pointer_cast<Tgrouper>(row)->children) + "]";
  }
  return "?";
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
