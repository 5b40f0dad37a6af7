// Generators of data stages that real devices could send: every byte shows in
// the decode text of its transfer, strings read as sent up to bLength, and
// HID items read under the globals in force.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>

#include "displtest.h"

namespace {

using namespace displtest;
using decodeparse::Tdecoded;
using decodeparse::Titem;

std::mt19937 rng(20261209);
TbyteVec randomBytes(size_t n) {
  TbyteVec v(n);
  for (uint8_t& b : v) b = uint8_t(rng());
  return v;
}
// The first sent bytes of a descriptor of that type and bLength.
TbyteVec descriptor(int type, size_t length, size_t sent) {
  TbyteVec d = randomBytes(sent);
  if (sent > 0) d[0] = uint8_t(length);
  if (sent > 1) d[1] = uint8_t(type);
  return d;
}
std::string hex2(int v) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", v);
  return text;
}
const int LENGTHS[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 24, 31, 40, 255};

// A read of the stage in packets of 64, and its check.
void fetch(Tcapture& c, const TbyteVec& request, const TbyteVec& stage, Tcapture::Tcheck check) {
  c.add(controlRead(5, request, stage, 64), std::move(check));
}

// Descriptors alone, shorter and longer than bLength, and sets of every type,
// cut anywhere: every byte shows. A cut by the host's wLength says so, and so
// does (only) a reply of the header alone where wTotalLength asks for more.
TEST(LuaBytes, EveryByteOfLoneDescriptorsAndSetsShows) {
  Tcapture reads;
  for (int kind : {1, 3, 6, 0x21, 0x30})
    for (int len : LENGTHS)
      for (size_t sent : {size_t(len) / 2, size_t(len), size_t(len) + 5, size_t(len) + 2000})
        for (int index : {kind == 3 ? 0 : 1, 1}) {
          if (sent == 0) continue;
          const TbyteVec stage = descriptor(kind, len, sent);
          const bool cut = index == 1 && len % 3;  // by the host's wLength, else by the device
          fetch(reads, setup(0x80, 6, kind << 8 | index, 0x0409, cut ? int(sent) : 0xffff), stage, [=](auto& d) {
            expectEveryByteShown(d, stage, false);
            // of a type read field by field (0x21 to the device is no HID descriptor)
            if (sent >= size_t(len) || sent < 2 || kind == 0x30 || kind == 0x21) return;
            EXPECT_FALSE(cut && has(d.raw, " missing")) << "a field said missing that was not asked for";
            EXPECT_EQ(has(d.paragraphs(), "The host asked for " + std::to_string(sent) + " of its "), cut);
          });
        }
  for (int header : {2, 7, 15})
    for (int kind = 0; kind < 256; ++kind) {
      const size_t head = header == 15 ? 5 : 9;
      TbyteVec set = descriptor(header, head, head);
      for (int len : LENGTHS)
        if (len >= 2) set = set + descriptor(kind, len, len);
      set = set + descriptor(kind, kind & 1, 3);  // a broken bLength, and bytes after it
      const size_t cut = 1 + rng() % set.size();
      const int total = int(rng() % 1200);
      set[2] = uint8_t(total), set[3] = uint8_t(total >> 8);
      for (int part = 0; part < 2; ++part) {
        const TbyteVec stage(set.begin(), set.begin() + (part ? cut : set.size()));
        fetch(reads, setup(0x80, 6, header << 8, 0, !part ? 0xffff : kind & 2 ? int(cut) : 0xff), stage, [=](auto& d) {
          expectEveryByteShown(d, stage, true);
          EXPECT_TRUE(stage.size() < 4 || total <= int(stage.size()) ||
                      has(d.paragraphs(), std::to_string(head) + "-byte header") ==
                          (stage.size() == head && has(d.raw, "all the host asked for")));
        });
      }
    }
  reads.check();
}

