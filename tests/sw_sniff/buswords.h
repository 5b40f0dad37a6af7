// Test helper: a raw capture from the same short words as rowbuild.h
// (R, S, IN5.0, OUT5.0, SETUP5.0, D0/8, D1/0, D2/1, DM/3, ACK, NAK, STALL),
// coded by the line encoder. Payload bytes follow a seeded pattern.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "lineencoder.h"

namespace buswords {

inline std::vector<TlineEvent> busEvents(const std::string& words, uint32_t seed = 1) {
  std::vector<TlineEvent> out;
  std::istringstream in(words);
  std::string w;
  int frame = 100;
  uint32_t x = seed;
  auto next = [&x]() {
    x = x * 1103515245u + 12345u;
    return static_cast<uint8_t>(x >> 16);
  };
  out.push_back(linegen::idle(20));
  while (in >> w) {
    if (w == "R") {
      out.push_back(linegen::reset(120, 40));
    } else if (w == "S") {
      out.push_back(linegen::sof(frame++ & 0x7FF, 300));
    } else if (w == "ACK" || w == "NAK" || w == "STALL") {
      out.push_back(linegen::handshake(w == "ACK" ? 2 : w == "NAK" ? 10 : 14, 10));
    } else if (w[0] == 'D') {
      const char which = w[1];
      const int pid = which == '0' ? 3 : which == '1' ? 11 : which == '2' ? 7 : 15;
      std::vector<uint8_t> payload(std::stoul(w.substr(w.find('/') + 1)));
      for (auto& b : payload) b = next();
      out.push_back(linegen::data(pid, payload, 6));
    } else {
      const auto digits = w.find_first_of("0123456789");
      const std::string name = w.substr(0, digits);
      const int pid = name == "IN" ? 9 : name == "OUT" ? 1 : 13;
      out.push_back(linegen::token(pid, std::stoi(w.substr(digits)), std::stoi(w.substr(w.find('.') + 1)), 4));
    }
  }
  out.push_back(linegen::idle(20));
  return out;
}

inline std::vector<uint8_t> capture(const std::string& words, uint32_t seed = 1) {
  return linegen::encodeCapture(busEvents(words, seed));
}

}  // namespace buswords
