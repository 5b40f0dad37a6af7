// Test helper: a raw capture from the same short words as rowbuild.h
// (qxwords.h), coded by the line encoder with bus timing: SOF frames count up
// from 100, payload bytes follow a seeded pattern.
#pragma once

#include <string>
#include <vector>

#include "lineencoder.h"
#include "qxcapture.h"
#include "qxwords.h"

namespace buswords {

inline std::vector<TlineEvent> busEvents(const std::string& words, uint32_t seed = 1) {
  int frame = 100;
  uint32_t x = seed;
  auto next = [&x]() {
    x = x * 1103515245u + 12345u;
    return static_cast<uint8_t>(x >> 16);
  };
  TrowVec rows = qxtest::wordRows(words);
  for (const TrowPtr& row : rows) {
    visitRow(*row, Toverload{[](Treset& r) {
                               r.duration = 120;
                               r.idleTicks = 40;
                             },
                             [&frame](Tsof& s) {
                               s.frame = frame++ & 0x7FF;
                               s.idle = 300;
                             },
                             [](Ttoken& t) { t.idle = 4; },
                             [&next](Tdata& d) {
                               for (auto& b : d.data) b = next();
                               d.idle = 6;
                             },
                             [](Thandshake& h) { h.idle = 10; }, [](Tgrouper&) {}});
  }
  std::vector<TlineEvent> out{linegen::idle(20)};
  for (TlineEvent& e : qxtest::eventsFromRows(rows)) out.push_back(std::move(e));
  out.push_back(linegen::idle(20));
  return out;
}

inline std::vector<uint8_t> capture(const std::string& words, uint32_t seed = 1) {
  return linegen::encodeCapture(busEvents(words, seed));
}

}  // namespace buswords
