// The program's script host (a TdisplData) as the Lua tests drive it: run a
// chunk on its state, decode a row, show row trees as its data set.
#pragma once

#include <lua.hpp>
#include <string>

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
