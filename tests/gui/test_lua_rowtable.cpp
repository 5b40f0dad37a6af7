// Lua row tables and the decode call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "displtest.h"
#include "qxwords.h"

namespace {

using displtest::TdisplHost;

// "key=type:value" per field, sorted; nested sequences as [a,b,...].
std::string describeValue(lua_State* L, int index);

std::string describeTable(lua_State* L, int index) {
  index = lua_absindex(L, index);
  std::vector<std::string> fields;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    std::string key = lua_type(L, -2) == LUA_TSTRING ? lua_tostring(L, -2) : "?";
    fields.push_back(key + "=" + describeValue(L, -1));
    lua_pop(L, 1);
  }
  std::sort(fields.begin(), fields.end());
  std::string text;
  for (const std::string& f : fields) text += (text.empty() ? "" : " ") + f;
  return text;
}

std::string describeSequence(lua_State* L, int index) {
  index = lua_absindex(L, index);
  std::string text = "[";
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, index));
  for (lua_Integer i = 1; i <= n; ++i) {
    lua_rawgeti(L, index, i);
    text += (i > 1 ? "," : "") + describeValue(L, -1);
    lua_pop(L, 1);
  }
  // Keys outside 1..n would be missed by rawlen: count them all.
  size_t all = 0;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    ++all;
    lua_pop(L, 1);
  }
  if (all != static_cast<size_t>(n)) text += "+extra";
  return text + "]";
}

std::string describeValue(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TNUMBER:
      return lua_isinteger(L, index) ? std::to_string(lua_tointeger(L, index))
                                     : "float:" + std::to_string(lua_tonumber(L, index));
    case LUA_TBOOLEAN: return lua_toboolean(L, index) ? "true" : "false";
    case LUA_TSTRING: return std::string("'") + lua_tostring(L, index) + "'";
    case LUA_TTABLE: return describeSequence(L, index);
    default: return lua_typename(L, lua_type(L, index));
  }
}

std::string tableOf(lua_State* L, const TrowPtr& row) {
  const int top = lua_gettop(L);
  rowutils::setParams(row, L);
  if (lua_gettop(L) != top + 1) return "<pushed " + std::to_string(lua_gettop(L) - top) + ">";
  std::string text = lua_istable(L, -1) ? describeTable(L, -1) : "<not a table>";
  lua_pop(L, 1);
  return text;
}

template <class T>
std::shared_ptr<T> make(int handle, int parent) {
  auto row = std::make_shared<T>();
  row->handle = handle;
  row->parent = parent;
  return row;
}