// Strings of every kind of code unit, odd lengths, bLength above and below
// the bytes sent: the text reads back to the units up to bLength, and no
// character that draws nothing or reorders the text passes unescaped.
TEST(LuaBytes, StringsReadAsSentUpToBLength) {
  struct {
    char16_t first, last;
    bool hidden;  // draws nothing, reorders or breaks the text: must be escaped
  } const pools[] = {{0x20, 0x7e, 0},     {0, 0x1f, 1},          {0x7f, 0x9f, 1},       {0xad, 0xad, 1},
                     {0x37e, 0x37e, 0},   {0x61c, 0x61c, 1},     {0x180e, 0x180e, 1},   {0x200b, 0x200f, 1},
                     {0x2028, 0x202e, 1}, {0x2060, 0x2069, 1},   {0xd800, 0xdfff, 0},   {0xfeff, 0xfeff, 1},
                     {0x3b, 0x3b, 0},     {0x5c, 0x5c, 0}};
  Tcapture reads;
  for (int i = 0; i < 3000; ++i) {
    TbyteVec stage = {0, 3};
    for (size_t n = rng() % 130; n > 0; --n) {
      const auto& pool = pools[rng() % std::size(pools)];
      stage = stage + le16(pool.first + rng() % (pool.last - pool.first + 1));
    }
    if (rng() % 2) stage.push_back(uint8_t(rng()));                                   // an odd length
    stage[0] = uint8_t(std::min<size_t>(255, stage.size() + rng() % 9) - rng() % 9);  // bLength above or below
    const bool cut = rng() % 2;                                                       // by the host's wLength
    fetch(reads, setup(0x80, 6, 0x0301, 0x0409, cut ? int(stage.size()) : 255), stage, [=](auto& d) {
      expectEveryByteShown(d, stage, false);
      std::smatch m;
      const std::string text = d.paragraphs();
      ASSERT_TRUE(std::regex_search(text, m, std::regex(R"re(String 1( \(incomplete\))?: "(.*)"\n)re")));
      EXPECT_EQ(m[1].matched, stage.size() < stage[0]);
      EXPECT_TRUE(!m[1].matched || has(text, cut ? "host asked" : "device sent only"));
      std::u32string chars;  // from UTF-8
      for (unsigned char c : m[2].str())
        if ((c & 0xc0) == 0x80) chars.back() = chars.back() << 6 | (c & 0x3f);
        else chars += char32_t(c < 0x80 ? c : c < 0xe0 ? c & 0x1f : c < 0xf0 ? c & 0x0f : c & 0x07);
      std::u16string read, sent;  // read back with escapes undone; sent up to bLength
      for (size_t k = 0; k < chars.size(); ++k) {
        const char32_t c = chars[k];
        for (const auto& pool : pools)
          EXPECT_FALSE(pool.hidden && c >= pool.first && c <= pool.last) << "unescaped U+" << std::hex << unsigned(c);
        if (c == '\\' && chars.at(k + 1) == 'u') {
          read += char16_t(std::stoul(std::string(chars.begin() + k + 2, chars.begin() + k + 6), nullptr, 16)), k += 5;
        } else if (c == '\\') {
          read += chars.at(++k);
        } else if (c >= 0x10000) {
          read += {char16_t(0xd800 + ((c - 0x10000) >> 10)), char16_t(0xdc00 + ((c - 0x10000) & 0x3ff))};
        } else {
          read += c == 0x37e ? u';' : char16_t(c);
        }
      }
      for (size_t k = 2; k + 1 < std::min<size_t>(stage.size(), stage[0]); k += 2)
        sent += char16_t(stage[k] | stage[k + 1] << 8);
      EXPECT_TRUE(read == sent);
    });
  }
  reads.check();
}

// Report descriptors of random items, longer than the table: it says what it
// leaves out. Usages after Usage Page, Push and Pop, against a model of the
// global page, and 4-byte usages under their own page.
TEST(LuaBytes, ReportDescriptorsCountWhatTheTableLeavesOutAndNameUsagesUnderThePageInForce) {
  Tcapture reads;
  auto itemSize = [](const TbyteVec& d, size_t at) {
    return 1u + (d[at] == 0xfe ? d.at(at + 1) + 2u : (d[at] & 3) == 3 ? 4u : d[at] & 3u);
  };
  for (int i = 0; i < 200; ++i) {
    TbyteVec stage;
    for (const size_t bytes = 700 + rng() % 800; stage.size() < bytes;) {
      const uint8_t prefix = uint8_t(rng());
      const TbyteVec head = prefix == 0xfe ? TbyteVec{prefix, uint8_t(rng() % 20)} : TbyteVec{prefix};
      stage = stage + head + randomBytes(itemSize(head, 0) - head.size());
    }
    fetch(reads, setup(0x81, 6, 0x2200, 0, int(stage.size())), stage, [=](auto& d) {
      std::smatch m;
      const std::string text = d.paragraphs();
      const std::regex said(R"(the last (\d+) bytes? of the data stage, (\d+) items? from byte (\d+) on)");
      ASSERT_TRUE(std::regex_search(text, m, said));
      const size_t from = std::stoul(m[3]);
      size_t item = 0, items = 0, lastRow = 0;
      for (const TstringVec& row : d.table("HID report descriptor")->rows)
        if (isdigit(static_cast<unsigned char>(row[0][0]))) lastRow = std::stoul(row[0]);
      for (size_t off = 0; off < stage.size(); off += itemSize(stage, off)) off < from ? item = off : ++items;
      EXPECT_EQ(std::stoul(m[1]), stage.size() - from);
      EXPECT_EQ(std::stoul(m[2]), items);
      EXPECT_LE(item, lastRow) << "the item before the left-out ones is in the table";
      EXPECT_LT(lastRow, from);
    });
  }
  static const uint16_t PAGES[] = {0x01, 0x09, 0x0c, 0xff00};
  auto named = [](uint32_t page, uint16_t id, bool extended) {
    return page == 1 ? std::string(id == 0x30 ? "X" : "Y")
         : page == 9 ? "Button " + std::to_string(id)
         : !extended ? "0x" + hex2(id)
         : (page == 0x0c ? "Consumer 0x00" : "page 0xff00 0x00") + hex2(id);
  };
  for (int i = 0; i < 300; ++i) {
    TbyteVec stage;
    std::vector<std::string> usages;
    std::vector<uint32_t> stack;
    uint32_t page = 0;
    for (int k = 0; k < 12; ++k) {
      const uint16_t p = PAGES[rng() % 4], id = rng() % 2 ? 0x30 : 0x31;
      switch (rng() % 5) {
        case 0: stage = stage + TbyteVec{0x06} + le16(p), page = p; break;
        case 1: stage.push_back(0xa4), stack.push_back(page); break;
        case 2:
          stage.push_back(0xb4);
          if (!stack.empty()) page = stack.back(), stack.pop_back();
          break;
        case 3: stage = stage + TbyteVec{0x09, uint8_t(id)}, usages.push_back(named(page, id, false)); break;
        case 4: stage = stage + TbyteVec{0x0b, uint8_t(id), 0} + le16(p), usages.push_back(named(p, id, true));
      }
    }
    fetch(reads, setup(0x81, 6, 0x2200, 0, int(stage.size())), stage, [=](auto& d) {
      std::vector<std::string> shown;
      const Titem* table = d.table("HID report descriptor");
      ASSERT_NE(table, nullptr);
      for (size_t r = 0; r < table->rows.size(); ++r) {
        const std::string& cell = table->rows[r][1];
        if (cell == "Usage") shown.push_back(table->rows.at(r + 1)[1].substr(1, table->rows[r + 1][1].size() - 2));
        if (cell.rfind("Usage (", 0) == 0) shown.push_back(cell.substr(7, cell.size() - 8));
      }
      EXPECT_EQ(shown, usages);
    });
  }
  reads.check();
}

