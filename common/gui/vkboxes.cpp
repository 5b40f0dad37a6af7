// Box builders of the row line and its box string.
#include "vkboxes.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "vkutils.h"

namespace {

constexpr int ROW_INDENT_STEP = 16;  // pixels per tree level
constexpr int FIT = -1;              // width that fits the box's texts
constexpr size_t SHOWN_DATA_BYTES = 8;

constexpr int NUM_REQ_NAMES = 13;
const char* const REQ_NAME[NUM_REQ_NAMES] = {
    "Get Status",     "Clear Feature", "Reserved",   "Set Feature",   "Reserved",      "Set Address", "Get Descriptor",
    "Set Descriptor", "Get Config",    "Set Config", "Get Interface", "Set Interface", "Sync Frame",
};

const char* setupReqestName(int code) {
  return static_cast<unsigned>(code) < NUM_REQ_NAMES ? REQ_NAME[code] : "Non-standard";
}

// 16 pixels a level plus 10; saturated so that a hand-made level cannot overflow.
int indentGap(int level) {
  const long long gap = static_cast<long long>(ROW_INDENT_STEP) * level + 10;
  return static_cast<int>(std::clamp<long long>(gap, INT_MIN, INT_MAX));
}

std::string hex0x(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", value & 0xffu);
  return text;
}

}  // namespace

TboxVec* Tboxes::getBoxes(TrowPtr row, size_t maxBoxes) {
  boxes.clear();
  FmaxBoxes = maxBoxes;
  genBoxes(row, false, 1);
  return &boxes;
}

void Tboxes::init() { boxes.clear(); }

void Tboxes::add2(int gap, int width, const std::string& top, uint64_t fg, uint64_t bg, const std::string& bottom,
                  uint64_t bfg, uint64_t bbg) {
  TdisplayBox box;
  box.gap = gap;
  box.width = width;
  box.lines = 1;
  box.top = Tboxlet{top, fg, bg};
  box.bottom = Tboxlet{bottom, bfg, bbg};
  boxes.push_back(std::move(box));
}

void Tboxes::add1(int gap, int width, const std::string& text, uint64_t fg, uint64_t bg) {
  TdisplayBox box;
  box.gap = gap;
  box.width = width;
  box.lines = 0;
  box.top = Tboxlet{text, fg, bg};
  boxes.push_back(std::move(box));
}

void Tboxes::genLeftBox(uint64_t fg, uint64_t bg, const std::string& text1, const std::string& text2) {
  add2(0, 14, text1, fg, bg, text2, fg, bg);
}

void Tboxes::genLeftBox(uint64_t fg, uint64_t bg, const std::string& text, unsigned n) {
  add2(0, 14, text, fg, bg, std::to_string(n), fg, bg);
}

void Tboxes::genLeftPacketBox(unsigned number, uint64_t tick) {
  add2(0, 14, "Packet " + std::to_string(number), FG_PACKET, BG_PACKET, tickToStr(tick), FG_PACKET, BG_PACKET);
}

void Tboxes::genResetBox(uint64_t duration, uint64_t tick) {
  add2(0, 28, "Reset for " + tickToStr(duration), FG_RESET, BG_RESET, tickToStr(tick), FG_RESET, BG_RESET);
}

void Tboxes::genIdleBox(unsigned ticks) { add2(10, 8, "Idle", FG_IDLE, BG_IDLE, std::to_string(ticks)); }

void Tboxes::genPidBox(int level, int pid) {
  const unsigned p = static_cast<unsigned>(pid);
  add2(indentGap(level), 7, utils::pidName(p), utils::pidFG(p), utils::pidBG(p), utils::pidPrintCode(p));
}

void Tboxes::genSimpleBox(const std::string& label, uint64_t fg, uint64_t bg, int n) {
  add2(0, 7, label, fg, bg, std::to_string(n));
}

void Tboxes::genFrameBox(int n) { genSimpleBox("Frame", FG_FRAME, BG_FRAME, n); }
void Tboxes::genAddrBox(int n) { genSimpleBox("ADDR", FG_ADDR, BG_ADDR, n); }
void Tboxes::genEndpBox(int n) { genSimpleBox("ENDP", FG_ENDP, BG_ENDP, n); }

void Tboxes::genSimpleVarBox(const std::string& label, uint64_t fg, uint64_t bg, const std::string& text, int width,
                             int gap) {
  add2(gap, width, label, fg, bg, text);
}