TEST(LuaRowTable, FieldsOfEveryKind) {
  TdisplHost host;
  auto reset = make<Treset>(0, -1);
  reset->duration = 3000000000u;  // above the signed 32-bit range
  reset->idleTicks = 40;
  auto sof = make<Tsof>(1, 0);
  sof->pid = PID_SOF, sof->frame = 2047, sof->crc5 = 0x1f, sof->crcOK = false;
  auto token = make<Ttoken>(2, 1);
  token->pid = PID_IN, token->addr = 5, token->endp = 1, token->crc5 = 0x1a;
  auto data = make<Tdata>(3, 1);
  data->pid = PID_DATA0, data->data = {0x80, 0x06, 0x00, 0xff}, data->crc16 = 0xbeef;
  auto empty = make<Tdata>(4, 1);
  empty->pid = PID_DATA1;
  auto hs = make<Thandshake>(5, 1);
  hs->pid = PID_ACK;
  auto odd = make<Ttoken>(6, -1);
  odd->pid = -7, odd->addr = -1, odd->crc5 = -2;

  auto group = make<TsofGroup>(7, -1);
  for (int h : {8, 9, 10}) group->children.push_back(make<Tsof>(h, 7));
  auto emptyGroup = make<TsofGroup>(11, -1);
  auto setup = make<Ttransax>(12, 20);
  setup->trxType = TRX_SETUP;
  setup->children = {token, data, hs};
  auto in = make<Ttransax>(13, 20);
  in->trxType = TRX_IN;
  auto out = make<Ttransax>(14, 20);
  out->trxType = TRX_OUT;
  auto undefined = make<Ttransax>(15, -1);
  auto transfer = make<Ttransfer>(20, -1);
  transfer->children = {setup, in};

  struct Case {
    const char* what;
    TrowPtr row;
    const char* table;
  };
  const Case cases[] = {
      {"reset", reset, "duration=3000000000 handle=0 idleTicks=40 parent=-1 type='reset'"},
      {"sof", sof, "crc5=31 crcOK=false frame=2047 handle=1 parent=0 pid=5 type='sof'"},
      {"token", token, "addr=5 crc5=26 crcOK=true endp=1 handle=2 parent=1 pid=9 type='token'"},
      {"data", data, "crc16=48879 crcOK=true data=[128,6,0,255] handle=3 parent=1 pid=3 type='data'"},
      {"empty data", empty, "crc16=0 crcOK=true data=[] handle=4 parent=1 pid=11 type='data'"},
      {"handshake", hs, "handle=5 parent=1 pid=2 type='handshake'"},
      {"signs kept", odd, "addr=-1 crc5=-2 crcOK=true endp=0 handle=6 parent=-1 pid=-7 type='token'"},
      {"sof group", group, "children=[8,9,10] handle=7 parent=-1 type='sofgroup'"},
      {"empty group", emptyGroup, "children=[] handle=11 parent=-1 type='sofgroup'"},
      {"setup", setup, "children=[2,3,5] handle=12 parent=20 subType='SETUP' type='transaction'"},
      {"in", in, "children=[] handle=13 parent=20 subType='IN' type='transaction'"},
      {"out", out, "children=[] handle=14 parent=20 subType='OUT' type='transaction'"},
      {"undefined", undefined, "children=[] handle=15 parent=-1 subType='OUT' type='transaction'"},
      {"transfer", transfer, "children=[12,13] handle=20 parent=-1 subType='CONTROL' type='transfer'"},
  };
  for (const Case& c : cases) EXPECT_EQ(tableOf(host.L, c.row), c.table) << c.what;
  EXPECT_EQ(lua_gettop(host.L), 0);
}

TEST(LuaRowTable, RowsOfNoKindPushNothing) {
  TdisplHost host;
  auto bare = std::make_shared<Tbase>();
  auto liar = std::make_shared<Tbase>();
  liar->kind = RK_TRANSFER;  // a kind without its class
  auto negative = std::make_shared<Tbase>();
  negative->kind = -3;
  lua_pushinteger(host.L, 1);
  for (const TrowPtr& row : {bare, liar, negative, TrowPtr()}) {
    rowutils::setParams(row, host.L);
    EXPECT_EQ(lua_gettop(host.L), 1);
  }
}

TEST(LuaRowTableDeathTest, NegativeChildHandleStopsTheProgram) {
  auto group = std::make_shared<TsofGroup>();
  group->children.push_back(std::make_shared<Tsof>());
  group->children[0]->handle = -1;
  EXPECT_DEATH(
      {
        TdisplHost host;
        rowutils::setParams(group, host.L);
      },
      "vkrowutils: child->handle >= 0");
}

TEST(LuaDecode, SofGroupTextNeedsNoLua) {
  auto group = std::make_shared<TsofGroup>();
  for (int i = 0; i < 5; ++i) group->children.push_back(std::make_shared<Tsof>());
  EXPECT_EQ(rowutils::doDecode(group, nullptr), "SAn uninterrupted sequence of 5 SOF (Start Of Frame) packets");
  TdisplHost host;
  ASSERT_EQ(host.run("function sof_decode() called = true return 'x' end"), "");
  EXPECT_EQ(host.decode(std::make_shared<TsofGroup>()), "SAn uninterrupted sequence of 0 SOF (Start Of Frame) packets");
  lua_getglobal(host.L, "called");
  EXPECT_TRUE(lua_isnil(host.L, -1));
}

