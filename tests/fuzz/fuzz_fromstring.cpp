// Fuzz target: the row text line reader on arbitrary bytes, then the writer on
// what it read. Whatever the line, a row read from it must write a line that
// reads back cleanly to the same line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vkrowutils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  const std::string original = line;
  TrowPtr row = rowutils::fromString(line);
  if (line != original) std::abort();  // the reader must not change its input
  if (!row) return 0;
  const std::string written = rowutils::toString(row);
  if (written.empty() || written.back() != '\n') std::abort();
  // A negative level writes a line that starts with '-', which is no row.
  if (row->level < 0) return 0;
  std::string again = written.substr(0, written.size() - 1);
  TrowPtr back = rowutils::fromString(again);
  if (!back || !back->ok || back->kind != row->kind || rowutils::toString(back) != written) std::abort();
  return 0;
}
