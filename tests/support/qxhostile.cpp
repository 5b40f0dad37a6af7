#include "qxhostile.h"

#include <zlib.h>

#include <algorithm>

#include "vkdataio.h"

namespace qxhostile {

namespace {

// A transaction of a token, a data packet and an ACK.
TrowPtr transaction(TtrxType type, int tokenPid, int dataPid, TbyteVec bytes) {
  auto t = std::make_shared<Ttransax>(type);
  auto token = std::make_shared<Ttoken>();
  auto data = std::make_shared<Tdata>();
  auto ack = std::make_shared<Thandshake>();
  token->pid = tokenPid, data->pid = dataPid, ack->pid = PID_ACK, data->data = std::move(bytes);
  t->children = {token, data, ack};
  t->level = 1;
  for (const TrowPtr& p : t->children) p->level = 2, static_cast<TpacketBase&>(*p).idle = 10;
  return t;
}

// A file of one head line and `count` copies of one row line after it.
bool writeRepeated(const std::string& path, const std::string& head, const std::string& line, long count) {
  gzFile f = gzopen(path.c_str(), "wb");
  if (!f) return false;
  const size_t length = head.size() + line.size() * static_cast<size_t>(count);
  bool ok = gzprintf(f, "VKFMT01\n%zu\n%s", length, head.c_str()) > 0;
  for (long i = 0; ok && i < count; ++i) ok = gzputs(f, line.c_str()) >= 0;
  return gzclose(f) == Z_OK && ok;
}

// A sample-data file of row trees; its row count, 0 on failure.
int writeTrees(const std::string& path, TrowVec trees) {
  auto roots = std::make_shared<TrowVec>(std::move(trees));
  auto rows = std::make_shared<TlinVec>();
  TdataIO io;
  io.treeRootVecToLinVec(roots, rows);
  return io.saveLinearToFile(rows, path);
}

}  // namespace

bool writeTinyRows(const std::string& path, long rows) { return writeRepeated(path, "", "0;H:2\n", rows); }

bool writeWideTransaction(const std::string& path, long children) {
  return writeRepeated(path, "0;T:IN;X:" + std::to_string(children) + "\n", "  1;H:2\n", children);
}

TrowPtr descriptorFloodTransfer() {
  auto t = std::make_shared<Ttransfer>(TFR_CONTROL);
  t->children.push_back(transaction(TRX_SETUP, PID_SETUP, PID_DATA0, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0xff, 0xff}));
  for (int i = 0; i < 1024; ++i) {
    TbyteVec chunk;
    for (int k = 0; k < (i < 1023 ? 32 : 31); ++k) chunk.insert(chunk.end(), {0x02, 0x24});
    t->children.push_back(transaction(TRX_IN, PID_IN, i % 2 ? PID_DATA0 : PID_DATA1, chunk));
  }
  t->children.push_back(transaction(TRX_OUT, PID_OUT, PID_DATA1, {}));
  return t;
}

int writeDescriptorFlood(const std::string& path) { return writeTrees(path, {descriptorFloodTransfer()}); }

int writeControlTransfers(const std::string& path, const std::vector<std::pair<TbyteVec, TbyteVec>>& transfers) {
  TrowVec trees;
  for (const auto& [setup, stage] : transfers) {
    auto t = std::make_shared<Ttransfer>(TFR_CONTROL);
    const bool in = !setup.empty() && (setup[0] & 0x80) != 0;
    t->children.push_back(transaction(TRX_SETUP, PID_SETUP, PID_DATA0, setup));
    int toggle = PID_DATA1;
    for (size_t off = 0; off < stage.size(); off += 64, toggle = toggle == PID_DATA1 ? PID_DATA0 : PID_DATA1)
      t->children.push_back(transaction(in ? TRX_IN : TRX_OUT, in ? PID_IN : PID_OUT, toggle,
                                        TbyteVec(stage.begin() + off, stage.begin() + std::min(off + 64, stage.size()))));
    t->children.push_back(in ? transaction(TRX_OUT, PID_OUT, PID_DATA1, {}) : transaction(TRX_IN, PID_IN, PID_DATA1, {}));
    trees.push_back(t);
  }
  return writeTrees(path, std::move(trees));
}

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
  // DATA1 first, then alternating, or the receiver would drop them as sent again.
  const std::string in[2] = {transax("IN", 9, 11, payload), transax("IN", 9, 3, payload)};
  const std::string status = transax("OUT", 1, 11, "");
  size_t length = head.size() + status.size();
  for (int i = 0; i < packets; ++i) length += in[i % 2].size();

  gzFile f = gzopen(path.c_str(), "wb9");
  if (!f) return false;
  auto put = [f](const std::string& s) { return gzwrite(f, s.data(), unsigned(s.size())) == int(s.size()); };
  bool ok = put("VKFMT01\n" + std::to_string(length) + "\n") && put(head);
  for (int i = 0; ok && i < packets; ++i) ok = put(in[i % 2]);
  ok = ok && put(status);
  return gzclose(f) == Z_OK && ok;
}

}  // namespace qxhostile
