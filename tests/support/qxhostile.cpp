#include "qxhostile.h"

#include <zlib.h>

namespace qxtest {

bool writeWideTransaction(const std::string& path, long children) {
  gzFile f = gzopen(path.c_str(), "wb");
  if (!f) return false;
  const std::string head = "0;T:IN;X:" + std::to_string(children) + "\n", ack = "  1;H:2\n";
  const size_t length = head.size() + ack.size() * static_cast<size_t>(children);
  bool ok = gzprintf(f, "VKFMT01\n%zu\n%s", length, head.c_str()) > 0;
  for (long i = 0; ok && i < children; ++i) ok = gzputs(f, ack.c_str()) >= 0;
  return gzclose(f) == Z_OK && ok;
}

}  // namespace qxtest