TEST(LuaDecode, ResultsOfEveryShape) {
  TdisplHost host;
  const char* script = R"(
    function token_decode(t) return "ST" .. t.pid .. " at " .. t.addr .. "." .. t.endp end
    function data_decode(t) return #t.data * 1.5 end
    function handshake_decode(t) return "before\0after" end
    function reset_decode(t) return nil end
    function sof_decode(t) return true end
    function transaction_decode(t) return {} end
    function transfer_decode(t) end
  )";
  ASSERT_EQ(host.run(script), "");
  auto token = std::make_shared<Ttoken>();
  token->pid = PID_IN, token->addr = 5, token->endp = 1;
  auto data = std::make_shared<Tdata>();
  data->data = {1, 2, 3};

  struct Case {
    const char* what;
    TrowPtr row;
    const char* text;
  };
  const Case cases[] = {
      {"string", token, "ST9 at 5.1"},
      {"number", data, "4.5"},
      {"embedded NUL", std::make_shared<Thandshake>(), "before"},
      {"nil", std::make_shared<Treset>(), ""},
      {"boolean", std::make_shared<Tsof>(), ""},
      {"table", std::make_shared<Ttransax>(), ""},
      {"nothing", std::make_shared<Ttransfer>(), ""},
      {"row of no kind", std::make_shared<Tbase>(), ""},
      {"null row", TrowPtr(), ""},
  };
  lua_pushstring(host.L, "keep me");
  lua_pushinteger(host.L, 7);
  for (const Case& c : cases) {
    EXPECT_EQ(host.decode(c.row), c.text) << c.what;
    EXPECT_EQ(lua_gettop(host.L), 2) << c.what;
  }
  EXPECT_STREQ(lua_tostring(host.L, 1), "keep me");
}

TEST(LuaDecode, FailuresBecomeTheText) {
  TdisplHost host;
  ASSERT_EQ(host.run(R"(
    function token_decode(t) error("boom") end
    function data_decode(t) error({code = 1}) end
    function handshake_decode(t) error(42) end
    function sof_decode(t) return t.nosuchfield.x end
    function transaction_decode(t) error("one; two") end
  )"),
            "");
  struct Case {
    const char* what;
    TrowPtr row;
    const char* contains;
  };
  const Case cases[] = {
      {"missing function", std::make_shared<Treset>(), "attempt to call a nil value"},
      {"error()", std::make_shared<Ttoken>(), "boom"},
      {"runtime error", std::make_shared<Tsof>(), "attempt to index"},
      {"number as error", std::make_shared<Thandshake>(), "42"},
      {"table as error", std::make_shared<Tdata>(), "data_decode: the error object is not a text"},
      {"\";\" in the message", std::make_shared<Ttransax>(), "one, two"},
  };
  // Each shows as one paragraph, so the user learns that the script failed.
  for (const Case& c : cases) {
    const std::string text = host.decode(c.row);
    EXPECT_NE(text.find(c.contains), std::string::npos) << c.what;
    EXPECT_EQ(text.rfind("SDecode script error in ", 0), 0u) << text;
    EXPECT_EQ(text.find(';'), std::string::npos) << text;
    EXPECT_EQ(lua_gettop(host.L), 0) << c.what;
  }
}

TEST(LuaDecode, HostileGlobalsTableIsContained) {
  TdisplHost host;
  ASSERT_EQ(host.run("setmetatable(_G, {__index = function(_, k) error('no global ' .. k) end})"), "");
  lua_pushnil(host.L);
  EXPECT_NE(host.decode(std::make_shared<Ttoken>()).find("no global token_decode"), std::string::npos);
  EXPECT_EQ(lua_gettop(host.L), 1);
}

