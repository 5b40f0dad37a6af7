// The board's MachXO2 FPGA behind the bridge: its sysCONFIG port on SPI channel 0
// (identification, register reads, reprogramming from the embedded images) and the
// capture logic's register port on SPI channel 1. Produces bool results and counts.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "mxbase.h"
#include "vkchips.h"

class TvkLow : public TmxLow {
 public:
  using Tbytes = std::vector<uint8_t>;

  // FPGA models by IDCODE.
  static constexpr int MODEL_640HC = 0;
  static constexpr int MODEL_1200HC = 1;
  static constexpr int MODEL_UNKNOWN = 3;
  static constexpr uint16_t FEATURE_BITS = 0x0520;
  static constexpr uint32_t FRAME_SIZE = kelvo::CFG_FRAME_SIZE;
  // Busy waits end as failures past these: a page programs in well under a
  // millisecond, an erase of the configuration flash in a few seconds.
  static constexpr unsigned PAGE_BUSY_LIMIT_MS = 200;
  static constexpr unsigned ERASE_BUSY_LIMIT_MS = 15000;

  // ---- application port (channel 1) ----
  bool appRdFpga(uint8_t* aBuf, uint32_t aLen) { return appxRead(aBuf, aLen); }
  bool appWrFpga(const uint8_t* aBuf, uint32_t aLen) { return appxWrite(aBuf, aLen); }
  bool appWrFpgaAddr(unsigned aReg);
  bool appWrFpgaReg(unsigned aReg, unsigned aValue);
  bool appRdFpgaReg(unsigned aReg, uint8_t& aValue);

  // ---- configuration port (channel 0): transport ----
  bool cfgWr(const Tbytes& aBytes);
  // Sends the command plus aReplyLen zero bytes; the last aReplyLen bytes of the
  // reply big-endian, 0 when the transfer failed.
  uint64_t cfgGetReg(const Tbytes& aCmd, unsigned aReplyLen, bool* aOk = nullptr);
  static void milliSleep(int aMs);
  static int errs(bool aOk) { return aOk ? 0 : 1; }
  static uint64_t getN(const Tbytes& aBytes);

  // ---- commands ----
  bool enable();
  bool enableX();
  bool erase();
  bool initAddr();
  bool done();
  bool refresh();
  bool disableAndBypass();
  bool bypass();
  // One 16-byte page, then the busy wait; aTimedOut tells a hung FPGA from a bad transfer.
  bool sendRow(const uint8_t* aFrame, bool* aTimedOut = nullptr);
  bool setUsercode(uint32_t aCode);
  bool setFEAbits(uint16_t aBits);

  // ---- register reads ----
  bool isBusy(bool* aOk = nullptr);
  uint32_t getStatusReg(bool* aOk = nullptr);
  uint32_t getIDReg();
  uint64_t getTraceReg();
  uint64_t getFeatureRow();
  uint16_t getFEAbits();
  uint32_t getUsercode(bool* aOk);

  // False on a failed poll, or when the FPGA is still busy after aLimitMs or
  // once the cancel flag is raised (both count as timed out).
  bool waitNotBusy(unsigned aLimitMs = PAGE_BUSY_LIMIT_MS, bool* aTimedOut = nullptr);
  // A flag, owned by the caller, that ends every busy wait early; null: none.
  void setCancel(const std::atomic<bool>* aCancel) { Fcancel = aCancel; }
  int getFPGAmodel();
  // Traces the configuration status and returns it (0 when the read failed).
  uint32_t showCfgStatus(bool* aOk = nullptr);
  bool updateFPGA(bool aForce) { return updateFPGAinner(aForce); }
  bool updateFPGAneeded(bool& aNeeded);
  bool exitFPGAupdate(bool aResult);
  uint64_t dbg() { return getFeatureRow(); }

  // Embedded image of a model (0 or 1): frames, frame count and checksum.
  static const uint8_t* imageData(int aModel);
  static uint32_t imageFrames(int aModel);
  static uint32_t imageChecksum(int aModel);
  // A generated stand-in without capture logic: never written to a board.
  static bool imageIsStandIn(int aModel);

 private:
  bool updateFPGAinner(bool aForce);

  const std::atomic<bool>* Fcancel = nullptr;
};
