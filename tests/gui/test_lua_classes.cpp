// Class requests and class descriptors are named only from the class they go
// to, as the descriptors seen earlier in the capture give it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>

#include "decodeparse.h"
#include "displtest.h"

namespace {

using namespace displtest;
using decodeparse::parseDecodeText;
using decodeparse::Tdecoded;
using Trows = std::vector<TstringVec>;

TbyteVec operator+(TbyteVec a, const TbyteVec& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
TbyteVec setup(int type, int request, int value, int index, size_t length) {
  return {uint8_t(type),  uint8_t(request),    uint8_t(value),  uint8_t(value >> 8),
          uint8_t(index), uint8_t(index >> 8), uint8_t(length), uint8_t(length >> 8)};
}

// A request with its data stage (if any) in one packet.
TrowPtr request(const TbyteVec& req, const TbyteVec& stage, int addr = 7) {
  if (req[0] & 0x80) return controlRead(addr, req, stage, std::max<size_t>(stage.size(), 1));
  auto t = std::static_pointer_cast<Ttransfer>(controlNoData(addr, req));
  if (!stage.empty())
    t->children.insert(t->children.begin() + 1,
                       trx(TRX_OUT, {tok(PID_OUT, addr, 0), dat(PID_DATA1, stage), hs(PID_ACK)}));
  return t;
}

// The requests the scripts name, by class, code and direction (device-to-host).
struct Tnamed {
  int cls, code;
  bool in;
  const char* name;
};
const Tnamed NAMED[] = {{3, 1, true, "GET_REPORT"},
                        {3, 2, true, "GET_IDLE"},
                        {3, 3, true, "GET_PROTOCOL"},
                        {3, 9, false, "SET_REPORT"},
                        {3, 10, false, "SET_IDLE"},
                        {3, 11, false, "SET_PROTOCOL"},
                        {2, 0, false, "SEND_ENCAPSULATED_COMMAND"},
                        {2, 1, true, "GET_ENCAPSULATED_RESPONSE"},
                        {2, 0x20, false, "SET_LINE_CODING"},
                        {2, 0x21, true, "GET_LINE_CODING"},
                        {2, 0x22, false, "SET_CONTROL_LINE_STATE"},
                        {2, 0x23, false, "SEND_BREAK"},
                        {8, 0xfe, true, "GET_MAX_LUN"},
                        {8, 0xff, false, "BULK_ONLY_RESET"}};

// The class in the type row of a request that goes to it.
const std::map<int, std::string> LABEL = {
    {0x02, "CDC"},      {0x03, "HID"},   {0x07, "Printer"}, {0x08, "Mass Storage"}, {0x09, "Hub"},
    {0x0a, "CDC Data"}, {0x0e, "Video"}, {0xef, "Misc."},   {0xfe, "Application"},  {0xff, "Vendor"}};

size_t count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// One interface: its number, class, its endpoint.
struct Tiface {
  int number, cls, endpoint;
};
struct Tdevice {
  const char* what;
  int deviceClass;
  std::vector<Tiface> ifaces;  // empty: no descriptor seen
};

TbyteVec configuration(const std::vector<Tiface>& ifaces, const TbyteVec& extra = {}) {
  TbyteVec set = {9, 2, 0, 0, uint8_t(ifaces.size()), 1, 0, 0x80, 50};
  for (const Tiface& i : ifaces)
    set = set + TbyteVec{9, 4, uint8_t(i.number), 0, 1, uint8_t(i.cls), 1, 0, 0} + extra +
          TbyteVec{7, 5, uint8_t(i.endpoint), 3, 8, 0, 10};
  set[2] = uint8_t(set.size()), set[3] = uint8_t(set.size() >> 8);
  return set;
}
TrowPtr getConfiguration(const TbyteVec& set, int addr = 7) {
  return request(setup(0x80, 6, 0x0200, 0, set.size()), set, addr);
}

// A host holding a device's descriptors at address 7 (and another device's
// at 3), then one row after them that each call replaces.
class TclassHost {
 public:
  explicit TclassHost(const Tdevice& dev) {
    host.addTree(std::make_shared<Treset>());
    host.addTree(getConfiguration(configuration({{0, 3, 0x81}}), 3));
    if (dev.ifaces.empty()) return;
    host.addTree(request(setup(0x80, 6, 0x0100, 0, 18),
                         {18, 1, 0, 2, uint8_t(dev.deviceClass), 0, 0, 64, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
    host.addTree(getConfiguration(configuration(dev.ifaces)));
  }
  // Decodes a row added after them; a transfer's SETUP transaction and
  // SETUP packet must show its request alike.
  Tdecoded decode(const TrowPtr& row) {
    host.addTree(row);
    const Tdecoded d = parsed(row);
    if (row->kind == RK_TRANSFER) {
      const auto setupTrx = std::static_pointer_cast<Tgrouper>(std::static_pointer_cast<Tgrouper>(row)->children[0]);
      auto request = [](const Tdecoded& x) {
        return x.table("SETUP request") ? x.table("SETUP request")->rows : Trows{};
      };
      for (const TrowPtr& r : {TrowPtr(setupTrx), setupTrx->children[1]}) EXPECT_EQ(request(parsed(r)), request(d));
    }
    host.roots->pop_back();
    return d;
  }
  Tdecoded parsed(const TrowPtr& row) {
    Tdecoded d;
    d.raw = host.decode(row);
    std::string why;
    EXPECT_TRUE(parseDecodeText(d.raw, d.items, why)) << why << "\nin: " << d.raw;
    return d;
  }
  TdisplHost host{INIT_LUA};
};

const Tdevice DEVICES[] = {
    {"HID", 0, {{0, 0x03, 0x81}}},          {"CDC", 0, {{0, 0x02, 0x83}, {1, 0x0a, 0x02}}},
    {"mass storage", 0, {{0, 0x08, 0x81}}}, {"CDC+HID", 0xef, {{0, 0x02, 0x83}, {1, 0x0a, 0x02}, {2, 0x03, 0x84}}},
    {"printer", 0, {{0, 0x07, 0x02}}},      {"DFU", 0, {{0, 0xfe, 0x81}}},
    {"hub", 0x09, {{0, 0x09, 0x81}}},       {"video", 0xef, {{0, 0x0e, 0x81}, {1, 0x0e, 0x82}}},
    {"vendor", 0xff, {{0, 0xff, 0x81}}},    {"none seen", 0, {}},
};

}  // namespace

// Every class request code, both directions, every recipient, to every
// interface, endpoint and device: a name comes only from the table of the
// class the request goes to and only where its direction fits; without the
// device's descriptors a name is a guess that says so.
TEST(ClassRequests, NamedOnlyFromTheirOwnClass) {
  for (const Tdevice& dev : DEVICES) {
    TclassHost h(dev);
    const bool seen = !dev.ifaces.empty();
    // (recipient, wIndex, class the request goes to; -1 none)
    std::vector<std::tuple<int, int, int>> targets = {{0, 0, dev.deviceClass}, {3, 1, dev.deviceClass}};
    for (const Tiface& i : dev.ifaces) targets.insert(targets.end(), {{1, i.number, i.cls}, {2, i.endpoint, i.cls}});
    if (!seen) targets.insert(targets.end(), {{1, 0, -1}, {2, 0x81, -1}});
    for (const auto& [recipient, index, cls] : targets)
      for (int in = 0; in < 2; ++in)
        for (int code = 0; code < 256; ++code) {
          const TbyteVec stage = (code + in) % 2 ? TbyteVec{} : TbyteVec{0x80, 0x25, 0, 0, 0, 0, 8};
          const Tdecoded d =
              h.decode(request(setup(in << 7 | 0x20 | recipient, code, 0x0100, index, stage.size()), stage));
          const std::string where = std::string(dev.what) + ", to " + std::to_string(recipient) + "\n" + d.raw;
          const std::string type = d.row("SETUP request", "D6..5").at(1);
          std::set<int> fitting;  // classes whose requests this one fits
          for (const Tnamed& n : NAMED)
            if (n.code == code && n.in == bool(in) && recipient == 1) fitting.insert(n.cls);
          auto own = [&](int k) { return seen ? cls == k : fitting.count(k) > 0; };  // its words may stand here
          for (int k : {2, 3, 8}) {  // "CDC Data" is the data interface's own class name
            const size_t words = count(d.raw, LABEL.at(k)) - (k == 2 ? count(d.raw, "CDC Data") : 0);
            EXPECT_TRUE(own(k) || words == 0) << LABEL.at(k) << " on " << where;
          }
          bool named = false, coding = false;
          for (const Tnamed& n : NAMED) {
            const bool expected = own(n.cls) && fitting.count(n.cls) && n.code == code;
            EXPECT_TRUE(expected || count(d.raw, n.name) == 0) << n.name << " on " << where;
            EXPECT_TRUE(!expected || count(d.paragraphs(), LABEL.at(n.cls) + " " + n.name) == 1) << where;
            named = named || expected;
            coding = coding || (expected && n.cls == 2 && (code == 0x20 || code == 0x21) && !stage.empty());
          }
          EXPECT_EQ(d.paragraphs().find("class request 0x") == std::string::npos, named) << where;
          EXPECT_EQ(count(d.paragraphs(), "(class not seen: guessed from the request)"), named && !seen ? 1u : 0u)
              << where;
          EXPECT_EQ(type.find("(guess)") != std::string::npos, named && !seen) << where;
          EXPECT_EQ(d.table("Line coding") != nullptr, coding) << where;
          EXPECT_TRUE(!seen || !named || type == "type Class, " + LABEL.at(cls)) << where;
          if (named) continue;
          EXPECT_EQ(d.row("SETUP request", "2").at(1), "wValue 0x0100") << where;  // no class's meaning
          EXPECT_EQ(type, !seen     ? "type Class, class not seen"
                          : cls > 0 ? "type Class, " + LABEL.at(cls)
                                    : "type Class")
              << where;
        }
  }
}

// Descriptor type 0x21 under an interface of any other class, or before any
// interface, is that class's own: shown byte by byte, never as HID's; asked
// for from such an interface it is not HID's either.
TEST(ClassDescriptors, Type21IsHidOnlyUnderAHidInterface) {
  TclassHost h({"none", 0, {}});
  char hex[4];
  for (int cls = -1; cls < 256; ++cls) {  // -1: before any interface
    // the DFU functional descriptor, else bytes that walk their values
    TbyteVec desc =
        cls == 0xfe ? TbyteVec{9, 0x21, 0x0b, 0xff, 0, 0, 4, 0x10, 1} : TbyteVec{uint8_t(3 + (cls & 15)), 0x21};
    for (size_t k = desc.size(); k < desc[0]; ++k) desc.push_back(uint8_t(cls * 7 + k * 31));
    const TbyteVec config = cls < 0 ? TbyteVec{9, 2, uint8_t(9 + desc.size()), 0, 0, 1, 0, 0x80, 50} + desc
                                    : configuration({{0, cls, 0x81}}, desc);
    const Tdecoded d = h.decode(getConfiguration(config));
    const std::string where = "class " + std::to_string(cls) + "\n" + d.raw;
    const decodeparse::Titem* own = nullptr;
    for (const decodeparse::Titem& t : d.items)
      if (t.kind == 'T' && t.rows.size() > 1 && t.rows[1][1].rfind("bDescriptorType 0x21", 0) == 0) own = &t;
    ASSERT_NE(own, nullptr) << where;
    if (cls == 3) {
      EXPECT_EQ(own->text, "HID descriptor") << where;
      continue;
    }
    EXPECT_EQ(count(d.raw, "HID"), 0u) << where;
    std::vector<std::string> shown, sent;  // the bytes after the head, in order
    for (size_t r = 2; r < own->rows.size(); ++r)
      for (const std::string& word : utils::split(own->rows[r][1], ' '))
        if (word.size() == 2 && word.find_first_not_of("0123456789abcdef") == std::string::npos) shown.push_back(word);
    for (size_t k = 2; k < desc.size(); ++k) sent.push_back((std::snprintf(hex, sizeof hex, "%02x", desc[k]), hex));
    EXPECT_EQ(shown, sent) << where;
    if (cls < 0) continue;  // a set without interfaces tells no interface's class

    // the standard request for it, to that interface
    const Tdecoded asked = h.decode(request(setup(0x81, 6, 0x2100, 0, desc.size()), desc));
    h.host.addTree(getConfiguration(config));
    const Tdecoded after = h.decode(request(setup(0x81, 6, 0x2200, 0, desc.size()), desc));
    h.host.roots->pop_back();
    EXPECT_EQ(count(after.raw, "HID"), 0u) << where << "\n" << after.raw;
    EXPECT_NE(after.table("Data stage"), nullptr) << after.raw;
    // before any configuration was seen: a guess that says so
    EXPECT_NE(asked.paragraphs().find("GET_DESCRIPTOR (HID, class not seen: guessed from the request)"),
              std::string::npos)
        << asked.raw;
  }
}

// A class request after 100,000 rows of polling: the walk back is bounded,
// so the click stays fast (and the configuration may lie beyond it).
TEST(ClassRequests, LookupAtTheEndOfALongCaptureIsBounded) {
  TdisplHost host(INIT_LUA);
  TrowVec trees = {getConfiguration(configuration({{0, 3, 0x81}}))};
  while (trees.size() < 34000) trees.push_back(trx(TRX_IN, {tok(PID_IN, 7, 1), hs(PID_NAK)}, 0));
  const TrowPtr last = controlNoData(7, setup(0x21, 0x0a, 0, 0, 0));
  trees.push_back(last);
  host.addTrees(trees);
  ASSERT_GT(host.rows().size(), 100000u);
  ASSERT_EQ(host.run("local get = getNode calls = 0 getNode = function(h) calls = calls + 1 return get(h) end"), "");
  const auto t0 = std::chrono::steady_clock::now();
  const std::string text = host.decode(last);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  lua_getglobal(host.L, "calls");
  const lua_Integer calls = lua_tointeger(host.L, -1);
  lua_pop(host.L, 1);
  std::printf("class request after %zu rows: %.3f s, %lld row tables\n", host.rows().size(), seconds,
              static_cast<long long>(calls));
  EXPECT_LT(calls, 60000);
  EXPECT_NE(text.find("HID SET_IDLE"), std::string::npos) << text;
  EXPECT_LT(seconds, 5.0);  // a few hundredths of a second on a quiet machine
}
