// Generators of data stages that real devices could send: every byte shows in
// the decode text of its transfer (as a field, as hex at its offset, or
// counted where a paragraph says it is left out), strings read as sent up to
// bLength, and HID usages are named under the page in force.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "decodeparse.h"
#include "displtest.h"

namespace {

using namespace displtest;
using decodeparse::Tdecoded;
using decodeparse::Titem;

std::string TbyteVec2hex(int v) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", v);
  return text;
}
TbyteVec operator+(TbyteVec a, const TbyteVec& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
TbyteVec setup(int type, int request, int value, int index, int length) {
  return {uint8_t(type), uint8_t(request), uint8_t(value), uint8_t(value >> 8), uint8_t(index), uint8_t(index >> 8),
          uint8_t(length), uint8_t(length >> 8)};
}

// Transfers decoded under the grammar, all shown in one data set.
struct Treads {
  TrowVec rows;
  std::vector<TbyteVec> stages;
  void add(const TbyteVec& request, const TbyteVec& stage) {
    rows.push_back(controlRead(5, request, stage, 64)), stages.push_back(stage);
  }
  template <class Check> void decode(Check check) {
    TdisplHost host(INIT_LUA);
    host.addTrees(rows);
    for (size_t i = 0; i < rows.size(); ++i) {
      Tdecoded d;
      d.raw = host.decode(rows[i]);
      std::string why;
      ASSERT_TRUE(decodeparse::parseDecodeText(d.raw, d.items, why)) << why << "\nin: " << d.raw;
      ASSERT_EQ(d.raw.find("Decode script error"), std::string::npos) << d.raw;
      check(d, stages[i], i);
    }
  }
};

// Marks the stage bytes that a table's rows show, from the descriptor at
// base on: hex rows (which must hold those bytes), a field its one or two
// bytes, bString its units; bit rows, whose first cell is no offset, none.
void markTable(const Titem& t, const TbyteVec& stage, size_t base, size_t size, std::vector<bool>& shown) {
  static const std::set<std::string> words = {"bcdUSB",         "idVendor", "idProduct",         "bcdDevice", "wTotalLength",
                                              "wMaxPacketSize", "bcdHID",   "wDescriptorLength", "wLANGID"};
  static const std::regex hex(R"(^(?:data|bytes) ((?:[0-9a-f]{2}(?: |$))+)(?:\.\.\.)?$)"), dump(R"(^((?:[0-9a-f]{2} )+) )");
  const bool dumped = t.headings.at(1) == "Bytes and ASCII";
  for (const TstringVec& r : t.rows) {
    if (!isdigit(static_cast<unsigned char>(r[0][0]))) continue;
    const size_t off = std::stoul(r[0], nullptr, dumped ? 16 : 10);
    std::smatch m;
    size_t n = 0;
    if (dumped ? std::regex_search(r[1], m, dump) : std::regex_match(r[1], m, hex)) {
      std::istringstream in(m[1].str());
      for (int b; in >> std::hex >> b; ++n) EXPECT_EQ(b, base + off + n < stage.size() ? stage[base + off + n] : -1) << r[1];
    } else if (r[1].rfind("bString ", 0) == 0) {
      n = 2 * std::stoul(r[1].substr(8));
    } else if (r[1].find(" missing") == std::string::npos) {
      n = words.count(r[1].substr(0, r[1].find(' '))) ? 2 : 1;
    }
    ASSERT_LE(off + n, size) << "a row past the descriptor's bytes: " << r[0] << " " << r[1];
    std::fill_n(shown.begin() + base + off, n, true);
  }
}

// Every byte of the stage shows: descriptors are the tables after the
// request's own, one a descriptor in a set, or one for a lone descriptor.
void expectEveryByteShown(const Tdecoded& d, const TbyteVec& stage, bool set) {
  std::vector<std::pair<size_t, size_t>> parts = {{0, stage.size()}};
  if (set) parts.clear();
  for (size_t off = 0; set && off < stage.size() && stage[off] >= 2; off += stage[off])
    parts.emplace_back(off, std::min<size_t>(stage[off], stage.size() - off));
  std::vector<bool> shown(stage.size());
  size_t k = 0;
  for (const Titem& t : d.items)
    if (t.kind == 'T' && t.text != "SETUP request" && t.text != "Stages") {
      ASSERT_LT(k, parts.size()) << d.raw;
      markTable(t, stage, parts[k].first, parts[k].second, shown);
      if (parts[k].second < 4) {
        EXPECT_EQ(t.text.rfind("Endpoint 0x", 0), std::string::npos) << "named by bytes not sent";
      }
      ++k;
    }
  std::smatch m;
  const std::string paragraphs = d.paragraphs();
  if (std::regex_search(paragraphs, m, std::regex(R"(last (\d+) bytes? of the data stage)")))
    std::fill(shown.end() - std::stol(m[1]), shown.end(), true);
  const size_t lost = std::find(shown.begin(), shown.end(), false) - shown.begin();
  EXPECT_EQ(lost, shown.size()) << "byte " << lost << " of " << stage.size() << " not shown in: " << d.raw;
}

std::mt19937 rng(20261209);
TbyteVec randomBytes(size_t n) {
  TbyteVec v(n);
  for (uint8_t& b : v) b = uint8_t(rng());
  return v;
}
TbyteVec descriptor(int kind, size_t len, size_t sent) {
  TbyteVec d = randomBytes(sent);
  if (sent > 0) d[0] = uint8_t(len);
  if (sent > 1) d[1] = uint8_t(kind);
  return d;
}
const int LENGTHS[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 24, 31, 40, 255};

TEST(LuaBytes, EveryByteOfLoneDescriptorsShows) {
  Treads reads;
  std::vector<int> asked;
  for (int kind : {1, 3, 6, 0x21, 0x30})
    for (int len : LENGTHS)
      for (size_t sent : {size_t(len) / 2, size_t(len), size_t(len) + 5, size_t(len) + 2000})
        for (int index : {kind == 3 ? 0 : 1, 1})
          if (sent > 0) {
            const TbyteVec d = descriptor(kind, len, sent);
            const int wLength = index == 1 && len % 3 ? int(sent) : 0xffff;  // the host's cut, or the device's
            reads.add(setup(0x80, 6, kind << 8 | index, 0x0409, wLength), d);
            asked.push_back(wLength);
          }
  reads.decode([&](const Tdecoded& d, const TbyteVec& stage, size_t i) {
    expectEveryByteShown(d, stage, false);
    // Shorter than bLength, of a type decoded field by field (0x21 to the
    // device is no HID descriptor).
    if (stage.size() < stage[0] && stage.size() >= 2 && stage[1] != 0x30 && stage[1] != 0x21) {
      const bool cut = asked[i] == int(stage.size());
      if (cut) {
        EXPECT_EQ(d.raw.find(" missing"), std::string::npos) << "a field said missing that was not asked for";
      }
      EXPECT_EQ(d.paragraphs().find("The host asked for " + std::to_string(stage.size()) + " of its ") != std::string::npos,
                cut) << d.raw;
    }
  });
}

TEST(LuaBytes, EveryByteOfConfigurationAndBosSetsShows) {
  Treads reads;
  for (int header : {2, 7, 15})
    for (int kind = 0; kind < 256; ++kind) {
      TbyteVec set = descriptor(header, header == 15 ? 5 : 9, header == 15 ? 5 : 9);
      for (int len : LENGTHS)
        if (len >= 2) set = set + descriptor(kind, len, len);
      set = set + descriptor(kind, kind & 1, 3);  // a broken bLength, and bytes after it
      const size_t cut = 1 + rng() % set.size();
      const int total = int(rng() % 1200);
      set[2] = uint8_t(total), set[3] = uint8_t(total >> 8);
      reads.add(setup(0x80, 6, header << 8, 0, 0xffff), set);
      const TbyteVec part(set.begin(), set.begin() + cut);
      reads.add(setup(0x80, 6, header << 8, 0, kind & 2 ? int(cut) : 0xff), part);
    }
  reads.decode([](const Tdecoded& d, const TbyteVec& stage, size_t) {
    expectEveryByteShown(d, stage, true);
    const int total = stage.size() >= 4 ? stage[2] | stage[3] << 8 : 0;
    if (total > int(stage.size())) {
      const bool header = stage.size() == (stage[1] == 15 ? 5u : 9u);
      EXPECT_EQ(d.paragraphs().find(stage[1] == 15 ? "5-byte header" : "9-byte header") != std::string::npos,
                header && d.raw.find("all the host asked for") != std::string::npos) << d.raw;
    }
  });
}

// Strings of every kind of code unit, odd lengths, bLength above and below
// the bytes sent: the text reads back to the units up to bLength, and no
// character that draws nothing or reorders the text passes unescaped.
TEST(LuaBytes, StringsReadAsSentUpToBLength) {
  const std::vector<std::pair<char16_t, char16_t>> pools = {
      {0x20, 0x7e}, {0, 0x1f}, {0x7f, 0x9f}, {0xad, 0xad}, {0x37e, 0x37e}, {0x61c, 0x61c}, {0x180e, 0x180e},
      {0x200b, 0x200f}, {0x2028, 0x202e}, {0x2060, 0x2069}, {0xd800, 0xdfff}, {0xfeff, 0xfeff}, {0x3b, 0x3b}, {0x5c, 0x5c}};
  Treads reads;
  std::vector<int> asked;
  for (int i = 0; i < 3000; ++i) {
    TbyteVec d = {0, 3};
    for (size_t n = rng() % 130; n > 0; --n) {
      const auto& pool = pools[rng() % pools.size()];
      const char16_t u = char16_t(pool.first + rng() % (pool.second - pool.first + 1));
      d = d + TbyteVec{uint8_t(u), uint8_t(u >> 8)};
    }
    if (rng() % 2) d.push_back(uint8_t(rng()));                         // an odd length
    d[0] = uint8_t(std::min<size_t>(255, d.size() + rng() % 9) - rng() % 9);  // bLength above or below
    asked.push_back(rng() % 2 ? int(d.size()) : 255);
    reads.add(setup(0x80, 6, 0x0301, 0x0409, asked.back()), d);
  }
  reads.decode([&](const Tdecoded& d, const TbyteVec& stage, size_t i) {
    expectEveryByteShown(d, stage, false);
    std::smatch m;
    const std::string text = d.paragraphs();
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"re(String 1( \(incomplete\))?: "(.*)"\n)re"))) << d.raw;
    EXPECT_EQ(m[1].matched, stage.size() < stage[0]) << d.raw;
    if (m[1].matched) {
      EXPECT_NE(text.find(asked[i] == int(stage.size()) ? "host asked" : "device sent only"), std::string::npos);
    }
    std::u32string chars;
    for (unsigned char c : m[2].str())
      if ((c & 0xc0) == 0x80) chars.back() = chars.back() << 6 | (c & 0x3f);
      else chars += char32_t(c < 0x80 ? c : c < 0xe0 ? c & 0x1f : c < 0xf0 ? c & 0x0f : c & 0x07);
    std::u16string read;
    for (size_t k = 0; k < chars.size(); ++k) {
      const char32_t c = chars[k];
      EXPECT_FALSE(c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0xad || c == 0x61c || c == 0x180e || c == 0xfeff ||
                   (c >= 0x200b && c <= 0x200f) || (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x2069))
          << "unescaped U+" << std::hex << unsigned(c) << " in " << d.raw;
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
    std::u16string sent;
    for (size_t k = 2; k + 1 < std::min<size_t>(stage.size(), stage[0]); k += 2) sent += char16_t(stage[k] | stage[k + 1] << 8);
    EXPECT_EQ(read == sent, true) << d.raw;
  });
}

