#include "mxbase.h"

#include <libusb.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "vkboard.h"
#include "vkchips.h"

using namespace kelvo;

namespace {

// Header plus 56 bytes fill exactly one 64-byte full-speed bulk packet.
constexpr uint32_t SPI_FIRST_DATA = BULK_PACKET_SIZE - SPI_HEADER_SIZE;

constexpr uint8_t CFG_CHANNEL = 0;
constexpr uint8_t APP_CHANNEL = 1;
constexpr uint8_t CS_ONLY_THIS = 2;

constexpr int SERIAL_BUF_SIZE = 256;

void check(bool aCond, const char* aWhat) {
  if (!aCond) {
    std::fprintf(stderr, "kelvo/sw_low/publicH/mxbase: assertion \"%s\" failed\n", aWhat);
    std::abort();
  }
}

void spiHeader(std::vector<uint8_t>& aOut, uint8_t aCmd, uint32_t aLen) {
  TllBuf hdr;
  hdr.byte(0).byte(0).byte(aCmd).byte(0).dwordLE(aLen);
  aOut.insert(aOut.end(), hdr.buf().begin(), hdr.buf().end());
}

}  // namespace

void xprintf(const char* aFormat, ...) {
  if (!std::getenv("QX_BOARD_TRACE")) return;
  va_list args;
  va_start(args, aFormat);
  std::vfprintf(stderr, aFormat, args);
  va_end(args);
}

// ---- Tlibusb ----

Tlibusb::Tlibusb() { Finitialised = (libusb_init(nullptr) == 0); }

Tlibusb::~Tlibusb() {
  if (Finitialised) libusb_exit(nullptr);
}

// ---- TlibusbDevice ----

TlibusbDevice::~TlibusbDevice() { close(); }

void TlibusbDevice::err(int aCode) {
  if (aCode >= 0) return;
  lastError = aCode;
  xprintf("\nboard: libusb error %d (%s)\n", aCode, libusb_error_name(aCode));
}

void TlibusbDevice::close() {
  if (devHandle) {
    libusb_release_interface(devHandle, 0);
    libusb_close(devHandle);
  }
  serial.clear();
  devHandle = nullptr;
}

bool TlibusbDevice::openFails(int aCode) {
  openError = aCode;
  close();
  return false;
}

bool TlibusbDevice::open() {
  if (isOpen()) close();  // never leave a second handle or a claimed interface behind
  if (!initialised()) return openFails(LIBUSB_ERROR_OTHER);

  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(nullptr, &list);
  err(static_cast<int>(count));
  if (count < 0) return openFails(static_cast<int>(count));

  libusb_device* found = nullptr;
  libusb_device_descriptor desc{};
  for (ssize_t i = 0; i < count && !found; ++i) {
    libusb_device_descriptor d{};
    libusb_get_device_descriptor(list[i], &d);
    if (d.idVendor == kelvo::VENDOR_ID &&
        (d.idProduct == kelvo::PRODUCT_ID_BRIDGE || d.idProduct == kelvo::PRODUCT_ID_BOARD)) {
      found = list[i];
      desc = d;
    }
  }
  if (!found) {
    xprintf("\nboard: no device %04x:%04x or %04x:%04x among %zd\n", kelvo::VENDOR_ID, kelvo::PRODUCT_ID_BRIDGE,
            kelvo::VENDOR_ID, kelvo::PRODUCT_ID_BOARD, count);
    libusb_free_device_list(list, 1);
    return openFails(LIBUSB_ERROR_NOT_FOUND);
  }

  int rc = libusb_open(found, &devHandle);
  libusb_free_device_list(list, 1);  // the open handle keeps its own reference
  err(rc);
  if (rc != 0) {
    devHandle = nullptr;
    return openFails(rc);
  }

  int config = 99;
  if (libusb_get_configuration(devHandle, &config) == 0 && config == 0) {
    rc = libusb_set_configuration(devHandle, 1);
    err(rc);
    if (rc != 0) return openFails(rc);
  }

  rc = libusb_kernel_driver_active(devHandle, 0);
  if (rc == 0 || rc == 1) {
    kernelDriverWasActive = (rc == 1);
  } else {
    err(rc);
    return openFails(rc);
  }
  if (kernelDriverWasActive) {
    rc = libusb_detach_kernel_driver(devHandle, 0);
    err(rc);
    if (rc != 0) return openFails(rc);
  }

  rc = libusb_claim_interface(devHandle, 0);
  err(rc);
  if (rc != 0) return openFails(rc);

  unsigned char text[SERIAL_BUF_SIZE] = {};
  rc = libusb_get_string_descriptor_ascii(devHandle, desc.iSerialNumber, text, SERIAL_BUF_SIZE);
  if (rc > 0) {
    serial.assign(reinterpret_cast<const char*>(text), std::min(rc, SERIAL_BUF_SIZE - 1));
  } else {
    serial.clear();
  }
  openError = 0;
  return true;
}

bool TlibusbDevice::control_transfer(uint8_t aReqType, uint8_t aRequest, uint8_t* aData, uint16_t aLen, uint16_t aValue,
                                     uint16_t aIndex) {
  if (!isOpen()) return false;
  int rc = libusb_control_transfer(devHandle, aReqType, aRequest, aValue, aIndex, aData, aLen,
                                   static_cast<unsigned>(timeoutMs));
  if (rc < 0) {
    err(rc);
    return false;
  }
  return true;
}

