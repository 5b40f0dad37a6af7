#include "simbridge.h"

#include <algorithm>
#include <cstring>

#include "vkchips.h"

namespace kelvosim {

namespace {

constexpr int STALL = -9;  // LIBUSB_ERROR_PIPE
constexpr unsigned CHANNELS = 11;
constexpr uint32_t MAX_READ = 16u << 20;

}  // namespace

TsimBridge::TsimBridge(const TdevConfig& cfg, int device, TsimXo2& cfgPort, TsimCapture& appPort, TsimEnv& env)
    : FcfgPort(cfgPort),
      FappPort(appPort),
      Fenv(env),
      Fdevice(device),
      Fvendor(cfg.Fvendor),
      Fproduct(cfg.Fproduct),
      Fpriority(cfg.FtransferPriority),
      Fversion{cfg.FversionMajor, cfg.FversionMinor} {}

int TsimBridge::control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                        uint16_t length) {
  (void)value;
  (void)index;
  if (Fopen) {  // endpoint 0 traffic inside an unfinished SPI command
    ++FprotocolErrors;
    endTransaction();
  }
  auto reply = [&](const uint8_t* src, uint16_t n) {
    const uint16_t m = std::min(n, length);
    if (m && data) std::memcpy(data, src, m);
    return static_cast<int>(m);
  };
  auto stall = [&]() {
    ++FprotocolErrors;
    return STALL;
  };
  if (requestType == kelvo::REQ_TYPE_OUT) {
    switch (request) {
      case kelvo::REQ_SET_GPIO_CS: {
        if (length != 2 || !data || data[0] >= CHANNELS || data[1] > 2) return stall();
        const unsigned bit = 1u << data[0];
        if (data[1] == 0)
          FcsEnabled &= ~bit;
        else if (data[1] == 1)
          FcsEnabled |= bit;
        else
          FcsEnabled = bit;
        FlastCs = data[0];
        ++FcsRequests;
        return 2;
      }
      case kelvo::REQ_SET_GPIO_MODE_LEVEL:
        if (length != 3 || !data || data[0] >= CHANNELS || data[1] > 2 || data[2] > 1) return stall();
        setGpio(data[0], data[1], data[2]);
        return 3;
      case kelvo::REQ_SET_CLOCK_DIVIDER:
        if (length != 1 || !data) return stall();
        FclockDivider = data[0];
        return 1;
      case kelvo::REQ_SET_SPI_WORD:
        if (length != 2 || !data || data[0] >= CHANNELS) return stall();
        FspiWord[data[0]] = data[1];
        return 2;
      default: return stall();
    }
  }
  if (requestType == kelvo::REQ_TYPE_IN) {
    switch (request) {
      case kelvo::REQ_GET_READONLY_VERSION: return reply(Fversion, 2);
      case kelvo::REQ_GET_USB_CONFIG: {
        const uint8_t c[9] = {
            uint8_t(Fvendor), uint8_t(Fvendor >> 8), uint8_t(Fproduct), uint8_t(Fproduct >> 8), 0x32, 0x00, 0x01, 0x00,
            Fpriority};
        return reply(c, 9);
      }
      case kelvo::REQ_GET_GPIO_CS: {
        const uint8_t c[4] = {uint8_t(FcsEnabled), uint8_t(FcsEnabled >> 8), 0, 0};
        return reply(c, 4);
      }
      case kelvo::REQ_GET_SPI_WORD: {
        uint8_t w[CHANNELS];
        for (unsigned i = 0; i < CHANNELS; ++i) w[i] = FspiWord[i] < 0 ? 0 : uint8_t(FspiWord[i]);
        return reply(w, CHANNELS);
      }
      default: return stall();
    }
  }
  return stall();
}

void TsimBridge::setGpio(unsigned index, unsigned mode, unsigned level) {
  FgpioMode[index] = static_cast<uint8_t>(mode);
  FgpioLevel[index] = static_cast<uint8_t>(level);
  // GPIO 7 is the capture design's reset, active low; an input floats high.
  if (index == kelvo::GPIO_FPGA_RESET) FappPort.setResetHeld(mode != 0 && level == 0);
}

void TsimBridge::bulkOut(const uint8_t* data, uint32_t length) {
  if (length == 0) {
    packet(data, 0);
    return;
  }
  for (uint32_t at = 0; at < length; at += kelvo::BULK_PACKET_SIZE)
    packet(data + at, std::min(kelvo::BULK_PACKET_SIZE, length - at));
}

