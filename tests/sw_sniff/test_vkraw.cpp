#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "vkraw.h"

namespace {

const std::vector<uint8_t> MAGIC = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};

std::vector<uint8_t> withMagic(const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> raw = MAGIC;
  raw.insert(raw.end(), stream.begin(), stream.end());
  return raw;
}

struct Run {
  int val;
  int count;
};

// Reads every run, checking the time chain on the way.
std::vector<Run> readAll(const std::vector<uint8_t>& raw) {
  Traw reader(raw);
  std::vector<Run> runs;
  TrawItem item;
  uint64_t expectStart = 0;
  while (reader.getItem(item)) {
    EXPECT_EQ(item.strt, expectStart);
    EXPECT_GE(item.count, 1);
    EXPECT_EQ(item.nxtStrt, item.strt + static_cast<uint64_t>(item.count));
    expectStart = item.nxtStrt;
    runs.push_back({item.val, item.count});
    if (runs.size() > raw.size() * 6 + 6) break;  // a loop would not end
  }
  EXPECT_EQ(item.nxtStrt, expectStart);  // a failed read keeps the position
  EXPECT_FALSE(reader.getItem(item));    // and the end stays the end
  if (!runs.empty()) {
    EXPECT_EQ(reader.getRawDataIx(), raw.size());
  }
  return runs;
}

std::string text(const std::vector<Run>& runs) {
  static const char* const NAMES[] = {"SE0", "K", "J", "SE1"};
  std::string s;
  for (const Run& r : runs) s += std::string(s.empty() ? "" : " ") + NAMES[r.val & 3] + ":" + std::to_string(r.count);
  return s;
}

struct StreamCase {
  const char* name;
  std::vector<uint8_t> stream;  // after the magic
  const char* runs;
};

const StreamCase STREAM_CASES[] = {
    {"magic only", {}, ""},
    {"filler only", {0x80, 0xFF, 0xC3, 0xE0}, ""},
    {"six K", {0x00}, "K:6"},
    {"six J", {0x3F}, "J:6"},
    {"latest symbol is bit 0", {0x01}, "K:5 J:1"},
    {"count lengthens symbol 0", {0x01, 0x82}, "K:5 J:3"},
    {"three-state byte", {0x60}, "J:1 SE0:2"},
    {"all four states", {0x4E}, "SE0:1 SE1:1 J:1"},
    {"three equal states", {0x55}, "K:3"},
    {"count 1 + 1x64", {0x00, 0x81, 0xC1}, "K:71"},
    {"second 10 byte restarts the weight", {0x00, 0x81, 0x81}, "K:8"},
    {"count may open with 110", {0x3F, 0xC5}, "J:11"},
    {"three-byte group", {0x40, 0xBF, 0xDF, 0xC1}, "SE0:6146"},
    {"2048 needs a second group", {0x00, 0xBF, 0xDF, 0x81}, "K:2054"},
    {"bytes never merge", {0x00, 0x00}, "K:6 K:6"},
    {"filler before the first symbol", {0xFF, 0x80, 0x00}, "K:6"},
    {"count then next symbol", {0x3E, 0x81, 0x00}, "J:5 K:2 K:6"},
    {"stray 111 byte skipped", {0x00, 0xE5, 0x3F}, "K:6 J:6"},
    {"stray byte's counts skipped too", {0x00, 0xE0, 0x85, 0xC1, 0x3F}, "K:6 J:6"},
    {"stray bytes at the end", {0x01, 0xFF, 0xE0}, "K:5 J:1"},
    {"trailing count at the end", {0x2A, 0x83}, "J:1 K:1 J:1 K:1 J:1 K:4"},
};

TEST(RawReader, StreamForms) {
  for (const auto& c : STREAM_CASES) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(text(readAll(withMagic(c.stream))), c.runs);
  }
}

TEST(RawReader, BadHeadersGiveNoRuns) {
  const std::vector<uint8_t> good = withMagic({0x00, 0x3F});
  ASSERT_EQ(text(readAll(good)), "K:6 J:6");
  struct Case {
    const char* name;
    std::vector<uint8_t> raw;
  } cases[] = {
      {"empty", {}},
      {"seven magic bytes", {'V', 'A', 'R', 'N', 'O', 'K', 'E'}},
      {"lower case", {'v', 'a', 'r', 'n', 'o', 'k', 'e', '.', 0x00}},
      {"no magic at all", {0x00, 0x3F, 0x00, 0x3F, 0x00, 0x3F, 0x00, 0x3F, 0x00}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(readAll(c.raw).empty());
    EXPECT_FALSE(Traw(c.raw).headerOK());
  }
  for (size_t i = 0; i < 8; ++i) {
    std::vector<uint8_t> raw = good;
    raw[i] ^= 0x20;
    EXPECT_TRUE(readAll(raw).empty()) << "magic byte " << i;
  }
}

TEST(RawReader, ReadIndexAndSize) {
  const std::vector<uint8_t> raw = withMagic({0x80, 0xC0, 0x00, 0x81, 0x7F});
  Traw reader(raw);
  EXPECT_EQ(reader.size(), raw.size());
  EXPECT_TRUE(reader.headerOK());
  EXPECT_EQ(reader.getRawDataIx(), 10u);  // on the first symbol byte
  TrawItem item;
  ASSERT_TRUE(reader.getItem(item));
  EXPECT_EQ(reader.getRawDataIx(), 12u);  // symbol and its count
  EXPECT_EQ(item.count, 7);
  ASSERT_TRUE(reader.getItem(item));  // 0x7F: SE1 SE1 SE1
  EXPECT_EQ(item.val, 3);
  EXPECT_EQ(item.count, 3);
  EXPECT_EQ(item.strt, 7u);
  EXPECT_EQ(reader.getRawDataIx(), 13u);
  EXPECT_FALSE(reader.getItem(item));
  EXPECT_EQ(item.strt, 10u);
  EXPECT_EQ(item.nxtStrt, 10u);
}

// Count bytes may code up to 2^32 - 1 ticks; the run stays a positive int
// and the time chain stays exact.
TEST(RawReader, HugeCountsAreCapped) {
  // 2 x 64^5 = 2^31 further ticks.
  const auto runs = readAll(withMagic({0x00, 0x80, 0xC0, 0xC0, 0xC0, 0xC0, 0xC2, 0x3F}));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].count, INT_MAX);
  EXPECT_EQ(text({runs[1]}), "J:6");
  // Wrapping 32-bit arithmetic, as the format defines it: 64^6 weighs 0.
  EXPECT_EQ(text(readAll(withMagic({0x00, 0x80, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0, 0xDF}))), "K:6");
}

}  // namespace