void Tboxes::genDataToggleBox(int pid, bool setup) {
  const char* digit = pid == PID_DATA2 ? "2" : pid == PID_DATA1 ? "1" : "0";
  add2(setup ? 10 : 0, 2, "T", FG_DATA_TOG, BG_DATA_TOG, digit);
}

void Tboxes::genDataBox(const std::string& label, const std::string& text) {
  add2(0, FIT, label, FG_DATA, BG_DATA, text);
}

void Tboxes::genDataBox(const TbyteVec& bytes) {
  const size_t n = bytes.size();
  std::string label = "DATA";
  if (n > 0) label += " (" + std::to_string(n) + " bytes)";
  std::string text;
  for (size_t i = 0; i < std::min(n, SHOWN_DATA_BYTES); ++i) {
    text += hex2(bytes[i]) + " ";
    if (i == 3) text += ' ';
  }
  if (n > SHOWN_DATA_BYTES) text += "  ...";
  genDataBox(label, text);
}

void Tboxes::genCrcBox(const std::string& label, const std::string& text, bool ok) {
  if (ok)
    add2(0, 7, label, FG_CRC_OK, BG_CRC_OK, text);
  else
    add2(0, 7, label, FG_CRC_FAIL, BG_CRC_FAIL, text);
}

void Tboxes::genCrc5Box(int crc, bool ok) { genCrcBox("CRC5", hex0x(static_cast<unsigned>(crc), 2), ok); }

void Tboxes::genCrc16Box(int crc, bool ok) { genCrcBox("CRC16", hex0x(static_cast<unsigned>(crc), 4), ok); }

void Tboxes::genSofGroupBox(const std::string& text) { add1(10, 21, text, FG_SOFGROUP, BG_SOFGROUP); }

void Tboxes::genTransferBox(int level, const std::string& text) {
  add1(indentGap(level), 14, text, FG_CONTROL, BG_CONTROL);
}

void Tboxes::genWarning() { add1(0, 35, "Warning - Unimplemented", RED, AZURE); }

void Tboxes::genSetupBoxes(Tdata& data) {
  if (data.data.size() != 8) return;
  const TbyteVec& b = data.data;
  static const char* const TYPE[4] = {"S", "C", "V", "R"};
  static const char* const RECIPIENT[4] = {"D", "I", "E", "O"};
  const unsigned recipient = b[0] & 0x1fu;
  genDataToggleBox(data.pid, true);
  genSimpleVarBox("Dir", BLACK, BG_DIR, (b[0] & 0x80) ? "DtoH" : "HtoD", 4, 0);
  genSimpleVarBox("Typ", BLACK, BG_TYP, TYPE[(b[0] >> 5) & 3u], 3, 0);
  genSimpleVarBox("R", BLACK, BG_RCP, recipient < 4 ? RECIPIENT[recipient] : "?", 2, 0);
  genSimpleVarBox("bRequest", BLACK, BG_REQ, std::to_string(b[1]), FIT, 0);
  genSimpleVarBox("wValue", BLACK, BG_VAL, hex0x(b[2] + 256u * b[3], 4), FIT, 0);
  genSimpleVarBox("wIndex", BLACK, BG_IDX, hex0x(b[4] + 256u * b[5], 4), FIT, 0);
  genSimpleVarBox("wLength", BLACK, BG_LEN, std::to_string(b[6] + 256u * b[7]), FIT, 0);
}

void Tboxes::genTransactionBoxes(const Ttransax& trx) {
  genLeftBox(FG_TRANSACTION, BG_TRANSACTION, "Transaction", trx.number);
  for (const TrowPtr& child : trx.children) {
    if (boxes.size() >= FmaxBoxes) break;  // a hand-made file may hold a million children
    if (!child) continue;
    // Only a hand-made file puts anything but packets here: no boxes for it.
    visitRow(*child, Toverload{[this, &child, &trx](Ttoken&) { genBoxes(child, true, trx.level); },
                               [this, &child, &trx](Tdata& data) {
                                 if (trx.trxType == TRX_SETUP)
                                   genSetupBoxes(data);
                                 else
                                   genBoxes(child, true, 1);
                               },
                               [this, &child](Thandshake&) { genBoxes(child, true, 1); }, [](Treset&) {}, [](Tsof&) {},
                               [](Tgrouper&) {}});
  }
}

