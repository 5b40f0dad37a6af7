// Every table cell that the decode scripts can write, over every variant of
// the fields that make cells wide, measured in the decode pane's own font
// against its columns at the default layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "displtest.h"
#include "guitest.h"
#include "startdir.h"
#include "vkapp.h"
#include "vkdecode.h"
#include "vkmainframe.h"
#include "vkwxmid.h"

namespace {

using namespace displtest;

constexpr int MARGIN_PX = 2;       // left free in every cell
constexpr int HID_DEPTHS = 8;      // collections nested, past the scripts' indentation bound
constexpr int REPORT_ITEMS = 50;   // items of one report descriptor
constexpr int CONFIG_PARTS = 40;   // descriptors after one configuration header

// A device-to-host request whose whole data stage comes in one packet.
TrowPtr fetch(int type, int request, int value, int index, const TbyteVec& reply) {
  return controlRead(5, setup(type, request, value, index, int(reply.size())), reply, std::max<size_t>(reply.size(), 1));
}

// Configuration sets of a header and parts, CONFIG_PARTS descriptors each;
// type 7 describes the other speed, high speed.
void addConfigurations(TrowVec& roots, const std::vector<TbyteVec>& parts, uint8_t type = 2) {
  for (size_t i = 0; i < parts.size(); i += CONFIG_PARTS) {
    TbyteVec set = {9, type, 0, 0, 0xff, 0xff, 0xff, 0x00, 0xff};
    for (size_t k = i; k < std::min(parts.size(), i + CONFIG_PARTS); ++k) set = set + parts[k];
    set[2] = uint8_t(set.size()), set[3] = uint8_t(set.size() >> 8);
    roots.push_back(fetch(0x80, 6, type << 8, 0, set));
  }
}

// The report descriptor items: every prefix with data of its size that
// names something or is widest, each Collection closed and each End
// Collection reopened, so that all stay at the depth they start at.
std::vector<TbyteVec> reportItems() {
  const std::vector<std::vector<uint32_t>> data = {
      {0},
      {0x00, 0x01, 0x02, 0x06, 0x07, 0x08, 0x0c, 0x0d, 0x0e, 0x0f, 0x30, 0x38, 0x46, 0x7f, 0x80, 0xa2, 0xff},
      {0x01ff, 0x7fff, 0x8000, 0xff00, 0xffff},
      {0x7fffffff, 0x80000000, 0xffffffff, 0x0000ff00}};
  std::vector<TbyteVec> items;
  for (int prefix = 0; prefix < 256; ++prefix) {
    if (prefix == 0xfe) continue;
    if (prefix == 0x08) items.push_back({0x05, 0x01});  // Generic Desktop names the usages
    const int size = (prefix & 3) == 3 ? 4 : prefix & 3;
    for (uint32_t v : data[size == 4 ? 3 : size]) {
      TbyteVec item = {uint8_t(prefix)};
      for (int k = 0; k < size; ++k) item.push_back(uint8_t(v >> (8 * k)));
      if ((prefix & 0xfc) == 0xa0) item.push_back(0xc0);
      if ((prefix & 0xfc) == 0xc0) item.push_back(0xa0);
      items.push_back(item);
    }
  }
  for (int n : {0, 1, 13, 255}) items.push_back(TbyteVec{0xfe, uint8_t(n), 0x42} + TbyteVec(size_t(n), 0xee));
  // Usages named under a page, 4-byte ones under their own; a Push past the
  // bound, the Pop that cannot restore it, and a Pop of an empty stack.
  for (uint32_t page : {0x01u, 0x07u, 0x09u, 0xff00u})
    for (int prefix : {0x09, 0x0a, 0x0b, 0x19, 0x1a, 0x1b, 0x29, 0x2a, 0x2b})
      for (uint32_t v : {0xffu, 0xffffu, page << 16 | 0xffff, 0xffffffffu}) {
        TbyteVec item = {0x06, uint8_t(page), uint8_t(page >> 8), uint8_t(prefix)};
        for (int k = 0; k < ((prefix & 3) == 3 ? 4 : prefix & 3); ++k) item.push_back(uint8_t(v >> (8 * k)));
        items.push_back(item);
      }
  items.push_back(TbyteVec(33, 0xa4) + TbyteVec(34, 0xb4));
  return items;
}

TrowVec variants() {
  TrowVec roots;
  // Requests: every bmRequestType, every code of each type and recipient,
  // the values and indexes that mean something, and the extremes.
  // A class request looks back for its device's descriptors: a reset before
  // it ends the walk, and it names a class only as a guess.
  auto ask = [&roots](const TbyteVec& bytes) {
    if ((bytes[0] & 0x60) == 0x20 || bytes[1] == 6) roots.push_back(std::make_shared<Treset>());
    roots.push_back(controlNoData(5, bytes));
  };
  for (int type = 0; type < 256; ++type) ask(setup(type, 0, 0, 0, 0));
  for (int type : {0x00, 0x01, 0x02, 0x03, 0x1f, 0x21, 0x22, 0x41, 0x62, 0x80, 0x81, 0x82, 0xa1, 0xc0, 0xe0})
    for (int request = 0; request < 256; ++request)
      for (int value : {0x0000, 0x0001, 0x0002, 0x0003, 0x00ff, 0x0300, 0x7f00, 0xff00, 0xffff})
        if (value == 0xffff || request < 0x0c || (request >= 0x20 && request < 0x24) || request >= 0xfe)
          ask(setup(type, request, value, 0xff8f, 0xffff));
  for (int index : {0x0000, 0x0009, 0x000b, 0x008f, 0x00ff, 0x0404, 0x0407, 0x0409, 0x040c, 0x0410, 0x0411, 0x0412,
                    0x0416, 0x0419, 0x0804, 0x0809, 0x0c0a, 0xffff})
    for (int type : {0x80, 0x81, 0x82, 0x83})
      ask(setup(type, 6, 0x03ff, index, 0xffff));
  // Class requests to an interface, endpoint and device of every class, the
  // descriptors they are named from close before them.
  for (int c = 0; c < 256; ++c)
    for (int type : {0x20, 0x21, 0x22, 0x23, 0xa1, 0x81})
      for (int code = 0; code < 256; ++code) {
        if (code != 0x44 && c != 2 && c != 3 && c != 8 && !(type == 0x81 && code == 6)) continue;
        if (code % 64 == 0 || code == 0x44) {
          roots.push_back(fetch(0x80, 6, 0x0100, 0, TbyteVec{18, 1, 0, 2, uint8_t(c)} + TbyteVec(13, 0)));
          roots.push_back(fetch(0x80, 6, 0x0200, 0, {9, 2, 25, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, uint8_t(c), 0, 0,
                                                     0, 7, 5, 0x81, 3, 8, 0, 10}));
        }
        roots.push_back(controlNoData(5, setup(type, code, type == 0x81 ? 0x2200 : 0xffff, type == 0x22 ? 0x81 : 0, 0xffff)));
      }
  // Every descriptor type asked for and answered, and inside a configuration.
  std::vector<TbyteVec> parts;
  for (int kind = 0; kind < 256; ++kind) {
    TbyteVec d(kind == 3 ? 255 : 18, 0xff);
    d[0] = uint8_t(d.size()), d[1] = uint8_t(kind);
    roots.push_back(fetch(0x80, 6, kind << 8 | 0xff, 0xffff, d));
    roots.push_back(fetch(0x80, 6, kind << 8, 0, {0x09, uint8_t(kind), 0, 0, 0, 0, 0, 0, 0}));
    parts.push_back(TbyteVec{18, uint8_t(kind), uint8_t(kind)} + TbyteVec(15, 0xff));
    parts.push_back({3, uint8_t(kind), 0xff});
    parts.push_back({9, 0x24, uint8_t(kind), 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
  }
  // Endpoints: every address, every bInterval of every transfer type, every
  // wMaxPacketSize.
  for (int v = 0; v < 256; ++v) {
    parts.push_back({7, 5, uint8_t(v), uint8_t(v), 0xff, 0xff, 0xff});
    for (int attributes = 0; attributes < 4; ++attributes)
      parts.push_back({7, 5, 0x8f, uint8_t(attributes | 0x3c), 0xff, 0x07, uint8_t(v)});
  }
  for (int size = 0; size < 0x10000; ++size)
    parts.push_back(TbyteVec{7, 5, 0x0f, 1} + le16(size) + TbyteVec{16});
  std::vector<TbyteVec> highSpeed;
  for (int v = 0; v < 256; ++v)
    for (int attributes = 0; attributes < 4; ++attributes)
      for (uint8_t address : {0x0f, 0x8f}) {
        highSpeed.push_back({7, 5, address, uint8_t(attributes), 0xff, 0x1f, uint8_t(v)});
        parts.push_back({9, 5, address, uint8_t(attributes), 0xff, 0x07, uint8_t(v), uint8_t(v), uint8_t(v)});
      }
  addConfigurations(roots, highSpeed, 7);
  // Interfaces and functions of every class with their named subclasses and
  // protocols; HID descriptors naming every type.
  for (int c = 0; c < 256; ++c)
    for (int sub : {0, 1, 2, 6, 0xff})
      for (int proto : {0, 1, 2, 0x50, 0xff}) {
        parts.push_back({9, 4, 0xff, 0xff, 0xff, uint8_t(c), uint8_t(sub), uint8_t(proto), 0xff});
        parts.push_back({8, 11, 0xff, 0xff, uint8_t(c), uint8_t(sub), uint8_t(proto), 0xff});
      }
  for (int kind = 0; kind < 256; kind += 8) {
    TbyteVec hid = {6 + 8 * 3, 0x21, 0xff, 0xff, 0xff, 8};
    for (int k = 0; k < 8; ++k) hid = hid + TbyteVec{uint8_t(kind + k), 0xff, 0xff};
    parts.push_back({9, 4, 0, 0, 1, 3, 1, 1, 0});  // a HID descriptor only under a HID interface
    parts.push_back(hid);
  }
  addConfigurations(roots, parts);
  roots.push_back(std::make_shared<Treset>());  // the requests below: a guessed class
  for (uint8_t fill : {0x00, 0x7f, 0xff}) {
    TbyteVec device(18, fill);
    device[0] = 18, device[1] = 1, device[4] = 0xef, device[5] = 2, device[6] = 1;
    roots.push_back(fetch(0x80, 6, 0x0100, 0, device));
    roots.push_back(fetch(0x80, 6, 0x0600, 0, TbyteVec{10, 6} + TbyteVec(8, fill)));
    roots.push_back(fetch(0xa1, 0x21, 0, 0, TbyteVec(7, fill)));
  }
  TbyteVec languages = {0, 3};
  for (int id : {0x0404, 0x0407, 0x0409, 0x040c, 0x0410, 0x0411, 0x0412, 0x0416, 0x0419, 0x0804, 0x0809, 0x0c0a, 0xffff})
    languages = languages + le16(id);
  languages[0] = uint8_t(languages.size());
  roots.push_back(fetch(0x80, 6, 0x0300, 0, languages));
  // HID report descriptors at every depth up to past the scripts' bound.
  const std::vector<TbyteVec> items = reportItems();
  for (int depth = 0; depth <= HID_DEPTHS; ++depth)
    for (size_t i = 0; i < items.size(); i += REPORT_ITEMS) {
      TbyteVec report;
      for (int k = 0; k < depth; ++k) report = report + TbyteVec{0xa1, 0x02};
      for (size_t k = i; k < std::min(items.size(), i + REPORT_ITEMS); ++k) report = report + items[k];
      roots.push_back(fetch(0x81, 6, 0x2200, 0, report));
    }
  // Packets of every PID the decoder gives their kind, with damage; stages
  // of packets longer than any real one, unanswered; resets and frames.
  for (int token : {PID_OUT, PID_IN, PID_SETUP})
    for (int data : {PID_DATA0, PID_DATA1, PID_DATA2, PID_MDATA})
      for (int handshake : {PID_ACK, PID_NYET, PID_NAK, PID_STALL}) {
        auto t = tok(token, 127, 15);
        auto d = dat(data, TbyteVec(data == PID_MDATA ? 65535 : 1023, 0xff));
        t->crcOK = d->crcOK = false;
        t->crc5 = 0x1f, d->crc16 = 0xffff;
        roots.push_back(trx(token == PID_SETUP ? TRX_SETUP : token == PID_IN ? TRX_IN : TRX_OUT, {t, d, hs(handshake)}, 0));
        roots.push_back(trx(TRX_IN, {tok(token, 0, 0), hs(handshake)}, 0));
      }
  auto unanswered = std::make_shared<Ttransfer>(TFR_CONTROL);
  unanswered->children = {trx(TRX_SETUP, {tok(PID_SETUP, 127, 0), dat(PID_DATA0, setup(0x80, 6, 0x0100, 0, 0xffff))}),
                          trx(TRX_IN, {tok(PID_IN, 127, 0), dat(PID_DATA1, TbyteVec(65535, 0))}),
                          trx(TRX_OUT, {tok(PID_OUT, 127, 0)})};
  roots.push_back(unanswered);
  // Data-stage packets that do not count: repeated, out of turn, no toggle.
  for (int type : {0x80, 0x00}) {
    const int token = type ? PID_IN : PID_OUT;
    auto uncounted = controlNoData(127, setup(type, 6, 0x0100, 0, 0xffff));
    uncounted->children.pop_back();
    for (int data : {PID_DATA0, PID_DATA1, PID_DATA1, PID_DATA0, PID_DATA0, PID_DATA2, PID_MDATA})
      uncounted->children.push_back(trx(type ? TRX_IN : TRX_OUT, {tok(token, 127, 0), dat(data, TbyteVec(1023, 0)), hs(PID_ACK)}));
    roots.push_back(uncounted);
  }
  for (uint32_t ticks : {0u, 29u, 120000u, 12345678u, 0xffffffffu}) {
    auto reset = std::make_shared<Treset>();
    reset->duration = reset->idleTicks = ticks;
    roots.push_back(reset);
  }
  for (int frame : {0, 2047}) {
    auto sof = std::make_shared<Tsof>();
    sof->pid = PID_SOF, sof->frame = frame, sof->crc5 = 0x1f, sof->crcOK = false;
    roots.push_back(sof);
  }
  return roots;
}

}  // namespace

// The pane's room is what the columns of a table rendered in the started
// program's decode pane leave for text, less the list's 8 px margin.
TEST(DecodeCells, EveryCellTheScriptsWriteFitsTheDefaultPane) {
  startdir::TstartDir dir(false, false);
  startdir::freshSettings();
  TmainFrame* frame = startQuellix();
  TdecodePane* pane = frame->midPanePtr->decodePane;
  pane->render("TX\nA#B\n1#2");
  TdecodeList* list = nullptr;
  ASSERT_TRUE(guitest::pumpUntil([&] {
    for (wxWindow* w : pane->scroller->itemPanel->GetChildren())
      if (w->IsShown() && dynamic_cast<TdecodeListItem*>(w)) list = dynamic_cast<TdecodeList*>(w->GetChildren()[1]);
    return list && list->GetColumnWidth(1) > 0;
  }));
  const int room[2] = {list->GetColumnWidth(0) - 8, list->GetColumnWidth(1) - 8};
  EXPECT_EQ(room[0], 92);
  EXPECT_EQ(room[1], 272);

  TdisplHost host(INIT_LUA);
  ASSERT_EQ(host.data.scriptError(), "");
  host.addTrees(variants());
  std::set<std::string> cells[2];
  size_t tables = 0;
  // The roots, and the packets of the transactions among them: a transfer's
  // own rows show the tables that it shows.
  TrowVec shown;
  for (const TrowPtr& root : *host.roots) {
    shown.push_back(root);
    if (root->kind == RK_TRANSAX) for (const TrowPtr& p : std::static_pointer_cast<Tgrouper>(root)->children) shown.push_back(p);
  }
  for (const TrowPtr& row : shown) {
    for (const std::string& item : decodetext::items(host.decode(row))) {
      if (decodetext::kind(item) != decodetext::IK_TABLE) continue;
      ++tables;
      const TstringVec lines = decodetext::tableLines(item);
      for (size_t r = 0; r < decodetext::rowCount(lines); ++r)
        for (size_t c = 0; c < 2; ++c) cells[c].insert(decodetext::cell(lines, r, c));
    }
  }
  EXPECT_GT(tables, 10000u);
  for (int c = 0; c < 2; ++c) {
    int widest = 0, cut = 0;
    std::string widestCell;
    for (const std::string& text : cells[c]) {
      const int w = list->GetTextExtent(wxString::FromUTF8(text)).x;
      if (w > widest) widest = w, widestCell = text;
      if (w > room[c] - MARGIN_PX && ++cut <= 20) ADD_FAILURE() << "column " << c << ", " << w << " px: " << text;
    }
    EXPECT_EQ(cut, 0) << "cells of column " << c << " wider than " << room[c] - MARGIN_PX << " px";
    std::printf("column %d: %zu cells, widest %d px of %d (%d to spare): %s\n", c, cells[c].size(), widest, room[c],
                room[c] - widest, widestCell.c_str());
  }
  startdir::closeAll();
}
