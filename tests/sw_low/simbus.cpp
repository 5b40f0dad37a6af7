#include "simbus.h"

#include <cstdio>

#include "qxcp2130.h"

namespace simbus {

std::string hex(const Bytes& b) {
  std::string s;
  char tmp[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(tmp, sizeof tmp, i ? " %02X" : "%02X", b[i]);
    s += tmp;
  }
  return s;
}

namespace {

std::string ctl(uint8_t type, uint8_t request) {
  char tmp[32];
  std::snprintf(tmp, sizeof tmp, "C%02X %02X v0000 i0000", type, request);
  return tmp;
}

}  // namespace

std::string line(const kelvosim::TxferRecord& r) {
  char tmp[48];
  switch (r.Fkind) {
    case kelvosim::XK_CONTROL:
      if (r.FrequestType & 0x80) {
        std::snprintf(tmp, sizeof tmp, "C%02X %02X v%04X i%04X len %u", r.FrequestType, r.Frequest, r.Fvalue, r.Findex,
                      r.Flength);
        return tmp;
      }
      std::snprintf(tmp, sizeof tmp, "C%02X %02X v%04X i%04X : ", r.FrequestType, r.Frequest, r.Fvalue, r.Findex);
      return tmp + hex(r.Fdata);
    case kelvosim::XK_BULK_OUT: std::snprintf(tmp, sizeof tmp, "O%02X : ", r.Fendpoint); return tmp + hex(r.Fdata);
    case kelvosim::XK_BULK_IN: std::snprintf(tmp, sizeof tmp, "I%02X len %u", r.Fendpoint, r.Flength); return tmp;
    default: return "?";
  }
}

Lines lines(const std::vector<kelvosim::TxferRecord>& log) {
  Lines out;
  for (const auto& r : log) out.push_back(line(r));
  return out;
}

Lines busLines() {
  Lines out;
  for (const auto& r : kelvosim::transfers()) {
    if (r.Fkind == kelvosim::XK_CONTROL && (r.FrequestType & 0x60) != 0x40) continue;
    out.push_back(line(r));
  }
  return out;
}

std::string ctlOut(uint8_t request, const Bytes& data) { return ctl(0x40, request) + " : " + hex(data); }

std::string ctlIn(uint8_t request, uint16_t len) { return ctl(0xC0, request) + " len " + std::to_string(len); }

std::string bulkOut(uint8_t ep, const Bytes& data) {
  char tmp[8];
  std::snprintf(tmp, sizeof tmp, "O%02X : ", ep);
  return tmp + hex(data);
}

std::string bulkIn(uint8_t ep, uint32_t len) {
  char tmp[24];
  std::snprintf(tmp, sizeof tmp, "I%02X len %u", ep, len);
  return tmp;
}

Bytes spiHeader(uint8_t cmd, uint32_t len) { return qxcp2130::header(cmd, len); }

Lines spiWrite(int channel, const Bytes& data, uint8_t epOut) {
  Lines out{ctlOut(qxcp2130::REQ_SET_GPIO_CS, qxcp2130::chipSelect(channel))};
  for (const Bytes& part : qxcp2130::writeTransfers(data)) out.push_back(bulkOut(epOut, part));
  return out;
}

Lines spiRead(int channel, uint32_t len, uint8_t epOut, uint8_t epIn) {
  return {ctlOut(qxcp2130::REQ_SET_GPIO_CS, qxcp2130::chipSelect(channel)),
          bulkOut(epOut, qxcp2130::header(qxcp2130::CMD_READ, len)), bulkIn(epIn, len)};
}

Lines spiWriteRead(int channel, const Bytes& data, uint8_t epOut, uint8_t epIn) {
  return {ctlOut(qxcp2130::REQ_SET_GPIO_CS, qxcp2130::chipSelect(channel)),
          bulkOut(epOut, qxcp2130::message(qxcp2130::CMD_WRITE_READ, data)), bulkIn(epIn, uint32_t(data.size()))};
}

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Bytes> spiMosi(int channel) {
  std::vector<Bytes> out;
  for (const auto& r : kelvosim::spiLog())
    if (r.Fchannel == channel) out.push_back(r.Fmosi);
  return out;
}

}  // namespace simbus
