// The decode scripts (scripts/init.lua) run headless over the rows of a
// synthetic enumeration: every text must follow the decode text grammar, and
// the tables must name the right fields and values.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "decodeparse.h"
#include "displtest.h"
#include "qxcapture.h"
#include "vkexthrd.h"
#include "vkutils.h"

namespace {

using displtest::TdisplHost;
using decodeparse::parseDecodeText;
using decodeparse::Tdecoded;
using decodeparse::Titem;

// ---- rows of an enumeration ----

using displtest::controlNoData;
using displtest::controlRead;
using displtest::dat;
using displtest::hs;
using displtest::tok;
using displtest::trx;

const TbyteVec DEVICE = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08, 0x34,
                         0x12, 0x78, 0x56, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01};
const TbyteVec CONFIG = {
    0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0xa0, 0x32,  // configuration
    0x09, 0x04, 0x00, 0x00, 0x01, 0x03, 0x01, 0x01, 0x00,  // interface: HID boot keyboard
    0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x17, 0x00,  // HID, report of 23 bytes
    0x07, 0x05, 0x81, 0x03, 0x08, 0x00, 0x0a,              // endpoint 0x81 interrupt
};
const TbyteVec LANGIDS = {0x04, 0x03, 0x09, 0x04};
const TbyteVec PRODUCT = {26, 0x03, 'Q', 0,   'u', 0,   'e', 0,   'l', 0,   'l', 0,   'i',
                          0,  'x',  0,   ' ', 0,   'T', 0,   'e', 0,   's', 0,   't', 0};
const TbyteVec REPORT = {0x05, 0x01, 0x09, 0x06, 0xa1, 0x01, 0x05, 0x07, 0x15, 0x00, 0x25, 0x01,
                         0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x16, 0x00, 0x80, 0xc0, 0x00};