void TsimBridge::packet(const uint8_t* p, uint32_t n) {
  uint32_t i = 0;
  if (!Fopen) {
    if (n == 0) return;
    if (n < kelvo::SPI_HEADER_SIZE) {
      ++FprotocolErrors;
      return;
    }
    const uint8_t cmd = p[2];
    const uint32_t len = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
    if (p[0] || p[1] || p[3]) ++FprotocolErrors;
    if (cmd > kelvo::SPI_CMD_WRITE_READ || (cmd == kelvo::SPI_CMD_READ && len > MAX_READ)) {
      ++FprotocolErrors;
      return;
    }
    i = kelvo::SPI_HEADER_SIZE;
    beginTransaction(cmd, len);
    if (cmd == kelvo::SPI_CMD_READ) {
      for (uint32_t k = 0; k < len; ++k) {
        const uint8_t b = exchange(0x00);
        FinData.push_back(b);
        Frecord.Fmiso.push_back(b);
      }
      endTransaction();
      if (n > kelvo::SPI_HEADER_SIZE) ++FprotocolErrors;
      return;
    }
    if (len == 0) {
      endTransaction();
      if (n > kelvo::SPI_HEADER_SIZE) ++FprotocolErrors;
      return;
    }
  }
  while (i < n && Fopen) dataByte(p[i++]);
  if (i < n) ++FprotocolErrors;  // bytes beyond the length the header announced
}

void TsimBridge::beginTransaction(uint8_t command, uint32_t length) {
  Fopen = true;
  Fcommand = command;
  Fremaining = length;
  Frecord = TspiRecord();
  Frecord.Fdevice = Fdevice;
  Frecord.Fcommand = command;
  for (unsigned c = 0; c < CHANNELS; ++c)
    if (FcsEnabled & (1u << c)) {
      Frecord.Fchannel = static_cast<int>(c);
      break;
    }
  if (command == kelvo::SPI_CMD_READ || command == kelvo::SPI_CMD_WRITE_READ) {
    if (pendingIn()) ++FprotocolErrors;  // the last reply was never fetched
    FinData.clear();
    FinPos = 0;
  }
  if (FcsEnabled & 1u) FcfgPort.begin();
  if (FcsEnabled & 2u) FappPort.begin();
}

uint8_t TsimBridge::exchange(uint8_t mosi) {
  uint8_t miso = 0xFF;  // no device drives MISO: pulled high
  if (FcsEnabled & 1u) miso &= FcfgPort.exchange(mosi);
  if (FcsEnabled & 2u) miso &= FappPort.exchange(mosi);
  return miso;
}

void TsimBridge::dataByte(uint8_t b) {
  const uint8_t miso = exchange(b);
  Frecord.Fmosi.push_back(b);
  if (Fcommand == kelvo::SPI_CMD_WRITE_READ) {
    FinData.push_back(miso);
    Frecord.Fmiso.push_back(miso);
  }
  if (--Fremaining == 0) endTransaction();
}

void TsimBridge::endTransaction() {
  if (FcsEnabled & 1u) FcfgPort.end();
  Fopen = false;
  if (Fenv.Flogging) Fenv.FspiLog.push_back(std::move(Frecord));
  Frecord = TspiRecord();
}

uint32_t TsimBridge::bulkIn(uint8_t* data, uint32_t length) {
  const uint32_t n = std::min(length, pendingIn());
  if (n && data) std::memcpy(data, FinData.data() + FinPos, n);
  FinPos += n;
  if (FinPos == FinData.size()) {
    FinData.clear();
    FinPos = 0;
  }
  return n;
}

TbridgeState TsimBridge::state() const {
  TbridgeState s;
  for (unsigned i = 0; i < CHANNELS; ++i) {
    s.FgpioMode[i] = FgpioMode[i];
    s.FgpioLevel[i] = FgpioLevel[i];
    s.FspiWord[i] = FspiWord[i];
  }
  s.FclockDivider = FclockDivider;
  s.FcsEnabled = FcsEnabled;
  s.FlastCsChannel = FlastCs;
  s.FcsRequests = FcsRequests;
  s.FprotocolErrors = FprotocolErrors;
  s.FepOut = Fpriority ? 0x01 : 0x02;
  s.FepIn = Fpriority ? 0x82 : 0x81;
  s.FpendingIn = pendingIn();
  return s;
}

}  // namespace kelvosim
