// Test tool: writes a raw capture file of plausible traffic, or prints the row
// text lines that the engine gives for a raw capture file. The library's
// replay test compares the second against libprobecore's own output.
//   qxrawlines make OUT SEED ROWS
//   qxrawlines lines FILE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qxcapture.h"
#include "vkexthrd.h"
#include "vkrowutils.h"

namespace {

int makeCapture(const char* path, uint32_t seed, size_t rows) {
  TrowVec packets = qxtest::randomRows(seed, rows);
  std::vector<uint8_t> raw = qxtest::captureFromRows(packets);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  return out ? 0 : 1;
}

int printLines(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 1;
  std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TexThread ex;
  ex.startDecode(&raw);
  for (const TlinRow& r : *ex.pLinearRowVec()) std::fputs(rowutils::toString(r.row).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "make") == 0)
    return makeCapture(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0)),
                       std::strtoul(argv[4], nullptr, 0));
  if (argc == 3 && std::strcmp(argv[1], "lines") == 0) return printLines(argv[2]);
  std::fprintf(stderr, "usage: %s make OUT SEED ROWS | lines FILE\n", argv[0]);
  return 2;
}