// HID report descriptors of random items, longer than the table: the text
// says how many bytes and items from which item on it leaves out.
TEST(LuaBytes, ReportDescriptorsCountWhatTheTableLeavesOut) {
  Treads reads;
  for (int i = 0; i < 200; ++i) {
    TbyteVec d;
    for (const size_t bytes = 700 + rng() % 800; d.size() < bytes;) {
      const uint8_t prefix = uint8_t(rng()), size = uint8_t(prefix == 0xfe ? rng() % 20 : 0);
      d = d + (prefix == 0xfe ? TbyteVec{prefix, size} : TbyteVec{prefix}) +
          randomBytes(prefix == 0xfe ? size + 1u : (prefix & 3) == 3 ? 4 : prefix & 3);
    }
    reads.add(setup(0x81, 6, 0x2200, 0, int(d.size())), d);
  }
  reads.decode([](const Tdecoded& d, const TbyteVec& stage, size_t) {
    std::smatch m;
    const std::string text = d.paragraphs();
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(the last (\d+) bytes? of the data stage, (\d+) items? from byte (\d+) on)")))
        << d.raw;
    const size_t from = std::stoul(m[3]);
    size_t item = 0, items = 0, lastRow = 0;
    for (const TstringVec& row : d.table("HID report descriptor")->rows)
      if (isdigit(static_cast<unsigned char>(row[0][0]))) lastRow = std::stoul(row[0]);
    for (size_t off = 0; off < stage.size(); off += 1 + (stage[off] == 0xfe ? stage.at(off + 1) + 2 : (stage[off] & 3) == 3 ? 4 : stage[off] & 3)) {
      if (off < from) item = off;
      items += off >= from;
    }
    EXPECT_EQ(std::stoul(m[1]), stage.size() - from);
    EXPECT_EQ(std::stoul(m[2]), items);
    EXPECT_LE(item, lastRow) << "the item before the left-out ones is in the table";
    EXPECT_LT(lastRow, from);
  });
}