bool TlibusbDevice::bulk_transfer(int aEndpoint, uint8_t* aData, uint32_t aLen) {
  if (!isOpen()) return false;
  int moved = 0;
  int rc = libusb_bulk_transfer(devHandle, static_cast<unsigned char>(aEndpoint), aData, static_cast<int>(aLen), &moved,
                                static_cast<unsigned>(timeoutMs));
  if (rc < 0) {
    err(rc);
    return false;
  }
  return moved >= 0 && static_cast<uint32_t>(moved) >= aLen;
}

// ---- TmxLow ----

bool TmxLow::set_gpio_cs(uint8_t aChannel, uint8_t aControl) {
  uint8_t b[2] = {aChannel, aControl};
  return control_transfer(REQ_TYPE_OUT, REQ_SET_GPIO_CS, b, sizeof b, 0, 0);
}

bool TmxLow::set_gpio(uint8_t aIndex, uint8_t aMode, uint8_t aLevel) {
  uint8_t b[3] = {aIndex, aMode, aLevel};
  return control_transfer(REQ_TYPE_OUT, REQ_SET_GPIO_MODE_LEVEL, b, sizeof b, 0, 0);
}

bool TmxLow::set_clockdiv(uint8_t aDivider) {
  uint8_t b[1] = {aDivider};
  return control_transfer(REQ_TYPE_OUT, REQ_SET_CLOCK_DIVIDER, b, sizeof b, 0, 0);
}

bool TmxLow::set_spi_word(uint8_t aChannel, uint8_t aWord) {
  uint8_t b[2] = {aChannel, aWord};
  return control_transfer(REQ_TYPE_OUT, REQ_SET_SPI_WORD, b, sizeof b, 0, 0);
}

bool TmxLow::get_readonly_version(uint8_t* aBuf2) {
  return control_transfer(REQ_TYPE_IN, REQ_GET_READONLY_VERSION, aBuf2, 2, 0, 0);
}

bool TmxLow::assignEndpoints() {
  uint8_t config[9] = {};
  if (!control_transfer(REQ_TYPE_IN, REQ_GET_USB_CONFIG, config, sizeof config, 0, 0)) return false;
  if (config[8] != 0) {
    epOut = 0x01;
    epIn = 0x82;
  } else {
    epIn = 0x81;
    epOut = 0x02;
  }
  return true;
}

bool TmxLow::spiSetChannel(int aChannel) {
  curChannel = aChannel;
  return set_gpio_cs(static_cast<uint8_t>(aChannel), CS_ONLY_THIS);
}

bool TmxLow::spiWrite(const uint8_t* aData, uint32_t aLen) {
  std::vector<uint8_t> msg;
  msg.reserve(SPI_HEADER_SIZE + aLen);
  spiHeader(msg, SPI_CMD_WRITE, aLen);
  if (aLen) msg.insert(msg.end(), aData, aData + aLen);

  uint32_t first = SPI_HEADER_SIZE + std::min(aLen, SPI_FIRST_DATA);
  bool ok = bulk_transfer(epOut, msg.data(), first);
  if (aLen <= SPI_FIRST_DATA || !ok) return ok;
  return bulk_transfer(epOut, msg.data() + first, aLen - SPI_FIRST_DATA);
}

bool TmxLow::spiWrite(const TllBuf& aBuf) {
  std::vector<uint8_t> copy = aBuf.buf();
  return spiWrite(copy.data(), static_cast<uint32_t>(copy.size()));
}

bool TmxLow::spiRead(uint8_t* aData, uint32_t aLen) {
  check(aLen > 1, "aLen > 1");
  std::vector<uint8_t> msg;
  spiHeader(msg, SPI_CMD_READ, aLen);
  return bulk_transfer(epOut, msg.data(), SPI_HEADER_SIZE) && bulk_transfer(epIn, aData, aLen);
}

bool TmxLow::spiWriteRead(uint8_t* aData, uint32_t aLen) {
  check(aLen <= MAX_WRITE_READ, "aLen <= 56u");
  std::vector<uint8_t> msg;
  spiHeader(msg, SPI_CMD_WRITE_READ, aLen);
  if (aLen) msg.insert(msg.end(), aData, aData + aLen);
  return bulk_transfer(epOut, msg.data(), static_cast<uint32_t>(msg.size())) && bulk_transfer(epIn, aData, aLen);
}

bool TmxLow::cfgxWrite(const uint8_t* aData, uint32_t aLen) {
  return spiSetChannel(CFG_CHANNEL) && spiWrite(aData, aLen);
}

bool TmxLow::cfgxWriteRead(uint8_t* aData, uint32_t aLen) {
  return spiSetChannel(CFG_CHANNEL) && spiWriteRead(aData, aLen);
}

bool TmxLow::appxWrite(const uint8_t* aData, uint32_t aLen) {
  return spiSetChannel(APP_CHANNEL) && spiWrite(aData, aLen);
}

bool TmxLow::appxWrite(const TllBuf& aBuf) { return spiSetChannel(APP_CHANNEL) && spiWrite(aBuf); }

bool TmxLow::appxRead(uint8_t* aData, uint32_t aLen) { return spiSetChannel(APP_CHANNEL) && spiRead(aData, aLen); }
