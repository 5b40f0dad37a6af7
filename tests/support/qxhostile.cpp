#include "qxhostile.h"

#include <zlib.h>

namespace qxhostile {

bool writeHugeDataStage(const std::string& path, int packets, size_t bytesPerPacket) {
  // The lines of one ACKed transaction at level 1.
  auto transax = [](const char* type, int tokenPid, int dataPid, const std::string& data) {
    return std::string("  1;T:") + type + ";X:3\n    2;K:" + std::to_string(tokenPid) +
           ";TI:0;AD:0;EP:0;5P:00;TL:0\n    2;D:" + std::to_string(dataPid) + ";TI:0;DA:" + data +
           ";6P:0000;TL:0\n    2;H:2;TI:0;TL:0\n";
  };
  std::string payload = "00";
  for (size_t i = 1; i < bytesPerPacket; ++i) payload += ",00";
  const std::string head =
      "0;C:CONTROL;X:" + std::to_string(packets + 2) + "\n" + transax("SETUP", 13, 3, "80,06,00,01,00,00,ff,ff");
  const std::string in = transax("IN", 9, 11, payload), status = transax("OUT", 1, 11, "");
  const size_t length = head.size() + in.size() * static_cast<size_t>(packets) + status.size();

  gzFile f = gzopen(path.c_str(), "wb9");
  if (!f) return false;
  auto put = [f](const std::string& s) { return gzwrite(f, s.data(), unsigned(s.size())) == int(s.size()); };
  bool ok = put("VKFMT01\n" + std::to_string(length) + "\n") && put(head);
  for (int i = 0; ok && i < packets; ++i) ok = put(in);
  ok = ok && put(status);
  return gzclose(f) == Z_OK && ok;
}

}  // namespace qxhostile