TEST(LuaDecode, ChildrenReachedThroughGetNode) {
  TdisplHost host;
  auto trx = std::make_shared<Ttransax>(TRX_IN);
  auto tok = std::make_shared<Ttoken>();
  tok->pid = PID_IN, tok->addr = 3;
  auto dat = std::make_shared<Tdata>();
  dat->pid = PID_DATA1, dat->data = {0xde, 0xad};
  auto ack = std::make_shared<Thandshake>();
  ack->pid = PID_ACK;
  trx->children = {tok, dat, ack};
  host.addTree(std::make_shared<Treset>());
  host.addTree(trx);
  ASSERT_EQ(host.run(R"(
    function transaction_decode(t)
      local parts = {}
      for i, h in ipairs(t.children) do
        local c = getNode(h)
        parts[#parts + 1] = c.type .. "@" .. c.handle .. "^" .. c.parent
        if c.data then parts[#parts + 1] = "#" .. #c.data .. ":" .. c.data[1] end
      end
      local self = getNode(t.handle + 0.7)
      return "S" .. table.concat(parts, " ") .. " self=" .. self.subType
    end
  )"),
            "");
  EXPECT_EQ(host.decode(trx), "Stoken@2^1 data@3^1 #2:222 handshake@4^1 self=IN");
  EXPECT_EQ(lua_gettop(host.L), 0);
}

// A control read of `packets` IN data packets of `size` bytes, grouped by the engine.
TrowPtr controlRead(int packets, size_t size, const std::string& lastPacket) {
  std::string words = "SETUP0.0 D0/8 ACK";
  for (int i = 1; i < packets; ++i) words += " IN0.0 D1/" + std::to_string(size) + " ACK";
  auto roots = std::make_shared<TrowVec>();
  TdataIO().eventVecToTreeRootVec(std::make_shared<TrowVec>(qxtest::wordRows(words + lastPacket + " OUT0.0 D1/0 ACK")),
                                  roots);
  return roots->at(0);
}

TEST(LuaDecode, TablesOfOneDecodeAreBoundedButARealTransferIsWhole) {
  // Payload bytes of the packets the script reaches, and getNode's refusals.
  const char* const SUM = R"(
    function transfer_decode(t)
      local bytes, refused = 0, 0
      for _, h in ipairs(t.children) do
        for _, p in ipairs(getNode(h) and getNode(h).children or {}) do
          local c = getNode(p)
          if c then bytes = bytes + #(c.data or {}) else refused = refused + 1 end
        end
      end
      return bytes .. " " .. refused
    end
    function data_decode(t) return #t.data end
    function token_decode(t) error("after " .. #getNode(t.parent).children) end)";
  TdisplHost real;  // 65,535 bytes, the most a request can ask for
  const TrowPtr whole = controlRead(1024, 64, " IN0.0 D1/63 ACK");
  real.addTree(whole);
  ASSERT_EQ(real.run(SUM), "");
  EXPECT_EQ(real.decode(whole), "65543 0");

  TdisplHost hostile;  // 4 MB
  const TrowPtr huge = controlRead(40, 100000, " IN0.0 D1/100000 ACK");
  hostile.addTree(huge);
  ASSERT_EQ(hostile.run(SUM), "");
  unsigned long bytes = 0, refused = 0;
  ASSERT_EQ(std::sscanf(hostile.decode(huge).c_str(), "%lu %lu", &bytes, &refused), 2);
  EXPECT_LE(bytes, 1ul << 18);
  EXPECT_GT(refused, 0ul);
  // One packet's table, in a decode and alone, also after a script error.
  const TrowPtr packet = hostile.rows()[7];
  EXPECT_EQ(hostile.decode(packet), "65536");
  EXPECT_NE(hostile.decode(hostile.rows()[6]).find("after 3"), std::string::npos);
  rowutils::setParams(packet, hostile.L);
  lua_getfield(hostile.L, -1, "data");
  EXPECT_EQ(lua_rawlen(hostile.L, -1), 65536u);
  lua_settop(hostile.L, 0);
}

}  // namespace
