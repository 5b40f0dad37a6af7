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

  // Appends a row tree and flattens all trees anew, as a decode does.
  void addTree(const TrowPtr& root) {
    roots->push_back(root);
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

}  // namespace displtest