// Usages after Usage Page, Push and Pop against a model of the global page,
// and 4-byte usages under their own page.
TEST(LuaBytes, UsagesAreNamedUnderThePageInForce) {
  const uint16_t pages[] = {0x01, 0x09, 0x0c, 0xff00};
  auto named = [](uint32_t page, uint16_t id) {
    return page == 1 ? std::string(id == 0x30 ? "X" : "Y") : page == 9 ? "Button " + std::to_string(id) : "0x" + std::string(id == 0x30 ? "30" : "31");
  };
  Treads reads;
  std::vector<std::vector<std::string>> expected;
  for (int i = 0; i < 300; ++i) {
    TbyteVec d;
    std::vector<std::string> usages;
    std::vector<uint32_t> stack;
    uint32_t page = 0;
    for (int k = 0; k < 12; ++k) {
      const uint16_t p = pages[rng() % 4], id = rng() % 2 ? 0x30 : 0x31;
      switch (rng() % 5) {
        case 0: d = d + TbyteVec{0x06, uint8_t(p), uint8_t(p >> 8)}, page = p; break;
        case 1: d.push_back(0xa4), stack.push_back(page); break;
        case 2: d.push_back(0xb4), page = stack.empty() ? page : stack.back(); if (!stack.empty()) stack.pop_back(); break;
        case 3: d = d + TbyteVec{0x09, uint8_t(id)}, usages.push_back(page == 0 ? "0x" + std::string(id == 0x30 ? "30" : "31") : named(page, id)); break;
        case 4: d = d + TbyteVec{0x0b, uint8_t(id), 0, uint8_t(p), uint8_t(p >> 8)};
          usages.push_back(p == 0xff00 || p == 0x0c ? (p == 0x0c ? "Consumer 0x00" : "page 0xff00 0x00") + std::string(id == 0x30 ? "30" : "31") : named(p, id));
      }
    }
    reads.add(setup(0x81, 6, 0x2200, 0, int(d.size())), d);
    expected.push_back(usages);
  }
  reads.decode([&](const Tdecoded& d, const TbyteVec&, size_t i) {
    std::vector<std::string> usages;
    const std::vector<TstringVec>& rows = d.table("HID report descriptor")->rows;
    for (size_t r = 0; r < rows.size(); ++r)
      if (rows[r][1] == "Usage") usages.push_back(rows.at(r + 1)[1].substr(1, rows[r + 1][1].size() - 2));
      else if (rows[r][1].rfind("Usage (", 0) == 0) usages.push_back(rows[r][1].substr(7, rows[r][1].size() - 8));
    EXPECT_EQ(usages, expected[i]) << d.raw;
  });
}

