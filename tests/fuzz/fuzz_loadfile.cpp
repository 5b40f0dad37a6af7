// Sample-file loader under arbitrary files. The first input byte picks the
// form: odd, the rest is the file as it is (gzip or plain); even, the rest is
// gzip-compressed first, so the fuzzer works on the text itself. A file that
// loads must give a consistent display list and survive a save and a reload.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vkdataio.h"

namespace {

// One temporary file per process, removed at exit.
struct TtempFile {
  std::string path;
  TtempFile() {
    char templ[] = "/tmp/qx_fuzz_loadfile_XXXXXX";
    const int fd = mkstemp(templ);
    if (fd >= 0) close(fd);
    path = templ;
  }
  ~TtempFile() { unlink(path.c_str()); }
};

const std::string& tempPath() {
  static const TtempFile file;
  return file.path;
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size, bool compress) {
  if (compress) {
    gzFile f = gzopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || gzwrite(f, data, static_cast<unsigned>(size)) == static_cast<int>(size);
    return gzclose(f) == Z_OK && ok;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void checkDisplayList(const TlinVec& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    check(rows[i].row != nullptr);
    check(rows[i].row->handle == static_cast<int>(i));
    check(rows[i].row->parent < static_cast<int>(i));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  const std::string& path = tempPath();
  if (!writeFile(path, data + 1, size - 1, (data[0] & 1) == 0)) return 0;

  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  const int count = TdataIO().loadLinearFile(path, roots, rows);
  check(count >= 0);
  check(rows->size() <= static_cast<size_t>(count));
  checkDisplayList(*rows);
  if (rows->empty()) return 0;

  // What loaded once saves and loads again to the same list.
  const std::string again = path + ".again";
  const int saved = TdataIO().saveLinearToFile(rows, again);
  check(saved == static_cast<int>(rows->size()));
  auto roots2 = std::make_shared<TrowVec>();
  auto rows2 = std::make_shared<TlinVec>();
  check(TdataIO().loadLinearFile(again, roots2, rows2) == saved);
  check(rows2->size() == rows->size());
  for (size_t i = 0; i < rows->size(); ++i) {
    check((*rows)[i].flags == (*rows2)[i].flags);
    check((*rows)[i].row->kind == (*rows2)[i].row->kind);
    check((*rows)[i].row->parent == (*rows2)[i].row->parent);
    check((*rows)[i].row->number == (*rows2)[i].row->number);
  }
  std::remove(again.c_str());
  return 0;
}
