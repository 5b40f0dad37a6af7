// CP2130 USB-to-SPI bridge of the simulated board: consumes vendor control requests
// and bulk OUT packets (command header, then data), produces replies, chip-select
// framed SPI transactions to the FPGA's two ports, and the bytes for bulk IN.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvosim.h"
#include "simcapture.h"
#include "simenv.h"
#include "simxo2.h"

namespace kelvosim {

class TsimBridge {
 public:
  TsimBridge(const TdevConfig& cfg, int device, TsimXo2& cfgPort, TsimCapture& appPort, TsimEnv& env);

  // A vendor request: the libusb result (bytes moved or LIBUSB_ERROR_PIPE for a stall).
  int control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data, uint16_t length);
  // Bulk OUT bytes as they arrive (split into 64-byte packets here).
  void bulkOut(const uint8_t* data, uint32_t length);
  // Bulk IN: bytes waiting from the last read; returns how many were copied.
  uint32_t bulkIn(uint8_t* data, uint32_t length);
  uint32_t pendingIn() const { return static_cast<uint32_t>(FinData.size() - FinPos); }

  bool isOutEndpoint(int ep) const { return ep == (Fpriority ? 0x01 : 0x02); }
  bool isInEndpoint(int ep) const { return ep == (Fpriority ? 0x82 : 0x81); }
  TbridgeState state() const;

 private:
  void packet(const uint8_t* p, uint32_t n);
  void beginTransaction(uint8_t command, uint32_t length);
  void dataByte(uint8_t b);
  void endTransaction();
  uint8_t exchange(uint8_t mosi);
  void setGpio(unsigned index, unsigned mode, unsigned level);

  TsimXo2& FcfgPort;
  TsimCapture& FappPort;
  TsimEnv& Fenv;
  int Fdevice;
  uint16_t Fvendor, Fproduct;
  uint8_t Fpriority;
  uint8_t Fversion[2];

  uint8_t FgpioMode[11] = {};
  uint8_t FgpioLevel[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  int FclockDivider = -1;
  int FspiWord[11] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  unsigned FcsEnabled = 0;
  int FlastCs = -1;
  unsigned FcsRequests = 0;
  unsigned FprotocolErrors = 0;

  // The open SPI transaction of a write or write-read spread over packets.
  bool Fopen = false;
  uint8_t Fcommand = 0;
  uint32_t Fremaining = 0;
  TspiRecord Frecord;

  std::vector<uint8_t> FinData;
  size_t FinPos = 0;
};

}  // namespace kelvosim
