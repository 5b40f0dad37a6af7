// Runs a fuzz target over every file of a directory, so that the corpus and
// saved crash inputs stay regression tests in builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <input directory>\n", argv[0]);
    return 2;
  }
  int count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1], ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Exactly sized copy so that a read past the end is caught by ASan.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), buf.get());
    LLVMFuzzerTestOneInput(buf.get(), bytes.size());
    ++count;
  }
  std::printf("%d inputs replayed from %s\n", count, argv[1]);
  return 0;
}
