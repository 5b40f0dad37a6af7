// The program's script host (a TdisplData) as the Lua tests drive it: run a
// chunk on its state, decode a row, show row trees as its data set.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <lua.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "decodeparse.h"
#include "vkdataio.h"
#include "vkdispldata.h"
#include "vkrowutils.h"

namespace displtest {

// An empty script file: a clean start-up that defines nothing.
constexpr const char* NO_SCRIPTS = "/dev/null";
constexpr const char* INIT_LUA = QX_SOURCE_DIR "/scripts/init.lua";

class TdisplHost {
 public:
  explicit TdisplHost(const char* script = NO_SCRIPTS) : data(script), L(data.luaState()) {}

  // "" when the chunk loaded and ran, else Lua's message.
  std::string run(const std::string& code) {
    int status = luaL_loadstring(L, code.c_str());
    if (status == LUA_OK) status = lua_pcall(L, 0, 0, 0);
    if (status == LUA_OK) return std::string();
    std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(no message)";
    lua_pop(L, 1);
    return message;
  }

  std::string decode(const TrowPtr& row) { return data.doDecode(row); }

  // The decode text read strictly: a script error, or text the pane would not
  // show all of, fails the test.
  decodeparse::Tdecoded read(const TrowPtr& row) {
    decodeparse::Tdecoded d{decode(row), {}};
    std::string why = "script error";
    EXPECT_TRUE(d.raw.find("Decode script error") == std::string::npos &&
                decodeparse::parseDecodeText(d.raw, d.items, why))
        << why << "\nin: " << d.raw;
    return d;
  }

  // Appends row trees and flattens all trees anew, as a decode does.
  void addTree(const TrowPtr& root) { addTrees({root}); }
  void addTrees(const TrowVec& trees) {
    roots->insert(roots->end(), trees.begin(), trees.end());
    auto rows = std::make_shared<TlinVec>();
    TdataIO().treeRootVecToLinVec(roots, rows);
    data.adopt(rows, roots);
  }

  // The rows of the display list, in order.
  TrowVec rows() const {
    TrowVec out;
    for (const TlinRow& r : *data.linRows()) out.push_back(r.row);
    return out;
  }