// Words that were plainly wrong: intervals out of range, at either speed;
// collection types; Volatile on Input items; wIndex of a string request.
TEST(LuaBytes, IntervalsCollectionsFlagsAndLanguageWordsAreRight) {
  Treads reads;
  for (int hs = 0; hs < 2; ++hs)
    for (int attributes = 0; attributes < 4; ++attributes) {
      TbyteVec set = {9, uint8_t(hs ? 7 : 2), 0, 0, 1, 1, 0, 0x80, 50};
      for (int v = 0; v < 256; ++v) set = set + TbyteVec{7, 5, 0x01, uint8_t(attributes), 64, 0, uint8_t(v)};
      set[2] = uint8_t(set.size()), set[3] = uint8_t(set.size() >> 8);
      reads.add(setup(0x80, 6, hs ? 0x0700 : 0x0200, 0, int(set.size())), set);
    }
  reads.decode([](const Tdecoded& d, const TbyteVec& stage, size_t) {
    const bool hs = stage[1] == 7;
    const int kind = stage[12];
    for (const Titem& t : d.items) {
      if (t.text.rfind("Endpoint", 0) != 0) continue;
      const int v = std::stoi(t.rows.back()[1].substr(10));
      const bool periodic = kind == 1 || (kind == 3 && hs);
      const bool invalid = periodic ? v < 1 || v > 16 : kind == 3 && v == 0;
      EXPECT_EQ(t.rows.back()[1].find("invalid") != std::string::npos, invalid) << t.rows.back()[1];
      const std::string every = v < 4 ? std::to_string(125 << (v - 1)) + " us" : std::to_string(1 << (v - 4)) + " ms";
      const std::string word = periodic ? "every " + every : v ? "NAK rate" : "never NAKs";
      if (hs && !invalid) {
        EXPECT_NE(t.rows.back()[1].find(word), std::string::npos) << t.rows.back()[1];
      }
    }
  });
  Treads words;
  std::vector<TstringVec> expected;  // title, offset, text
  for (int v = 0; v < 256; ++v) {
    const std::string type = v < 7 ? "" : v < 0x80 ? ", reserved" : ", vendor";
    words.add(setup(0x81, 6, 0x2200, 0, 2), {0xa1, uint8_t(v)});
    expected.push_back({"HID report descriptor", "0", "Collection"});
    if (!type.empty()) expected.back()[2] = "Collection (0x" + TbyteVec2hex(v) + type + ")";
    words.add(setup(0x81, 6, 0x2200, 0, 2), {uint8_t(v & 1 ? 0x81 : 0x91), uint8_t(v | 0x80)});
    expected.push_back({"HID report descriptor", "D7", v & 1 ? "reserved, set" : ""});
    words.add(setup(0x80, 6, 0x0300 | v, v & 1 ? 0x0409 : 0, 4), {4, 3, 9, 4});
    expected.push_back({"SETUP request", "4", v == 0   ? "wIndex 0x0000 list of languages"
                                              : v & 1 ? "wIndex 0x0409 English (US)" : "wIndex 0x0000"});
  }
  words.decode([&](const Tdecoded& d, const TbyteVec&, size_t i) {
    const TstringVec row = d.row(expected[i][0], expected[i][1]);
    if (expected[i][2].empty()) {
      EXPECT_NE(d.raw.find("Vol"), std::string::npos) << d.raw;  // an Output item's bit 7
    } else {
      EXPECT_EQ(row.empty() ? "" : row[1].substr(0, expected[i][2].size()), expected[i][2]) << d.raw;
    }
  });
}

}  // namespace
