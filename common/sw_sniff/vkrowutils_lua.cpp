// Lua half of vkrowutils: the row table a script sees and the decode call.
// Everything that can raise a Lua error runs inside one protected call, and the
// frames Lua may unwind through hold no C++ objects with destructors.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <lua.hpp>

#include "vkrowutils.h"

namespace rowutils {

namespace {

// Indexed by row kind; the SOF group has a built-in text instead.
const char* const DECODE_FUNCTION[8] = {
    "reset_decode",     "sof_decode", "token_decode",       "data_decode",
    "handshake_decode", nullptr,      "transaction_decode", "transfer_decode",
};

// A hostile file can hold a data stage of 100 MB: one decode call (its row's
// table and every getNode table its script asks for) is handed at most this
// many entries, TABLE_FIELDS a table and one per payload byte or child. A real
// control transfer of 64 KB with all its packets needs well under half of it.
constexpr lua_Integer DECODE_TABLE_BUDGET = lua_Integer(1) << 18;
// One payload table holds at most this many bytes; a full-speed packet has at
// most 1023.
constexpr size_t MAX_TABLE_DATA = size_t(1) << 16;
// Charged per table for its named fields.
constexpr lua_Integer TABLE_FIELDS = 8;

// Entries still to hand out, and whether a decode call is running: outside
// one each table has a budget of its own.
thread_local lua_Integer SbudgetLeft = DECODE_TABLE_BUDGET;
thread_local bool SinDecode = false;

// How many of n array entries the budget allows; charges them.
size_t takeEntries(size_t n) {
  const size_t allowed = std::min(n, static_cast<size_t>(std::max<lua_Integer>(SbudgetLeft, 0)));
  SbudgetLeft -= static_cast<lua_Integer>(allowed);
  return allowed;
}

[[noreturn]] void assertFailed(const char* condition) {
  std::fprintf(stderr, "assertion failed in common/sw_sniff/vkrowutils: %s\n", condition);
  std::abort();
}

void setIntField(lua_State* L, const char* key, lua_Integer value) {
  lua_pushinteger(L, value);
  lua_setfield(L, -2, key);
}

void setStringField(lua_State* L, const char* key, const char* value) {
  lua_pushstring(L, value);
  lua_setfield(L, -2, key);
}

void setBoolField(lua_State* L, const char* key, bool value) {
  lua_pushboolean(L, value ? 1 : 0);
  lua_setfield(L, -2, key);
}

void setBaseParams(lua_State* L, const Tbase& row) {
  setIntField(L, "handle", row.handle);
  setIntField(L, "parent", row.parent);
}

void setChildrenParams(lua_State* L, const Tgrouper& group) {
  lua_pushstring(L, "children");
  lua_createtable(L, 0, 0);
  lua_Integer n = 0;
  const size_t shown = takeEntries(group.children.size());
  for (size_t i = 0; i < shown; ++i) {
    const TrowPtr& child = group.children[i];
    if (!child) continue;
    // Handles come from the display row list, which numbers from 0.
    if (child->handle < 0) assertFailed("child->handle >= 0");
    lua_pushinteger(L, child->handle);
    lua_rawseti(L, -2, ++n);
  }
  lua_rawset(L, -3);
}

// A group's table; subType null for a group without one.
void pushGroupTable(lua_State* L, const Tgrouper& group, const char* type, const char* subType) {
  lua_createtable(L, 0, 5);
  setBaseParams(L, group);
  setChildrenParams(L, group);
  setStringField(L, "type", type);
  if (subType) setStringField(L, "subType", subType);
}

// Pushes the row table; false (nothing pushed) for a row of no kind, one
// whose class does not match its kind, or once the decode's budget is spent.
bool pushRowTable(lua_State* L, const Tbase& row) {
  if (SbudgetLeft <= 0) return false;
  SbudgetLeft -= TABLE_FIELDS;
  return visitRow(row, Toverload{[L](const Treset& r) {
                                   lua_createtable(L, 0, 4);
                                   setBaseParams(L, r);
                                   setStringField(L, "type", "reset");
                                   setIntField(L, "duration", r.duration);
                                   setIntField(L, "idleTicks", r.idleTicks);
                                 },
                                 [L](const Tsof& s) {
                                   lua_createtable(L, 0, 5);
                                   setBaseParams(L, s);
                                   setIntField(L, "pid", s.pid);
                                   setStringField(L, "type", "sof");
                                   setIntField(L, "frame", s.frame);
                                   setIntField(L, "crc5", s.crc5);
                                   setBoolField(L, "crcOK", s.crcOK);
                                 },
                                 [L](const Ttoken& k) {
                                   lua_createtable(L, 0, 5);
                                   setBaseParams(L, k);
                                   setIntField(L, "pid", k.pid);
                                   setStringField(L, "type", "token");
                                   setIntField(L, "addr", k.addr);
                                   setIntField(L, "endp", k.endp);
                                   setIntField(L, "crc5", k.crc5);
                                   setBoolField(L, "crcOK", k.crcOK);
                                 },
                                 [L](const Tdata& d) {
                                   lua_createtable(L, 0, 5);
                                   setBaseParams(L, d);
                                   setIntField(L, "pid", d.pid);
                                   setStringField(L, "type", "data");
                                   lua_createtable(L, 0, 0);
                                   const size_t shown = takeEntries(std::min(d.data.size(), MAX_TABLE_DATA));
                                   for (size_t i = 0; i < shown; ++i) {
                                     lua_pushinteger(L, d.data[i]);
                                     lua_rawseti(L, -2, static_cast<lua_Integer>(i) + 1);
                                   }
                                   lua_setfield(L, -2, "data");
                                   setIntField(L, "crc16", d.crc16);
                                   setBoolField(L, "crcOK", d.crcOK);
                                 },
                                 [L](const Thandshake& h) {
                                   lua_createtable(L, 0, 5);
                                   setBaseParams(L, h);
                                   setIntField(L, "pid", h.pid);
                                   setStringField(L, "type", "handshake");
                                 },
                                 [L](const TsofGroup& g) { pushGroupTable(L, g, "sofgroup", nullptr); },
                                 [L](const Ttransax& t) {
                                   pushGroupTable(L, t, "transaction",
                                                  t.trxType == TRX_SETUP ? "SETUP"
                                                  : t.trxType == TRX_IN  ? "IN"
                                                                         : "OUT");
                                 },
                                 [L](const Ttransfer& c) { pushGroupTable(L, c, "transfer", "CONTROL"); }});
}

// What the protected call needs; trivially destructible, so an unwinding error
// skips nothing.
struct TdecodeCall {
  const Tbase* row;
  const char* function;
};

// Runs inside lua_pcall: looking up the global (a metatable on _G may raise),
// building the table (memory) and the script call itself are all protected.
int runDecode(lua_State* L) {
  const auto* call = static_cast<const TdecodeCall*>(lua_touserdata(L, 1));
  lua_getglobal(L, call->function);
  if (!pushRowTable(L, *call->row)) lua_pushnil(L);
  lua_call(L, 1, 1);
  return 1;
}

// Gives the call one table budget; the inner protected call makes sure the
// decode's end is seen even when the script raises an error.
int callDecode(lua_State* L) {
  SbudgetLeft = DECODE_TABLE_BUDGET;
  SinDecode = true;
  lua_pushcfunction(L, runDecode);
  lua_insert(L, 1);
  const int status = lua_pcall(L, 1, 1, 0);
  SinDecode = false;
  return status == LUA_OK ? 1 : lua_error(L);
}

}  // namespace

void setParams(const TrowPtr& row, lua_State* L) {
  if (!row || !L || !lua_checkstack(L, 4)) return;
  if (!SinDecode) SbudgetLeft = DECODE_TABLE_BUDGET;
  pushRowTable(L, *row);
}

std::string doDecode(const TrowPtr& row, lua_State* L) {
  if (!row) return std::string();
  const unsigned kind = static_cast<unsigned>(row->kind);
  if (kind == RK_SOFGROUP) {
    auto g = dynamic_cast<const Tgrouper*>(row.get());
    if (!g) return std::string();
    return "SAn uninterrupted sequence of " + std::to_string(g->children.size()) + " SOF (Start Of Frame) packets";
  }
  if (kind > RK_TRANSFER || !L || !lua_checkstack(L, 3)) return std::string();

  const int top = lua_gettop(L);
  TdecodeCall call{row.get(), DECODE_FUNCTION[kind]};
  lua_pushcfunction(L, callDecode);
  lua_pushlightuserdata(L, &call);
  const int status = lua_pcall(L, 1, 1, 0);
  // nil, booleans and tables have no text form: lua_tolstring gives null there.
  const char* text = lua_tolstring(L, -1, nullptr);
  std::string result = text ? std::string(text) : std::string();
  lua_settop(L, top);
  if (status == LUA_OK) return result;
  // Lua's message starts with no item marker: as it is, the pane would show
  // nothing and the user would never learn that the script failed.
  if (!text) result = "the error object is not a text";
  for (char& c : result)
    if (c == ';') c = ',';
  return "SDecode script error in " + std::string(call.function) + ": " + result;
}

}  // namespace rowutils