  TdisplData data;
  lua_State* L;
  TrowVecPtr roots = std::make_shared<TrowVec>();
};

// Rows shown at once, as one capture; check() then reads each row's decode
// and hands it to the row's own check.
struct Tcapture {
  using Tcheck = std::function<void(const decodeparse::Tdecoded&)>;
  void add(const TrowPtr& row, Tcheck check) { rows.push_back(row), checks.push_back(std::move(check)); }
  void check() {
    ASSERT_EQ(host.data.scriptError(), "");
    host.addTrees(rows);
    for (size_t i = 0; i < rows.size(); ++i) {
      const decodeparse::Tdecoded d = host.read(rows[i]);
      SCOPED_TRACE(d.raw);
      checks[i](d);
    }
  }
  TdisplHost host{INIT_LUA};
  TrowVec rows;
  std::vector<Tcheck> checks;
};

// ---- what a decode must show ----

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every byte of the stage shows. The tables after the request's own are its
// descriptors, those of a set one each: a hex row must hold the bytes at its
// offset, a field shows its one or two bytes, bString its units, and bit rows
// (no offset in their first cell) none; a paragraph may count the last bytes.
inline void expectEveryByteShown(const decodeparse::Tdecoded& d, const TbyteVec& stage, bool set) {
  static const std::set<std::string> words = {"bcdUSB",    "idVendor",          "idProduct",
                                              "bcdDevice", "wTotalLength",      "wMaxPacketSize",
                                              "bcdHID",    "wDescriptorLength", "wLANGID"};
  static const std::regex hex(R"(^(?:data|bytes) ((?:[0-9a-f]{2}(?: |$))+)(?:\.\.\.)?$)"),
      dump(R"(^((?:[0-9a-f]{2} )+) )");
  std::vector<std::pair<size_t, size_t>> parts;  // offset and size of each descriptor
  for (size_t off = 0; set && off < stage.size() && stage[off] >= 2; off += stage[off])
    parts.emplace_back(off, std::min<size_t>(stage[off], stage.size() - off));
  if (!set) parts = {{0, stage.size()}};
  std::vector<bool> shown(stage.size());
  size_t k = 0;
  for (const decodeparse::Titem& t : d.items) {
    if (t.kind != 'T' || t.text == "SETUP request" || t.text == "Stages") continue;
    ASSERT_LT(k, parts.size());
    const auto [base, size] = parts[k++];
    EXPECT_TRUE(size >= 4 || t.text.rfind("Endpoint 0x", 0) != 0) << "named by bytes not sent";
    const bool dumped = t.headings.at(1) == "Bytes and ASCII";
    for (const TstringVec& r : t.rows) {
      if (!isdigit(static_cast<unsigned char>(r[0][0]))) continue;
      const size_t off = std::stoul(r[0], nullptr, dumped ? 16 : 10);
      std::smatch m;
      size_t n = 0;
      if (dumped ? std::regex_search(r[1], m, dump) : std::regex_match(r[1], m, hex)) {
        std::istringstream in(m[1].str());
        for (int b; in >> std::hex >> b; ++n) EXPECT_EQ(b, base + off + n < stage.size() ? stage[base + off + n] : -1);
      } else if (r[1].rfind("bString ", 0) == 0) {
        n = 2 * std::stoul(r[1].substr(8));
      } else if (!has(r[1], " missing")) {
        n = words.count(r[1].substr(0, r[1].find(' '))) ? 2 : 1;
      }
      ASSERT_LE(off + n, size) << "a row past the descriptor's bytes: " << r[0] << " " << r[1];
      std::fill_n(shown.begin() + base + off, n, true);
    }
  }
  std::smatch m;
  const std::string paragraphs = d.paragraphs();
  if (std::regex_search(paragraphs, m, std::regex(R"(last (\d+) bytes? of the data stage)")))
    std::fill(shown.end() - std::stol(m[1]), shown.end(), true);
  const size_t lost = std::find(shown.begin(), shown.end(), false) - shown.begin();
  EXPECT_EQ(lost, shown.size()) << "byte " << lost << " of " << stage.size() << " not shown";
}

// ---- bytes ----

inline TbyteVec operator+(TbyteVec a, const TbyteVec& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
inline TbyteVec le16(int v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline TbyteVec setup(int type, int request, int value, int index, int length) {
  return TbyteVec{uint8_t(type), uint8_t(request)} + le16(value) + le16(index) + le16(length);
}

// ---- rows of an enumeration, made by hand ----

inline std::shared_ptr<Ttoken> tok(int pid, int addr, int endp) {
  auto k = std::make_shared<Ttoken>();
  k->pid = pid, k->addr = addr, k->endp = endp, k->level = 2;
  return k;
}

inline std::shared_ptr<Tdata> dat(int pid, TbyteVec bytes) {
  auto d = std::make_shared<Tdata>();
  d->pid = pid, d->data = std::move(bytes), d->level = 2;
  return d;
}

inline std::shared_ptr<Thandshake> hs(int pid) {
  auto h = std::make_shared<Thandshake>();
  h->pid = pid, h->level = 2;
  return h;
}

inline std::shared_ptr<Ttransax> trx(TtrxType type, TrowVec children, int level = 1) {
  auto t = std::make_shared<Ttransax>(type);
  t->level = level;
  t->children = std::move(children);
  return t;
}

// A control read: SETUP, the reply in packets of maxPacket with toggles from
// DATA1, an optional NAK after the first, then the OUT status stage.
inline std::shared_ptr<Ttransfer> controlRead(int addr, TbyteVec setup, const TbyteVec& reply, size_t maxPacket = 8,
                                       bool nakOnce = false) {
  auto t = std::make_shared<Ttransfer>(TFR_CONTROL);
  t->children.push_back(trx(TRX_SETUP, {tok(PID_SETUP, addr, 0), dat(PID_DATA0, std::move(setup)), hs(PID_ACK)}));
  int toggle = PID_DATA1;
  size_t off = 0;
  do {
    const size_t n = std::min(maxPacket, reply.size() - off);
    t->children.push_back(
        trx(TRX_IN,
            {tok(PID_IN, addr, 0), dat(toggle, TbyteVec(reply.begin() + off, reply.begin() + off + n)), hs(PID_ACK)}));
    toggle = toggle == PID_DATA1 ? PID_DATA0 : PID_DATA1;
    off += n;
    if (nakOnce && off == n) t->children.push_back(trx(TRX_IN, {tok(PID_IN, addr, 0), hs(PID_NAK)}));
  } while (off < reply.size());
  t->children.push_back(trx(TRX_OUT, {tok(PID_OUT, addr, 0), dat(PID_DATA1, {}), hs(PID_ACK)}));
  return t;
}

// A request without data stage: SETUP, then the IN status stage.
inline std::shared_ptr<Ttransfer> controlNoData(int addr, TbyteVec setup) {
  auto t = std::make_shared<Ttransfer>(TFR_CONTROL);
  t->children.push_back(trx(TRX_SETUP, {tok(PID_SETUP, addr, 0), dat(PID_DATA0, std::move(setup)), hs(PID_ACK)}));
  t->children.push_back(trx(TRX_IN, {tok(PID_IN, addr, 0), dat(PID_DATA1, {}), hs(PID_ACK)}));
  return t;
}

}  // namespace displtest
