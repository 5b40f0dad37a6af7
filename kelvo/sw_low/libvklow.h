// The board as the capture thread sees it: open and bring-up, arming a capture,
// the capture count, and the capture memory (quad SPI SRAM) read back behind the
// "VARNOKE." magic. Owns one TvkLow; every operation reports a bool.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vkchips.h"
#include "vklow.h"

class TlibVkLow {
 public:
  // Application registers.
  static constexpr unsigned REG_CONTROL = kelvo::REG_CONTROL;

  TlibVkLow();
  ~TlibVkLow();
  TlibVkLow(const TlibVkLow&) = delete;
  TlibVkLow& operator=(const TlibVkLow&) = delete;

  bool snifferOpen();
  bool sniffSetCount(uint32_t aCount);
  // Bits 0-16: bytes still to go; bit 17: memory full. Written also on failure.
  bool sniffGetCount(uint32_t& aValue);
  bool sniffDataRead(uint8_t* aBuf, uint32_t aLen, uint32_t& aGot);

  bool doRun(uint32_t aCount);
  bool doIdle(uint32_t aCount);
  bool QSPIinit();
  bool QSPIwrStart(uint32_t aAddress);
  bool QSPIrdStart(uint32_t aAddress);
  bool QSPItoIdle();

  // 1 credit line, 2 build date and time, 3 the board's USB serial; else "?" and false.
  bool getString(std::string& aText, int aSelector);
  TvkLow* pLo() { return pLow.get(); }

  bool rdFpga(uint8_t* aBuf, uint32_t aLen) { return pLow->appRdFpga(aBuf, aLen); }
  bool wrFpga(const uint8_t* aBuf, uint32_t aLen) { return pLow->appWrFpga(aBuf, aLen); }
  bool wrFpgaRegIx(unsigned aReg) { return pLow->appWrFpgaAddr(aReg); }
  bool rdFpgaReg(unsigned aReg, uint8_t& aValue) { return pLow->appRdFpgaReg(aReg, aValue); }
  bool wrFpgaReg(unsigned aReg, unsigned aValue) { return pLow->appWrFpgaReg(aReg, aValue); }
  bool appWrite(const uint8_t* aBuf, uint32_t aLen) { return pLow->appxWrite(aBuf, aLen); }
  bool appWrite(const TllBuf& aBuf) { return pLow->appxWrite(aBuf); }
  bool appRead(uint8_t* aBuf, uint32_t aLen) { return pLow->appxRead(aBuf, aLen); }
  bool updateFPGA(bool aForce) { return pLow->updateFPGA(aForce); }
  bool updateFPGAneeded(bool& aNeeded) { return pLow->updateFPGAneeded(aNeeded); }
  bool isBusy() { return pLow->isBusy(); }
  uint32_t getStatusReg() { return pLow->getStatusReg(); }
  uint32_t getIDReg() { return pLow->getIDReg(); }
  uint64_t getTraceReg() { return pLow->getTraceReg(); }
  void showCfgStatus() { pLow->showCfgStatus(); }
  bool isOpen() const { return pLow->isOpen(); }
  int model() const { return 0; }

 private:
  std::unique_ptr<TvkLow> pLow;
};
