// USB side of the Kelvo board: the libusb default context, the one device
// handle of the CP2130 bridge, and the bridge's vendor requests and SPI framing.
// Consumes libusb-1.0; produces bool-reporting SPI operations on channels 0 and 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct libusb_device_handle;

// The board layer's trace: printf-style lines to standard error when the
// environment variable QX_BOARD_TRACE is set (to anything), nothing otherwise.
void xprintf(const char* aFormat, ...) __attribute__((format(printf, 1, 2)));

// One use of the libusb default context, paired init and exit.
class Tlibusb {
 public:
  Tlibusb();
  ~Tlibusb();
  Tlibusb(const Tlibusb&) = delete;
  Tlibusb& operator=(const Tlibusb&) = delete;

  bool initialised() const { return Finitialised; }

 private:
  bool Finitialised = false;
};

// The board's USB device: found by the bridge's ids, opened with interface 0 claimed.
class TlibusbDevice : public Tlibusb {
 public:
  TlibusbDevice() = default;
  ~TlibusbDevice();

  bool open();
  void close();
  bool isOpen() const { return devHandle != nullptr; }
  const std::string& getSerial() const { return serial; }

  // Note the order: data and length come before value and index.
  bool control_transfer(uint8_t aReqType, uint8_t aRequest, uint8_t* aData, uint16_t aLen, uint16_t aValue,
                        uint16_t aIndex);
  // Success only when all aLen bytes moved; the endpoint's bit 7 picks the direction.
  bool bulk_transfer(int aEndpoint, uint8_t* aData, uint32_t aLen);
  void err(int aCode);

  bool wasKernelDriverActive() const { return kernelDriverWasActive; }
  int getLastError() const { return lastError; }
  int getTimeoutMs() const { return timeoutMs; }
  // Why the last open() failed: the libusb result of the step that failed
  // (LIBUSB_ERROR_NOT_FOUND: no board listed); 0 after an open that succeeded.
  int getOpenError() const { return openError; }

 private:
  bool openFails(int aCode);

  bool kernelDriverWasActive = false;
  int timeoutMs = 1000;
  int lastError = 0;
  libusb_device_handle* devHandle = nullptr;
  std::string serial;
  int openError = 0;
};

// Byte buffer in which every SPI message is built; appenders chain.
class TllBuf {
 public:
  TllBuf() = default;
  explicit TllBuf(int aFirst) { byte(aFirst); }

  TllBuf& byte(unsigned aByte) {
    Fbuf.push_back(static_cast<uint8_t>(aByte));
    return *this;
  }
  TllBuf& wordLE(unsigned aWord) { return byte(aWord).byte(aWord >> 8); }
  TllBuf& wordBE(unsigned aWord) { return byte(aWord >> 8).byte(aWord); }
  TllBuf& dwordLE(uint32_t aDword) { return wordLE(aDword).wordLE(aDword >> 16); }
  TllBuf& dwordBE(uint32_t aDword) { return wordBE(aDword >> 16).wordBE(aDword); }
  // Application port: register select and 6-bit data write.
  TllBuf& ta(unsigned aReg) { return byte(0x40 | (aReg & 0x3F)); }
  TllBuf& td(unsigned aData) { return byte(0x80 | (aData & 0x3F)); }
  // One byte as two 4-bit data writes, high nibble first.
  TllBuf& tdBE(unsigned aByte) { return td((aByte >> 4) & 0x0F).td(aByte & 0x0F); }

  uint8_t* data() { return Fbuf.data(); }
  const uint8_t* data() const { return Fbuf.data(); }
  uint32_t length() const { return static_cast<uint32_t>(Fbuf.size()); }
  std::vector<uint8_t>& buf() { return Fbuf; }
  const std::vector<uint8_t>& buf() const { return Fbuf; }

 private:
  std::vector<uint8_t> Fbuf;
};

// The CP2130 bridge: vendor requests and bulk SPI commands; channel 0 reaches the
// FPGA's configuration port, channel 1 its application port.
class TmxLow : public TlibusbDevice {
 public:
  static constexpr uint32_t MAX_WRITE_READ = 56;

  bool set_gpio_cs(uint8_t aChannel, uint8_t aControl);
  bool set_gpio(uint8_t aIndex, uint8_t aMode, uint8_t aLevel);
  bool set_clockdiv(uint8_t aDivider);
  bool set_spi_word(uint8_t aChannel, uint8_t aWord);
  bool get_readonly_version(uint8_t* aBuf2);
  bool assignEndpoints();

  bool spiSetChannel(int aChannel);
  bool spiWrite(const uint8_t* aData, uint32_t aLen);
  bool spiWrite(const TllBuf& aBuf);
  bool spiRead(uint8_t* aData, uint32_t aLen);
  bool spiWriteRead(uint8_t* aData, uint32_t aLen);

  bool cfgxWrite(const uint8_t* aData, uint32_t aLen);
  bool cfgxWriteRead(uint8_t* aData, uint32_t aLen);
  bool appxWrite(const uint8_t* aData, uint32_t aLen);
  bool appxWrite(const TllBuf& aBuf);
  bool appxRead(uint8_t* aData, uint32_t aLen);

  int getCurChannel() const { return curChannel; }
  int getEpOut() const { return epOut; }
  int getEpIn() const { return epIn; }

 private:
  int curChannel = 99;
  int epOut = 0x01;
  int epIn = 0x82;
};