void Tboxes::genTransferBoxes(Ttransfer& tfr) {
  genLeftBox(FG_TRANSFER, BG_TRANSFER, "Control Transfer", tfr.number);
  auto setup = tfr.findSetupTransax();
  if (!setup) return;
  auto token = setup->findTokenPkt();
  auto request = setup->findDataPkt();
  if (!token || !request || request->data.size() != 8) return;
  genSimpleVarBox("bRequest", FG_REQ, BG_REQ, setupReqestName(request->data[1]), FIT, 10);
  genAddrBox(token->addr);
  genEndpBox(token->endp);
  genDataBox(tfr.findData());  // settles success
  genSimpleVarBox("Success", FG_SUCCESS, BG_SUCCESS, tfr.success ? "OK" : "Fail", FIT, 0);
}

void Tboxes::genBoxes(TrowPtr row, bool compact, int level) {
  if (!row) return;
  visitRow(*row,
           Toverload{[this](Treset& r) {
                       genResetBox(r.duration, r.tick);
                       genIdleBox(r.idleTicks);
                     },
                     [this](Tsof& s) {
                       genLeftPacketBox(s.number, s.tick);
                       genPidBox(s.level, PID_SOF);  // always SOF, whatever the pid field holds
                       genFrameBox(s.frame);
                       genCrc5Box(s.crc5, s.crcOK);
                       genIdleBox(s.idle);
                     },
                     [this, compact, level](Ttoken& k) {
                       if (!compact) genLeftPacketBox(k.number, k.tick);
                       genPidBox(compact ? level : k.level, k.pid);
                       genAddrBox(k.addr);
                       genEndpBox(k.endp);
                       if (!compact) {
                         genCrc5Box(k.crc5, k.crcOK);
                         genIdleBox(k.idle);
                       }
                     },
                     [this, compact](Tdata& d) {
                       if (!compact) genLeftPacketBox(d.number, d.tick);
                       genPidBox(compact ? 0 : d.level, d.pid);
                       genDataToggleBox(d.pid, false);
                       genDataBox(d.data);
                       if (!compact) {
                         genCrc16Box(d.crc16, d.crcOK);
                         genIdleBox(d.idle);
                       }
                     },
                     [this, compact](Thandshake& h) {
                       if (!compact) genLeftPacketBox(h.number, h.tick);
                       genPidBox(compact ? 0 : h.level, h.pid);
                       if (!compact) genIdleBox(h.idle);
                     },
                     [this](TsofGroup& g) {
                       std::string range;
                       if (!g.children.empty()) {
                         const TrowPtr& first = g.children.front();
                         const TrowPtr& last = g.children.back();
                         if (first && first->kind == RK_SOF) range += std::to_string(first->number);
                         range += " .. ";
                         if (last && last->kind == RK_SOF) range += std::to_string(last->number);
                       }
                       genLeftBox(FG_PACKET, BG_PACKET, "Packets", range);
                       genSofGroupBox(std::to_string(g.children.size()) + " SOFs");
                     },
                     [this](Ttransax& t) { genTransactionBoxes(t); }, [this](Ttransfer& c) { genTransferBoxes(c); }});
}

std::string Tboxes::tickToStr(uint64_t ticks) {
  if (ticks == MAX_TICK) return std::string();  // the row has no time
  // ticks * 1000 may pass 64 bits: whole microseconds, then three digits of ns.
  const uint64_t us = ticks / 12u;
  std::string digits = std::to_string(ticks % 12u * 1000u / 12u);
  if (us > 0) digits = std::to_string(us) + std::string(3 - digits.size(), '0') + digits;
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    text += digits[i];
    const size_t following = digits.size() - 1 - i;
    if (following > 0 && following % 3 == 0) text += ' ';
  }
  return text + " ns";
}

std::string Tboxes::hexRGB(uint64_t colour) {
  return "0xff" + hex2(static_cast<unsigned>(colour)) + hex2(static_cast<unsigned>(colour >> 8)) +
         hex2(static_cast<unsigned>(colour >> 16));
}

std::string Tboxes::getBoxesString(TrowPtr row) {
  const TboxVec list = *getBoxes(row);
  std::string text;
  for (const TdisplayBox& box : list) {
    const std::string top = "|s" + hexRGB(box.top.fg) + "," + hexRGB(box.top.bg) + "," + box.top.text;
    if (box.lines == 0) {
      text += "g" + std::to_string(box.gap) + ",w" + std::to_string(box.width) + ",t1" + top;
    } else if (box.lines == 1) {
      long long width = box.width;
      if (width < 0) width = -static_cast<long long>(std::max(box.top.text.size(), box.bottom.text.size()));
      text += "g" + std::to_string(box.gap) + ",w" + std::to_string(width) + ",t2" + top + "|s" +
              hexRGB(box.bottom.fg) + "," + hexRGB(box.bottom.bg) + "," + box.bottom.text;
    }
    text += ';';
  }
  return text + "\n";
}