class EnumerationScript : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.data.scriptError(), "");

    auto reset = std::make_shared<Treset>();
    reset->duration = 120000, reset->idleTicks = 300;
    add("reset", reset);
    auto sofs = std::make_shared<TsofGroup>();
    for (int f = 100; f < 103; ++f) {
      auto s = std::make_shared<Tsof>();
      s->pid = PID_SOF, s->frame = f, s->crc5 = 0x1f, s->level = 1;
      sofs->children.push_back(s);
    }
    add("sofs", sofs);
    add("get device 0", controlRead(0, {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00}, DEVICE, 8, true));
    add("set address", controlNoData(0, {0x00, 0x05, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}));
    add("get device 5", controlRead(5, {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00}, DEVICE));
    add("get config 9",
        controlRead(5, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x09, 0x00}, TbyteVec(CONFIG.begin(), CONFIG.begin() + 9)));
    add("get config", controlRead(5, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x22, 0x00}, CONFIG));
    add("get langids", controlRead(5, {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0xff, 0x00}, LANGIDS));
    add("get product", controlRead(5, {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xff, 0x00}, PRODUCT));
    auto qualifier = std::make_shared<Ttransfer>(TFR_CONTROL);
    qualifier->children = {
        trx(TRX_SETUP,
            {tok(PID_SETUP, 5, 0), dat(PID_DATA0, {0x80, 0x06, 0x00, 0x06, 0x00, 0x00, 0x0a, 0x00}), hs(PID_ACK)}),
        trx(TRX_IN, {tok(PID_IN, 5, 0), hs(PID_STALL)})};
    add("get qualifier", qualifier);
    add("set configuration", controlNoData(5, {0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
    add("set idle", controlNoData(5, {0x21, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    add("get report", controlRead(5, {0x81, 0x06, 0x00, 0x22, 0x00, 0x00, 0x17, 0x00}, REPORT));
    add("interrupt in", trx(TRX_IN, {tok(PID_IN, 5, 1), dat(PID_DATA0, {0, 0, 0x04, 0, 0, 0, 0, 0}), hs(PID_ACK)}, 0));
    add("interrupt nak", trx(TRX_IN, {tok(PID_IN, 5, 1), hs(PID_NAK)}, 0));
    auto broken = std::make_shared<Ttransfer>(TFR_CONTROL);
    broken->children = {trx(TRX_SETUP, {tok(PID_SETUP, 5, 0), dat(PID_DATA0, {1, 2, 3}), hs(PID_ACK)})};
    add("short setup", broken);
  }

  void add(const std::string& name, const TrowPtr& root) {
    roots[name] = root;
    host.addTree(root);
  }

  // Decodes a row; the text must read under the grammar.
  Tdecoded decode(const TrowPtr& row) {
    Tdecoded d;
    d.raw = host.decode(row);
    std::string why;
    EXPECT_TRUE(parseDecodeText(d.raw, d.items, why)) << why << "\nin: " << d.raw;
    EXPECT_FALSE(d.items.empty()) << d.raw;
    return d;
  }
  Tdecoded decode(const std::string& name) { return decode(roots.at(name)); }
  TrowPtr child(const std::string& name, size_t i) {
    return std::static_pointer_cast<Tgrouper>(roots.at(name))->children.at(i);
  }

  TdisplHost host{displtest::INIT_LUA};
  std::map<std::string, TrowPtr> roots;
};

TEST_F(EnumerationScript, EveryRowDecodesUnderTheGrammar) {
  ASSERT_GT(host.rows().size(), 100u);
  for (const TrowPtr& row : host.rows()) {
    const Tdecoded d = decode(row);
    EXPECT_EQ(d.raw.find("Decode script error"), std::string::npos) << d.raw;
    EXPECT_EQ(lua_gettop(host.L), 0);
  }
}

TEST_F(EnumerationScript, GetDeviceDescriptor) {
  const Tdecoded d = decode("get device 0");
  EXPECT_NE(d.paragraphs().find("GET_DESCRIPTOR (DEVICE) to device 0, endpoint 0."), std::string::npos) << d.raw;
  EXPECT_NE(d.paragraphs().find("The device sent 18 bytes of the 64 asked for."), std::string::npos) << d.raw;
  EXPECT_NE(d.paragraphs().find("request completed"), std::string::npos) << d.raw;
  EXPECT_NE(d.paragraphs().find("1 NAK while the device was busy"), std::string::npos) << d.raw;
  EXPECT_EQ(d.titles(), (std::vector<std::string>{"SETUP request", "Stages", "Device descriptor"}));

  const std::vector<TstringVec> setup = {
      {"0", "bmRequestType 0x80"},        {"D7", "direction device-to-host"}, {"D6..5", "type Standard"},
      {"D4..0", "recipient Device"},      {"1", "bRequest 0x06 GET_DESCRIPTOR"},
      {"2", "wValue 0x0100"},             {"D15..8", "type DEVICE"},
      {"D7..0", "index 0"},               {"4", "wIndex 0x0000"},
      {"6", "wLength 64 bytes at most"},
  };
  EXPECT_EQ(d.table("SETUP request")->rows, setup);
  const std::vector<TstringVec> stages = {
      {"Setup", "SETUP, 8 bytes, ACK"}, {"Data", "IN, 8 bytes, ACK"}, {"Data", "IN, no data, NAK"},
      {"Data", "IN, 8 bytes, ACK"},     {"Data", "IN, 2 bytes, ACK"}, {"Status", "OUT, 0 bytes, ACK"},
  };
  EXPECT_EQ(d.table("Stages")->rows, stages);
  const std::vector<TstringVec> device = {
      {"0", "bLength 18 bytes"},
      {"1", "bDescriptorType 0x01 DEVICE"},
      {"2", "bcdUSB 0x0200 USB 2.00"},
      {"4", "bDeviceClass 0x00 per interface"},
      {"5", "bDeviceSubClass 0x00"},
      {"6", "bDeviceProtocol 0x00"},
      {"7", "bMaxPacketSize0 8 bytes"},
      {"8", "idVendor 0x1234"},
      {"10", "idProduct 0x5678"},
      {"12", "bcdDevice 0x0100 release 1.00"},
      {"14", "iManufacturer string 1"},
      {"15", "iProduct string 2"},
      {"16", "iSerialNumber string 3"},
      {"17", "bNumConfigurations 1"},
  };
  EXPECT_EQ(d.table("Device descriptor")->rows, device);
}

TEST_F(EnumerationScript, SetAddressAndConfiguration) {
  const Tdecoded a = decode("set address");
  EXPECT_EQ(a.row("SETUP request", "2"), (TstringVec{"2", "wValue 0x0005 address 5"}));
  EXPECT_EQ(a.row("SETUP request", "D7"), (TstringVec{"D7", "direction host-to-device"}));
  EXPECT_EQ(a.row("SETUP request", "6"), (TstringVec{"6", "wLength 0 bytes, no data stage"}));
  EXPECT_EQ(a.table("Stages")->rows,
            (std::vector<TstringVec>{{"Setup", "SETUP, 8 bytes, ACK"}, {"Status", "IN, 0 bytes, ACK"}}));
  EXPECT_NE(a.paragraphs().find("SET_ADDRESS to device 0, endpoint 0."), std::string::npos) << a.raw;
  EXPECT_NE(a.paragraphs().find("answers at address 5"), std::string::npos) << a.raw;

  const Tdecoded c = decode("set configuration");
  // too long a name to stand beside its value: in words
  EXPECT_EQ(c.row("SETUP request", "1"), (TstringVec{"1", "bRequest 0x09 set configuration"}));
  EXPECT_EQ(c.row("SETUP request", "2"), (TstringVec{"2", "wValue 0x0001 configuration 1"}));
  EXPECT_NE(c.paragraphs().find("The device is configured"), std::string::npos) << c.raw;
}

TEST_F(EnumerationScript, ConfigurationHeaderThenTheWholeSet) {
  const Tdecoded head = decode("get config 9");
  EXPECT_EQ(head.row("Configuration descriptor", "2"), (TstringVec{"2", "wTotalLength 34 bytes in all"}));
  EXPECT_NE(head.paragraphs().find("wTotalLength is 34 bytes but this transfer carried 9"), std::string::npos);

  const Tdecoded d = decode("get config");
  EXPECT_EQ(d.titles(), (std::vector<std::string>{"SETUP request", "Stages", "Configuration descriptor",
                                                  "Interface 0, alternate setting 0", "HID descriptor",
                                                  "Endpoint 0x81 (EP 1 IN, Interrupt)"}));
  const std::vector<TstringVec> config = {
      {"0", "bLength 9 bytes"},         {"1", "bDescriptorType 0x02"},  // the title names it
      {"2", "wTotalLength 34 bytes in all"}, {"4", "bNumInterfaces 1 interface"},
      {"5", "bConfigurationValue 1"},   {"6", "iConfiguration 0, no string"},
      {"7", "bmAttributes 0xa0"},       {"D6", "bus-powered"},
      {"D5", "remote wakeup"},          {"8", "bMaxPower 50 (100 mA)"},
  };
  EXPECT_EQ(d.table("Configuration descriptor")->rows, config);
  const std::string iface = "Interface 0, alternate setting 0";
  EXPECT_EQ(d.row(iface, "1"), (TstringVec{"1", "bDescriptorType 0x04 INTERFACE"}));
  EXPECT_EQ(d.row(iface, "4"), (TstringVec{"4", "bNumEndpoints 1 besides EP 0"}));
  EXPECT_EQ(d.row(iface, "5"), (TstringVec{"5", "bInterfaceClass 0x03 HID"}));
  EXPECT_EQ(d.row(iface, "6"), (TstringVec{"6", "bInterfaceSubClass 0x01 boot"}));
  EXPECT_EQ(d.row(iface, "7"), (TstringVec{"7", "bInterfaceProtocol 0x01 keyboard"}));
  EXPECT_EQ(d.row("HID descriptor", "2"), (TstringVec{"2", "bcdHID 0x0111 HID 1.11"}));
  EXPECT_EQ(d.row("HID descriptor", "6"), (TstringVec{"6", "bDescriptorType 0x22 report"}));
  EXPECT_EQ(d.row("HID descriptor", "7"), (TstringVec{"7", "wDescriptorLength 23 bytes"}));
  const std::string ep = "Endpoint 0x81 (EP 1 IN, Interrupt)";
  EXPECT_EQ(d.row(ep, "2"), (TstringVec{"2", "bEndpointAddress 0x81"}));
  EXPECT_EQ(d.row(ep, "D7"), (TstringVec{"D7", "direction IN"}));
  EXPECT_EQ(d.row(ep, "D3..0"), (TstringVec{"D3..0", "endpoint 1"}));
  EXPECT_EQ(d.row(ep, "3"), (TstringVec{"3", "bmAttributes 0x03 Interrupt"}));
  EXPECT_EQ(d.row(ep, "4"), (TstringVec{"4", "wMaxPacketSize 8 bytes"}));
  EXPECT_EQ(d.row(ep, "6"), (TstringVec{"6", "bInterval 10 ms between polls"}));
}

TEST_F(EnumerationScript, StringDescriptors) {
  const Tdecoded langs = decode("get langids");
  EXPECT_EQ(langs.row("SETUP request", "4"), (TstringVec{"4", "wIndex 0x0000 list of languages"}));
  EXPECT_EQ(langs.table("String descriptor 0: languages")->rows,
            (std::vector<TstringVec>{{"0", "bLength 4 bytes"},
                                     {"1", "bDescriptorType 0x03 STRING"},
                                     {"2", "wLANGID 0x0409 English (US)"}}));

  const Tdecoded product = decode("get product");
  EXPECT_EQ(product.row("SETUP request", "2"), (TstringVec{"2", "wValue 0x0302"}));
  EXPECT_EQ(product.row("SETUP request", "D15..8"), (TstringVec{"D15..8", "type STRING"}));
  EXPECT_EQ(product.row("SETUP request", "D7..0"), (TstringVec{"D7..0", "index 2"}));
  EXPECT_EQ(product.row("SETUP request", "4"), (TstringVec{"4", "wIndex 0x0409 English (US)"}));
  EXPECT_EQ(product.row("String descriptor 2", "2"), (TstringVec{"2", "bString 12 UTF-16 units"}));
  EXPECT_NE(product.paragraphs().find("String 2: \"Quellix Test\""), std::string::npos) << product.raw;
}

TEST_F(EnumerationScript, StalledAndClassRequests) {
  const Tdecoded q = decode("get qualifier");
  EXPECT_NE(q.paragraphs().find("GET_DESCRIPTOR (DEVICE_QUALIFIER)"), std::string::npos) << q.raw;
  EXPECT_NE(q.paragraphs().find("answered STALL"), std::string::npos) << q.raw;
  EXPECT_EQ(q.table("Device qualifier descriptor"), nullptr);

  const Tdecoded idle = decode("set idle");
  const std::vector<TstringVec> setup = {
      {"0", "bmRequestType 0x21"},           {"D7", "direction host-to-device"}, {"D6..5", "type Class, HID"},
      {"D4..0", "recipient Interface"},      {"1", "bRequest 0x0a SET_IDLE"},
      {"2", "wValue 0x0000 on change, ID 0"}, {"4", "wIndex 0x0000 interface 0"},
      {"6", "wLength 0 bytes, no data stage"},
  };
  EXPECT_EQ(idle.table("SETUP request")->rows, setup);

  const Tdecoded report = decode("get report");
  const Titem* items = report.table("HID report descriptor");
  ASSERT_NE(items, nullptr) << report.raw;
  ASSERT_GE(items->rows.size(), 11u);
  EXPECT_EQ(items->rows[0], (TstringVec{"0", "Usage Page (Generic Desktop)"}));
  EXPECT_EQ(items->rows[1], (TstringVec{"2", "Usage (Keyboard)"}));
  EXPECT_EQ(items->rows[2], (TstringVec{"4", "Collection (Application)"}));
  EXPECT_EQ(report.row("HID report descriptor", "16"), (TstringVec{"16", ". Input (Data,Var,Abs)"}));
  EXPECT_EQ(report.row("HID report descriptor", "18"), (TstringVec{"18", ". Logical Minimum (-32768)"}));
  EXPECT_EQ(report.row("HID report descriptor", "21"), (TstringVec{"21", "End Collection"}));
}

TEST_F(EnumerationScript, TransactionsAndPackets) {
  const Tdecoded setup = decode(child("get device 5", 0));
  EXPECT_EQ(setup.table("SETUP transaction")->rows,
            (std::vector<TstringVec>{{"Token", "SETUP (0x2d), device 5, EP 0"},
                                     {"Data", "DATA0 (0xc3), 8 bytes"},
                                     {"Payload", "80 06 00 01 00 00 12 00"},
                                     {"Handshake", "ACK (0xd2)"}}));
  EXPECT_EQ(setup.row("SETUP request", "6"), (TstringVec{"6", "wLength 18 bytes at most"}));

  const TrowPtr setupData = std::static_pointer_cast<Tgrouper>(child("get device 5", 0))->children[1];
  const Tdecoded data = decode(setupData);
  EXPECT_EQ(data.row("SETUP request", "1"), (TstringVec{"1", "bRequest 0x06 GET_DESCRIPTOR"}));
  EXPECT_EQ(data.row("Data packet", "PID"), (TstringVec{"PID", "DATA0 (0xc3), toggle 0"}));
  EXPECT_EQ(data.row("Data packet", "Length"), (TstringVec{"Length", "8 bytes of payload"}));

  const Tdecoded in = decode("interrupt in");
  EXPECT_NE(in.paragraphs().find("Device 5 endpoint 1 sent 8 bytes and the host acknowledged them."),
            std::string::npos);
  const Tdecoded status = decode(child("set address", 1));
  EXPECT_NE(status.paragraphs().find("Device 0 endpoint 0 sent a zero-length packet and the host acknowledged it."),
            std::string::npos)
      << status.raw;
  const Tdecoded nak = decode("interrupt nak");
  EXPECT_NE(nak.paragraphs().find("had no data ready and answered NAK"), std::string::npos);

  const TrowPtr inData = std::static_pointer_cast<Tgrouper>(roots.at("interrupt in"))->children[1];
  const Tdecoded payload = decode(inData);
  EXPECT_EQ(payload.table("Payload")->rows,
            (std::vector<TstringVec>{{"0000", "00 00 04 00  ...."}, {"0004", "00 00 00 00  ...."}}));

  const Tdecoded token = decode(std::static_pointer_cast<Tgrouper>(roots.at("interrupt in"))->children[0]);
  EXPECT_EQ(token.row("Token packet", "ADDR"), (TstringVec{"ADDR", "5"}));
  EXPECT_EQ(token.row("Token packet", "ENDP"), (TstringVec{"ENDP", "1"}));
  EXPECT_EQ(token.row("Token packet", "CRC5"), (TstringVec{"CRC5", "0x00 correct"}));
}

TEST_F(EnumerationScript, ResetSofAndGroup) {
  const Tdecoded reset = decode("reset");
  EXPECT_EQ(reset.table("Bus reset")->rows, (std::vector<TstringVec>{{"SE0 time", "10.000 ms"},
                                                                     {"SE0 bits", "120000 bit times"},
                                                                     {"Idle after", "25.00 us"},
                                                                     {"Idle bits", "300 bit times"}}));
  const Tdecoded sof = decode(child("sofs", 1));
  EXPECT_EQ(sof.row("Start of frame", "Frame"), (TstringVec{"Frame", "101 (0x0065)"}));
  EXPECT_EQ(sof.row("Start of frame", "CRC5"), (TstringVec{"CRC5", "0x1f correct"}));
  EXPECT_EQ(decode("sofs").raw, "SAn uninterrupted sequence of 3 SOF (Start Of Frame) packets");
}

TEST_F(EnumerationScript, UndecodableTransferSaysSo) {
  const Tdecoded d = decode("short setup");
  EXPECT_NE(d.paragraphs().find("no SETUP transaction with an 8-byte request"), std::string::npos) << d.raw;
}

TEST_F(EnumerationScript, ScriptFailuresBecomeParagraphs) {
  ASSERT_EQ(host.run(R"(
    results = {
      transfer_decode({children = 5}),
      data_decode({pid = 3, data = {"x"}}),
      token_decode(nil),
    }
  )"),
            "");
  lua_getglobal(host.L, "results");
  for (int i = 1; i <= 3; ++i) {
    lua_rawgeti(host.L, -1, i);
    const std::string text = lua_tostring(host.L, -1) ? lua_tostring(host.L, -1) : "<no text>";
    lua_pop(host.L, 1);
    std::vector<Titem> items;
    std::string why;
    EXPECT_TRUE(parseDecodeText(text, items, why)) << why;
    ASSERT_EQ(items.size(), 1u) << text;
    EXPECT_EQ(items[0].kind, 'S');
    EXPECT_EQ(items[0].text.rfind("Decode script error in ", 0), 0u) << text;
  }
  lua_pop(host.L, 1);
}

// A string shows as sent: ";" as its look-alike U+037E, which a string of its
// own shows escaped, as the backslash, control characters and lone surrogates.
TEST_F(EnumerationScript, StringsShowAsSentOrEscaped) {
  const std::tuple<std::u16string, std::string, int> cases[] = {
      {u"KG; Abt.", "KG\xcd\xbe Abt.", 8},
      {u"\u037e\\C:\\x", "\\u037e\\\\C:\\\\x", 6},
      {{u'a', u'\t', u'\n', u'#', 0}, "a\\u0009\\u000a#\\u0000", 5},
      {{0xd800, u'A', 0xdc00, 0xd83d, 0xde00, 0xfffd}, "\\ud800A\\udc00\xf0\x9f\x98\x80\xef\xbf\xbd", 6},
  };
  for (const auto& [units, shown, count] : cases) {
    TbyteVec d = {uint8_t(2 + 2 * units.size()), 3};
    for (char16_t u : units) d.insert(d.end(), {uint8_t(u), uint8_t(u >> 8)});
    add(shown, controlRead(5, {0x80, 6, 1, 3, 9, 4, 0xff, 0}, d));
    const Tdecoded t = decode(shown);
    EXPECT_NE(t.paragraphs().find("String 1: \"" + shown + "\"\n"), std::string::npos) << t.raw;
    EXPECT_EQ(t.row("String descriptor 1", "2"),
              (TstringVec{"2", "bString " + std::to_string(count) + " UTF-16 units"}));
  }
}

// A class-specific interface descriptor is named by the class (for audio the
// subclass) of the interface before it, else its subtype shows in hex only.
TEST_F(EnumerationScript, ClassSpecificDescriptorsNamedByTheirInterface) {
  const TbyteVec config = {9, 2, 75, 0, 4, 1,    0, 0x80, 50, 5, 0x24, 1, 0, 1,  // before any interface
                           9, 4, 0,  0, 1, 2,    2, 1,    0,  5, 0x24, 1, 0, 1,  // CDC
                           9, 4, 1,  0, 0, 1,    1, 0,    0,  5, 0x24, 1, 0, 1, 5, 0x24, 2, 0, 1,  // audio control
                           9, 4, 2,  0, 1, 1,    2, 0,    0,  5, 0x24, 2, 1, 2,                    // audio streaming
                           9, 4, 3,  0, 0, 0x77, 0, 0,    0,  5, 0x24, 2, 0, 1};                   // an unknown class
  add("cs", controlRead(5, {0x80, 6, 0, 2, 0, 0, 75, 0}, config, 64));
  std::vector<std::string> named;
  for (const Titem& t : decode("cs").items)
    if (t.kind == 'T' && t.rows.size() > 2 && t.rows[1][1] == "bDescriptorType 0x24")
      named.push_back(t.text + " | " + t.rows[2][1]);
  EXPECT_EQ(named, (std::vector<std::string>{"CS_INTERFACE descriptor | bDescriptorSubtype 0x01",
                                             "CDC Call Management descriptor | bDescriptorSubtype 0x01",
                                             "Audio Header descriptor | bDescriptorSubtype 0x01",
                                             "Audio Input Terminal descriptor | bDescriptorSubtype 0x02",
                                             "Audio Format Type descriptor | bDescriptorSubtype 0x02",
                                             "CS_INTERFACE descriptor | bDescriptorSubtype 0x02"}));
}

// The same requests as bus traffic: coded as a raw capture, decoded, grouped
// and flattened by the engine, then decoded by the script through getNode.
TEST(DecodeScript, EnumerationThroughTheWholeEngine) {
  TrowVec packets;
  auto put = [&](TrowPtr row) {
    if (auto p = std::dynamic_pointer_cast<TpacketBase>(row)) p->idle = 10;
    packets.push_back(row);
  };
  auto reset = std::make_shared<Treset>();
  reset->duration = 120000, reset->idleTicks = 300;
  put(reset);
  for (int f = 0; f < 3; ++f) {
    auto s = std::make_shared<Tsof>();
    s->pid = PID_SOF, s->frame = f;
    put(s);
  }
  auto request = [&](int addr, TbyteVec setup, const TbyteVec& reply) {
    put(tok(PID_SETUP, addr, 0)), put(dat(PID_DATA0, setup)), put(hs(PID_ACK));
    int toggle = PID_DATA1;
    for (size_t off = 0; off < reply.size(); off += 8, toggle = toggle == PID_DATA1 ? PID_DATA0 : PID_DATA1) {
      put(tok(PID_IN, addr, 0));
      put(dat(toggle, TbyteVec(reply.begin() + off, reply.begin() + std::min(off + 8, reply.size()))));
      put(hs(PID_ACK));
      if (off == 0 && !reply.empty()) put(tok(PID_IN, addr, 0)), put(hs(PID_NAK));
    }
    const bool read = (setup[0] & 0x80) != 0;
    put(tok(read ? PID_OUT : PID_IN, addr, 0)), put(dat(PID_DATA1, {})), put(hs(PID_ACK));
  };
  request(0, {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00}, DEVICE);
  request(0, {0x00, 0x05, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}, {});
  request(5, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x22, 0x00}, CONFIG);
  request(5, {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xff, 0x00}, PRODUCT);
  request(5, {0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, {});

  std::vector<uint8_t> raw = qxtest::captureFromRows(packets);
  TexThread decoder;
  ASSERT_TRUE(decoder.startDecode(&raw));
  TdisplHost host(displtest::INIT_LUA);
  ASSERT_EQ(host.data.scriptError(), "");
  ASSERT_GT(host.data.adopt(decoder.pLinearRowVec(), decoder.pTreeRootVec()), 0u);
  // reset, SOF group and its 3 SOFs, then each transfer row with its
  // transactions and their packets (one NAKed IN in every data stage)
  ASSERT_EQ(host.rows().size(), 1u + 1 + 3 + 24 + 9 + 32 + 28 + 9);

  std::vector<std::string> transfers;
  for (const TrowPtr& row : host.rows()) {
    const std::string text = host.decode(row);
    std::vector<Titem> items;
    std::string why;
    EXPECT_TRUE(parseDecodeText(text, items, why)) << why << "\nin: " << text;
    EXPECT_EQ(text.find("Decode script error"), std::string::npos) << text;
    if (row->kind == RK_TRANSFER) transfers.push_back(text);
  }
  ASSERT_EQ(transfers.size(), 5u);
  const char* expected[] = {
      "TDevice descriptor\nOffset#Field and value\n0#bLength 18 bytes\n",
      "2#wValue 0x0005 address 5",
      "8#bMaxPower 50 (100 mA)",
      "2#bString 12 UTF-16 units",
      "2#wValue 0x0001 configuration 1",
  };
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NE(transfers[i].find(expected[i]), std::string::npos) << transfers[i];
    EXPECT_NE(transfers[i].find("the request completed"), std::string::npos) << transfers[i];
  }
  EXPECT_NE(transfers[0].find("1 NAK while the device was busy"), std::string::npos) << transfers[0];
  EXPECT_NE(transfers[0].find("8#idVendor 0x1234\n"), std::string::npos) << transfers[0];
}

// Every row of the bundled capture: the pane gives a table's first column a
// quarter of its width and the second the rest less 20 px, so a third or
// fourth column would show cut to a letter or two.
TEST(DecodeScript, BundledCaptureWritesTablesOfTwoColumns) {
  TdisplHost host(displtest::INIT_LUA);
  ASSERT_GT(host.data.sampleFileRead(QX_RUN_DIR "/default.vkd"), 1000u);
  size_t tables = 0, wider = 0;
  std::string first;
  bool fieldRow = false, payloadRow = false;
  for (const TrowPtr& row : host.rows()) {
    const std::string text = host.decode(row);
    std::vector<Titem> items;
    std::string why;
    ASSERT_TRUE(parseDecodeText(text, items, why)) << why << "\nin: " << text;  // as many cells as headings
    for (const Titem& item : items) {
      if (item.kind != 'T') continue;
      ++tables;
      if (item.headings.size() > 2 && wider++ == 0) first = item.text + ": " + text;
    }
    fieldRow = fieldRow || text.find("\n1#bDescriptorType 0x01 DEVICE\n") != std::string::npos;
    payloadRow = payloadRow || text.find("TPayload\nOffset#Bytes and ASCII\n0000#12 01 00 02  ....\n") != std::string::npos;
  }
  EXPECT_GT(tables, 10000u);
  EXPECT_EQ(wider, 0u) << "of " << tables << ", first in " << first;
  EXPECT_TRUE(fieldRow) << "a device descriptor's field row gives its offset, then field, value and meaning";
  EXPECT_TRUE(payloadRow) << "a payload row gives 4 bytes and their characters in one cell";
}

// What is too wide to stand beside a value moves into a row or a paragraph
// of its own: a wrong CRC, an isochronous endpoint's kind, the bits and a
// clear bit 7 of a configuration's attributes, the bytes of an unknown
// descriptor, where a short descriptor ends.
TEST(DecodeScript, WhatDoesNotFitACellGetsARowOrAParagraph) {
  TdisplHost host(displtest::INIT_LUA);
  const TbyteVec config = {0x09, 0x02, 0x2c, 0x00, 0x01, 0x01, 0x00, 0x60, 0x32,  // bit 7 clear
                           0x07, 0x05, 0x81, 0x05, 0xc0, 0x00, 0x01,              // isochronous, asynchronous
                           0x1c, 0x24, 0x06, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                           20, 21, 22, 23, 24, 25};  // a CDC union of 28 bytes
  auto read = controlRead(5, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x2c, 0x00}, config, 64);
  host.addTree(read);
  auto shortRead = controlRead(0, {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00}, {0x12, 0x01, 0x00, 0x02, 0, 0, 0, 8});
  host.addTree(shortRead);
  auto damaged = trx(TRX_OUT, {tok(PID_OUT, 5, 2), dat(PID_DATA1, {1, 2}), hs(PID_ACK)}, 0);
  std::static_pointer_cast<Ttoken>(damaged->children[0])->crcOK = false;
  std::static_pointer_cast<Tdata>(damaged->children[1])->crcOK = false;
  host.addTree(damaged);
  Tdecoded d, t, s;
  std::string why;
  d.raw = host.decode(read);
  t.raw = host.decode(damaged);
  s.raw = host.decode(shortRead);
  ASSERT_TRUE(parseDecodeText(d.raw, d.items, why) && parseDecodeText(t.raw, t.items, why) &&
              parseDecodeText(s.raw, s.items, why))
      << why;

  EXPECT_NE(d.paragraphs().find("bmAttributes 0x60: bit 7 should be set."), std::string::npos) << d.raw;
  EXPECT_EQ(d.row("Configuration descriptor", "7"), (TstringVec{"7", "bmAttributes 0x60"}));
  EXPECT_EQ(d.row("Configuration descriptor", "D6"), (TstringVec{"D6", "self-powered"}));
  EXPECT_EQ(d.row("Configuration descriptor", "D5"), (TstringVec{"D5", "remote wakeup"}));
  EXPECT_NE(d.paragraphs().find("Isochronous endpoint 0x81: asynchronous, data."), std::string::npos) << d.raw;
  EXPECT_EQ(d.row("Endpoint 0x81 (EP 1 IN, Isochronous)", "6"), (TstringVec{"6", "bInterval 1 every 1 ms"}));
  const std::vector<TstringVec> unionRows = {
      {"0", "bLength 28 bytes"},           {"1", "bDescriptorType 0x24"},  // the title names it
      {"2", "bDescriptorSubtype 0x06"},    {"3", "data 01 02 03 04 05 06 07 08"},
      {"11", "data 09 0a 0b 0c 0d 0e 0f 10"}, {"19", "data 11 12 13 14 15 16 17 18"}, {"27", "data 19"},
  };
  EXPECT_EQ(d.table("CS_INTERFACE descriptor")->rows, unionRows);
  EXPECT_EQ(t.table("OUT transaction")->rows,
            (std::vector<TstringVec>{{"Token", "OUT (0xe1), device 5, EP 2"}, {"CRC5", "WRONG: packet damaged"},
                                     {"Data", "DATA1 (0x4b), 2 bytes"}, {"Payload", "01 02"},
                                     {"CRC16", "WRONG: packet damaged"}, {"Handshake", "ACK (0xd2)"}}));
  EXPECT_EQ(s.table("Device descriptor")->rows.back(), (TstringVec{"8", "idVendor missing"}));
  EXPECT_NE(s.paragraphs().find("The descriptor ends after 8 bytes: idVendor and the fields after it are missing."),
            std::string::npos)
      << s.raw;
}

// What the three-column text said and two columns must say too: a main
// item's flags past the first three, a long item's 16 bytes, a signed unit
// exponent, what a STALL of a control endpoint means, and every bRequest
// with its meaning in its own row and nowhere else; deep HID items, whose
// data takes a row of its own and whose indentation is bounded.
TEST(DecodeScript, TwoColumnsKeepEveryFlagByteAndMeaning) {
  TdisplHost host(displtest::INIT_LUA);
  auto report = [](const TbyteVec& items) {
    return controlRead(5, {0x81, 6, 0, 0x22, 0, 0, uint8_t(items.size()), 0}, items, 64);
  };
  const std::string hid = "HID report descriptor";
  struct Tcase {
    TrowPtr row;
    std::string title;
    std::vector<TstringVec> rows;  // found in this order
    std::string paragraph;
  };
  const Tcase cases[] = {
      {report({0x81, 0x06, 0x81, 0x46, 0x91, 0xa2, 0x82, 0x02, 0x01}), hid,
       {{"0", "Input (Data,Var,Rel)"}, {"2", "Input (Data,Var,Rel)"}, {"D7..3", "Null"}, {"4", "Output (Data,Var,Abs)"},
        {"D7..3", "NPrf,Vol"}, {"6", "Input (Data,Var,Abs)"}, {"D8..3", "Buf"}},
       ""},
      {report({0xa1, 1, 0xa1, 0, 0xa1, 2, 0x05, 1, 0xa1, 0, 0xa1, 0, 0xa1, 0, 0xa1, 0, 0x09, 0x30}), hid,
       {{"4", ". . Collection (Logical)"}, {"6", ". . . Usage Page"}, {"7", ". . . (Generic Desktop)"},
        {"16", ". . . . . . Usage (X)"}},
       "Collections are nested 7 deep: items deeper than 6 levels are indented as at level 6."},
      {report({0x55, 0x0e, 0x55, 0x05, 0x56, 0xfd, 0xff}), hid,
       {{"0", "Unit Exponent (-2)"}, {"2", "Unit Exponent (5)"}, {"4", "Unit Exponent (-3)"}}, ""},
      {report({0xfe, 20, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 0xc0}), hid,
       {{"0", "Long item"}, {"1", "bytes 14 42 01 02 03 04 05 06"}, {"9", "bytes 07 08 09 0a 0b 0c 0d 0e"},
        {"17", "bytes 0f 10 11 12 13 14"}, {"23", "End Collection"}},
       ""},
      {trx(TRX_IN, {tok(PID_IN, 5, 0), hs(PID_STALL)}, 0), "IN transaction", {},
       "Device 5 endpoint 0 answered STALL: it does not support the request"},
      {trx(TRX_IN, {tok(PID_IN, 5, 1), hs(PID_STALL)}, 0), "IN transaction", {}, "endpoint 1 is halted"},
      {controlNoData(5, {0x40, 0x01, 0, 0, 0, 0, 0, 0}), "SETUP request",
       {{"D6..5", "type Vendor"}, {"1", "bRequest 0x01 vendor-defined"}}, "vendor request 0x01 to device"},
      {controlNoData(5, {0x00, 0x0d, 0, 0, 0, 0, 0, 0}), "SETUP request", {{"1", "bRequest 0x0d reserved"}}, ""},
      {controlNoData(5, {0x21, 0x44, 0, 0, 0, 0, 0, 0}), "SETUP request", {{"1", "bRequest 0x44 class-defined"}}, ""},
      {controlNoData(5, {0xa1, 0x01, 0, 1, 0, 0, 0, 0}), "SETUP request",
       {{"D6..5", "type Class, HID or CDC (guess)"}, {"1", "bRequest 0x01 report/response"}},
       "HID GET_REPORT or CDC GET_ENCAPSULATED_RESPONSE (class not seen: guessed from the request) to device"},
      {controlNoData(5, {0x80, 0x08, 0, 0, 0, 0, 1, 0}), "SETUP request", {{"1", "bRequest 0x08 get configuration"}},
       ""},
  };
  for (const Tcase& c : cases) host.addTree(c.row);
  for (const Tcase& c : cases) {
    Tdecoded d;
    d.raw = host.decode(c.row);
    std::string why;
    ASSERT_TRUE(parseDecodeText(d.raw, d.items, why)) << why;
    ASSERT_NE(d.table(c.title), nullptr) << d.raw;
    const std::vector<TstringVec>& rows = d.table(c.title)->rows;
    auto at = rows.begin();
    for (const TstringVec& row : c.rows) {
      at = std::find(at, rows.end(), row);
      if (at == rows.end()) {
        ADD_FAILURE() << "no row " << row[0] << " | " << row[1] << " after the rows before it, in: " << d.raw;
        break;
      }
      ++at;
    }
    EXPECT_NE(d.paragraphs().find(c.paragraph), std::string::npos) << d.raw;
    EXPECT_EQ(d.paragraphs().find("bRequest"), std::string::npos) << d.raw;  // said in its row only
  }
}

// A hand-made transaction of 100,000 packets: the text lists the first ones
// and counts the rest, instead of a table row a packet.
TEST(DecodeScript, WideTransactionListsItsFirstPacketsOnly) {
  auto wide = trx(TRX_IN, {tok(PID_IN, 5, 1)}, 0);
  for (int i = 1; i < 100000; ++i) wide->children.push_back(hs(PID_ACK));
  TdisplHost host(displtest::INIT_LUA);
  host.addTree(wide);
  Tdecoded d;
  d.raw = host.decode(wide);
  std::string why;
  ASSERT_TRUE(parseDecodeText(d.raw, d.items, why)) << why;
  EXPECT_LT(d.raw.size(), 8000u);
  const size_t listed = d.table("IN transaction")->rows.size();
  EXPECT_EQ(d.table("IN transaction")->rows[0], (TstringVec{"Token", "IN (0x69), device 5, EP 1"}));
  EXPECT_NE(d.paragraphs().find(std::to_string(100000 - listed) + " packets before the last one"), std::string::npos) << d.raw;
}

TEST(DecodeScript, WorksWithoutGetNode) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  ASSERT_EQ(luaL_dofile(L, (std::string(QX_SOURCE_DIR) + "/scripts/init.lua").c_str()), LUA_OK);
  auto t = controlNoData(5, {0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
  t->children[0]->handle = 1;
  const std::string text = rowutils::doDecode(t, L);
  std::vector<Titem> items;
  std::string why;
  EXPECT_TRUE(parseDecodeText(text, items, why)) << why;
  EXPECT_NE(text.find("no SETUP transaction"), std::string::npos) << text;
  EXPECT_EQ(lua_gettop(L), 0);
  lua_close(L);
}

// Data stages longer than any real one, in one packet or in 25,000: the text
// stays small whatever the request, and says what it left out.
TEST(DecodeScript, HugeDataStagesGiveBoundedTexts) {
  TdisplHost host(displtest::INIT_LUA);
  const TbyteVec huge(1 << 20, 0x02);
  const TbyteVec languages = {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0xff, 0xff};
  host.addTree(controlRead(5, languages, huge, huge.size()));  // a row per 2 bytes
  host.addTree(
      controlRead(5, {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xff, 0xff}, huge, huge.size()));  // a character per 2
  host.addTree(
      controlRead(5, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0xff, 0xff}, huge, huge.size()));  // 2-byte descriptors
  host.addTree(controlRead(5, languages, TbyteVec(200000, 0x02), 8));
  for (const TrowPtr& row : host.rows()) {
    if (row->kind != RK_TRANSFER) continue;
    const std::string text = host.decode(row);
    EXPECT_LT(text.size(), 100000u);
    EXPECT_NE(text.find("bytes of the 65535 asked for"), std::string::npos) << text.substr(0, 300);
    EXPECT_TRUE(text.find("are decoded") != std::string::npos || text.find("not looked at") != std::string::npos);
  }
}

}  // namespace