// Words that were plainly wrong: intervals out of range, at either speed;
// collection types; Volatile on Input items; wIndex of a string request.
TEST(LuaBytes, IntervalsCollectionsFlagsAndLanguageWordsAreRight) {
  Tcapture sets, words;  // apart: the sets name no interface, so no report descriptor either
  for (int type : {2, 7})  // 7: the other speed, high speed
    for (int kind = 0; kind < 4; ++kind) {
      TbyteVec set = {9, uint8_t(type), 0, 0, 1, 1, 0, 0x80, 50};
      for (int v = 0; v < 256; ++v) set = set + TbyteVec{7, 5, 0x01, uint8_t(kind), 64, 0, uint8_t(v)};
      set[2] = uint8_t(set.size()), set[3] = uint8_t(set.size() >> 8);
      fetch(sets, setup(0x80, 6, type << 8, 0, int(set.size())), set, [=](auto& d) {
        const bool hs = type == 7, periodic = kind == 1 || (kind == 3 && hs);
        for (const Titem& t : d.items) {
          if (t.text.rfind("Endpoint", 0) != 0) continue;
          const std::string cell = t.rows.back()[1];
          const int v = std::stoi(cell.substr(10)), e = std::min(v, 16);
          const bool invalid = periodic ? v < 1 || v > 16 : kind == 3 && v == 0;
          const std::string every = std::to_string(e < 4 ? (125 << e) / 2 : 1 << (e - 4)) + (e < 4 ? " us" : " ms");
          EXPECT_EQ(has(cell, "invalid"), invalid) << cell;
          EXPECT_TRUE(!hs || invalid || has(cell, periodic ? "every " + every : v ? "NAK rate" : "never NAKs")) << cell;
        }
      });
    }
  // the start of the row that tells the value; where none is given, an
  // Output item's bit 7 reads as Volatile
  auto expect = [&](const TbyteVec& request, const TbyteVec& stage, const char* table, const char* key,
                    const std::string& text) {
    fetch(words, request, stage, [=](auto& d) {
      const TstringVec row = d.row(table, key);
      EXPECT_TRUE(text.empty() ? has(d.raw, "Vol") : !row.empty() && row[1].substr(0, text.size()) == text) << text;
    });
  };
  for (int v = 0; v < 256; ++v) {
    const std::string type = v < 0x80 ? ", reserved" : ", vendor";
    expect(setup(0x81, 6, 0x2200, 0, 2), {0xa1, uint8_t(v)}, "HID report descriptor", "0",
           v < 7 ? "Collection" : "Collection (0x" + hex2(v) + type + ")");
    expect(setup(0x81, 6, 0x2200, 0, 2), {uint8_t(v & 1 ? 0x81 : 0x91), uint8_t(v | 0x80)}, "HID report descriptor",
           "D7", v & 1 ? "reserved, set" : "");
    expect(setup(0x80, 6, 0x0300 | v, v & 1 ? 0x0409 : 0, 4), {4, 3, 9, 4}, "SETUP request", "4",
           v == 0 ? "wIndex 0x0000 list of languages" : v & 1 ? "wIndex 0x0409 English (US)" : "wIndex 0x0000");
  }
  sets.check();
  words.check();
}

}  // namespace
