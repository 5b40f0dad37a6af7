// The decode text read strictly, for the script tests: every item must be
// shown (S or T), and every table row must have exactly one cell per heading,
// so a dropped empty cell shows.
#pragma once

#include <string>
#include <vector>

#include "vkutils.h"

namespace decodeparse {

struct Titem {
  char kind = 0;
  std::string text;  // paragraph text, or table title
  TstringVec headings;
  std::vector<TstringVec> rows;
};

inline bool parseDecodeText(const std::string& text, std::vector<Titem>& items, std::string& why) {
  for (const std::string& piece : utils::split(text, ';')) {
    Titem item;
    item.kind = piece[0];
    if (item.kind == 'S') {
      item.text = piece.substr(1);
      if (item.text.empty()) return why = "empty paragraph", false;
    } else if (item.kind == 'T') {
      const TstringVec lines = utils::split(piece, '\n');
      if (lines.size() < 2) return why = "table without headings: " + piece, false;
      item.text = lines[0].substr(1);
      item.headings = utils::split(lines[1], '#');
      for (size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.find("##") != std::string::npos || line.front() == '#' || line.back() == '#')
          return why = "empty cell in: " + line, false;
        item.rows.push_back(utils::split(line, '#'));
        if (item.rows.back().size() != item.headings.size())
          return why = "cell count differs from headings in: " + line, false;
      }
    } else {
      return why = "item the pane would skip: " + piece, false;
    }
    items.push_back(item);
  }
  return true;
}

struct Tdecoded {
  std::string raw;
  std::vector<Titem> items;

  std::string paragraphs() const {
    std::string all;
    for (const Titem& i : items)
      if (i.kind == 'S') all += i.text + "\n";
    return all;
  }
  const Titem* table(const std::string& title) const {
    for (const Titem& i : items)
      if (i.kind == 'T' && i.text == title) return &i;
    return nullptr;
  }
  // The cells of the first row whose first cell is key, in a titled table.
  TstringVec row(const std::string& title, const std::string& key) const {
    if (const Titem* t = table(title))
      for (const TstringVec& r : t->rows)
        if (!r.empty() && r[0] == key) return r;
    return {};
  }
  std::vector<std::string> titles() const {
    std::vector<std::string> out;
    for (const Titem& i : items)
      if (i.kind == 'T') out.push_back(i.text);
    return out;
  }
};

}  // namespace decodeparse
