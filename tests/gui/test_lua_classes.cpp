// Class requests and class descriptors are named only from the class they go
// to, as the descriptors seen earlier in the capture give it.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "displtest.h"

namespace {

using namespace displtest;
using decodeparse::Tdecoded;

// A request with its data stage (if any) in one packet.
TrowPtr request(const TbyteVec& req, const TbyteVec& stage, int addr = 7) {
  if (req[0] & 0x80) return controlRead(addr, req, stage, std::max<size_t>(stage.size(), 1));
  auto t = controlNoData(addr, req);
  if (!stage.empty())
    t->children.insert(t->children.begin() + 1,
                       trx(TRX_OUT, {tok(PID_OUT, addr, 0), dat(PID_DATA1, stage), hs(PID_ACK)}));
  return t;
}

// The requests the scripts name, each to an interface of its class; the GET_
// ones go device-to-host.
const struct {
  int cls, code;
  std::string name;
} NAMED[] = {{3, 1, "GET_REPORT"}, {3, 2, "GET_IDLE"}, {3, 3, "GET_PROTOCOL"}, {3, 9, "SET_REPORT"},
             {3, 10, "SET_IDLE"}, {3, 11, "SET_PROTOCOL"}, {2, 0, "SEND_ENCAPSULATED_COMMAND"},
             {2, 1, "GET_ENCAPSULATED_RESPONSE"}, {2, 0x20, "SET_LINE_CODING"}, {2, 0x21, "GET_LINE_CODING"},
             {2, 0x22, "SET_CONTROL_LINE_STATE"}, {2, 0x23, "SEND_BREAK"}, {8, 0xfe, "GET_MAX_LUN"},
             {8, 0xff, "BULK_ONLY_RESET"}};

// The class in the type row of a request that goes to it.
const std::map<int, std::string> LABEL = {
    {0x02, "CDC"},      {0x03, "HID"},   {0x07, "Printer"}, {0x08, "Mass Storage"}, {0x09, "Hub"},
    {0x0a, "CDC Data"}, {0x0e, "Video"}, {0xef, "Misc."},   {0xfe, "Application"},  {0xff, "Vendor"}};

size_t count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// Interface i has endpoint 0x81 + i, or OUT endpoint i + 1 where i is odd.
uint8_t endpoint(size_t i) { return uint8_t(i % 2 ? i + 1 : 0x81 + i); }

// extra follows each interface descriptor, or the header where there is none.
TbyteVec configuration(const std::vector<int>& classes, const TbyteVec& extra = {}) {
  TbyteVec set = TbyteVec{9, 2, 0, 0, uint8_t(classes.size()), 1, 0, 0x80, 50} + (classes.empty() ? extra : TbyteVec{});
  for (size_t i = 0; i < classes.size(); ++i)
    set = set + TbyteVec{9, 4, uint8_t(i), 0, 1, uint8_t(classes[i]), 1, 0, 0} + extra +
          TbyteVec{7, 5, endpoint(i), 3, 8, 0, 10};
  set[2] = uint8_t(set.size()), set[3] = uint8_t(set.size() >> 8);
  return set;
}
TrowPtr getConfiguration(const TbyteVec& set, int addr = 7) {
  return request(setup(0x80, 6, 0x0200, 0, set.size()), set, addr);
}

// Devices: bDeviceClass, and the class of each interface (none: no descriptor seen).
const std::vector<std::pair<int, std::vector<int>>> DEVICES = {
    {0, {0x03}}, {0, {0x02, 0x0a}}, {0, {0x08}}, {0xef, {0x02, 0x0a, 0x03}}, {0, {0x07}},
    {0, {0xfe}}, {0x09, {0x09}},    {0xef, {0x0e, 0x0e}}, {0xff, {0xff}}, {0, {}}};

// A device's descriptors at address 7, after another device's at 3.
void addDevice(TdisplHost& host, int deviceClass, const std::vector<int>& classes) {
  host.addTrees({std::make_shared<Treset>(), getConfiguration(configuration({3}), 3)});
  if (classes.empty()) return;
  host.addTree(request(setup(0x80, 6, 0x0100, 0, 18),
                       {18, 1, 0, 2, uint8_t(deviceClass), 0, 0, 64, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
  host.addTree(getConfiguration(configuration(classes)));
}

// Shows a transfer after the host's rows; its SETUP transaction and SETUP
// packet must show its request alike.
Tdecoded decodeLast(TdisplHost& host, const TrowPtr& transfer) {
  host.addTree(transfer);
  const Tdecoded d = host.read(transfer);
  auto rows = [](const Tdecoded& x) {
    return x.table("SETUP request") ? x.table("SETUP request")->rows : std::vector<TstringVec>();
  };
  const auto setupTrx = std::static_pointer_cast<Tgrouper>(std::static_pointer_cast<Tgrouper>(transfer)->children[0]);
  for (const TrowPtr& r : {TrowPtr(setupTrx), setupTrx->children[1]}) EXPECT_EQ(rows(host.read(r)), rows(d));
  host.roots->pop_back();
  return d;
}

}  // namespace

// Every class request code, direction and recipient, to every interface,
// endpoint and device: a name comes only from the class it goes to, where its
// direction fits; without the device's descriptors, as a guess that says so.
TEST(ClassRequests, NamedOnlyFromTheirOwnClass) {
  for (const auto& [deviceClass, classes] : DEVICES) {
    TdisplHost host(INIT_LUA);
    addDevice(host, deviceClass, classes);
    const bool seen = !classes.empty();
    // (recipient, wIndex, class the request goes to; -1 none)
    std::vector<std::tuple<int, int, int>> targets = {{0, 0, deviceClass}, {3, 1, deviceClass}};
    for (size_t i = 0; i < classes.size(); ++i)
      targets.insert(targets.end(), {{1, int(i), classes[i]}, {2, endpoint(i), classes[i]}});
    if (!seen) targets.insert(targets.end(), {{1, 0, -1}, {2, 0x81, -1}});
    for (const auto& [recipient, index, cls] : targets)
      for (int in = 0; in < 2; ++in)
        for (int code = 0; code < 256; ++code) {
          const TbyteVec stage = (code + in) % 2 ? TbyteVec{} : TbyteVec{0x80, 0x25, 0, 0, 0, 0, 8};
          const Tdecoded d =
              decodeLast(host, request(setup(in << 7 | 0x20 | recipient, code, 0x0100, index, stage.size()), stage));
          SCOPED_TRACE("to class " + std::to_string(cls) + (seen ? "" : " not seen") + ": " + d.raw);
          std::set<int> named;  // the classes whose name it must carry
          bool coding = false;
          for (const auto& n : NAMED) {
            const bool expected =
                n.code == code && (n.name[0] == 'G') == bool(in) && recipient == 1 && (!seen || n.cls == cls);
            EXPECT_TRUE(expected ? count(d.paragraphs(), LABEL.at(n.cls) + " " + n.name) == 1 : !has(d.raw, n.name))
                << n.name;
            if (expected) named.insert(n.cls);
            coding = coding || (expected && n.cls == 2 && (code == 0x20 || code == 0x21) && !stage.empty());
          }
          for (int k : {2, 3, 8})  // "CDC Data" is the data interface's own class name
            EXPECT_TRUE((seen ? cls == k : named.count(k)) ||
                        count(d.raw, LABEL.at(k)) == (k == 2 ? count(d.raw, "CDC Data") : 0))
                << LABEL.at(k);
          const bool guess = !named.empty() && !seen;
          const std::string type = d.row("SETUP request", "D6..5").at(1);
          EXPECT_EQ(type, guess  ? type.substr(0, type.find(" (")) + " (guess)"
                          : seen ? "type Class" + (cls > 0 ? ", " + LABEL.at(cls) : "")
                                 : "type Class, class not seen");
          EXPECT_EQ(has(d.paragraphs(), "class request 0x"), named.empty());
          EXPECT_EQ(count(d.paragraphs(), "(class not seen: guessed from the request)"), guess ? 1u : 0u);
          EXPECT_EQ(d.table("Line coding") != nullptr, coding);
          EXPECT_TRUE(!named.empty() || d.row("SETUP request", "2").at(1) == "wValue 0x0100");  // no class's meaning
        }
  }
}

// Descriptor type 0x21 under an interface of any other class, or before any
// interface, is that class's own: shown byte by byte, never as HID's; asked
// for from such an interface it is not HID's either.
TEST(ClassDescriptors, Type21IsHidOnlyUnderAHidInterface) {
  TdisplHost host(INIT_LUA);
  addDevice(host, 0, {});
  for (int cls = -1; cls < 256; ++cls) {  // -1: before any interface
    // the DFU functional descriptor, else bytes that walk their values
    TbyteVec desc =
        cls == 0xfe ? TbyteVec{9, 0x21, 0x0b, 0xff, 0, 0, 4, 0x10, 1} : TbyteVec{uint8_t(3 + (cls & 15)), 0x21};
    for (size_t k = desc.size(); k < desc[0]; ++k) desc.push_back(uint8_t(cls * 7 + k * 31));
    const TbyteVec config = configuration(cls < 0 ? std::vector<int>{} : std::vector<int>{cls}, desc);
    const Tdecoded d = decodeLast(host, getConfiguration(config));
    SCOPED_TRACE("class " + std::to_string(cls) + "\n" + d.raw);
    expectEveryByteShown(d, config, true);
    EXPECT_EQ(has(d.raw, "HID"), cls == 3);
    EXPECT_TRUE(cls != 3 || has(d.raw, ";THID descriptor\n"));
    if (cls < 0 || cls == 3) continue;  // a set without interfaces tells no interface's class

    // the standard request for it, to that interface: a guess before any
    // configuration was seen, not HID's after this one
    const Tdecoded asked = decodeLast(host, request(setup(0x81, 6, 0x2100, 0, desc.size()), desc));
    EXPECT_TRUE(has(asked.paragraphs(), "GET_DESCRIPTOR (HID, class not seen: guessed from the request)")) << asked.raw;
    host.addTree(getConfiguration(config));
    const Tdecoded after = decodeLast(host, request(setup(0x81, 6, 0x2200, 0, desc.size()), desc));
    host.roots->pop_back();
    EXPECT_TRUE(!has(after.raw, "HID") && after.table("Data stage")) << after.raw;
  }
}

// A class request after 100,000 rows of polling: the walk back is bounded,
// so the click stays fast (and the configuration may lie beyond it).
TEST(ClassRequests, LookupAtTheEndOfALongCaptureIsBounded) {
  TdisplHost host(INIT_LUA);
  TrowVec trees = {getConfiguration(configuration({3}))};
  while (trees.size() < 34000) trees.push_back(trx(TRX_IN, {tok(PID_IN, 7, 1), hs(PID_NAK)}, 0));
  trees.push_back(controlNoData(7, setup(0x21, 0x0a, 0, 0, 0)));
  host.addTrees(trees);
  ASSERT_GT(host.rows().size(), 100000u);
  ASSERT_EQ(host.run("local get = getNode calls = 0 getNode = function(h) calls = calls + 1 return get(h) end"), "");
  EXPECT_TRUE(has(host.decode(trees.back()), "HID SET_IDLE"));
  // The walk's rows, not a clock, bound the click: a clock would fail on a busy machine.
  lua_getglobal(host.L, "calls");
  EXPECT_LT(lua_tointeger(host.L, -1), 60000);
}
