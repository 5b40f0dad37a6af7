// A minimal Lua host for the tests: a state with the standard libraries, a
// display row list flattened from row trees, and `getNode` serving that list
// the way the program's script host does.
#pragma once

#include <lua.hpp>

#include <cmath>
#include <string>

#include "vkrowutils.h"

class TtestLuaHost {
 public:
  TtestLuaHost() : L(luaL_newstate()) {
    luaL_openlibs(L);
    lua_pushlightuserdata(L, this);
    lua_pushcclosure(L, &TtestLuaHost::getNodeC, 1);
    lua_setglobal(L, "getNode");
  }
  ~TtestLuaHost() { lua_close(L); }
  TtestLuaHost(const TtestLuaHost&) = delete;
  TtestLuaHost& operator=(const TtestLuaHost&) = delete;

  // Empty text when the chunk loaded and ran, else Lua's message.
  std::string run(const std::string& code) { return finish(luaL_loadstring(L, code.c_str())); }
  std::string runFile(const std::string& path) { return finish(luaL_loadfile(L, path.c_str())); }

  // Appends a tree in pre-order, numbering handles and parents as the
  // display row list does.
  void addTree(const TrowPtr& row, int parent = -1) {
    row->handle = static_cast<int>(rows.size());
    row->parent = parent;
    row->number = static_cast<uint32_t>(rows.size());
    rows.push_back(row);
    if (auto g = std::dynamic_pointer_cast<Tgrouper>(row))
      for (const TrowPtr& child : g->children) addTree(child, row->handle);
  }

  // Serves a display row list as it stands (handles already numbered).
  void adopt(const TlinVec& lin) {
    rows.clear();
    for (const TlinRow& r : lin) rows.push_back(r.row);
  }

  std::string decode(const TrowPtr& row) { return rowutils::doDecode(row, L); }

  lua_State* L;
  TrowVec rows;

 private:
  std::string finish(int status) {
    if (status == LUA_OK) status = lua_pcall(L, 0, 0, 0);
    if (status == LUA_OK) return std::string();
    std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(no message)";
    lua_pop(L, 1);
    return message;
  }

  // As the script host: the argument rounded down; a bad index pushes nothing,
  // so the script gets its own argument back.
  static int getNodeC(lua_State* L) {
    auto* host = static_cast<TtestLuaHost*>(lua_touserdata(L, lua_upvalueindex(1)));
    const double value = std::floor(lua_tonumber(L, -1));
    if (value >= 0 && value < static_cast<double>(host->rows.size()))
      rowutils::setParams(host->rows[static_cast<size_t>(value)], L);
    return 1;
  }
};
