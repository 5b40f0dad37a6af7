// Capture logic of the simulated FPGA behind SPI channel 1: consumes register selects
// and 6-bit writes, produces register reads, drives the SRAM from the memory control
// and data registers, and records bus traffic into the SRAM while a run is armed.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvosim.h"
#include "simenv.h"
#include "simsram.h"
#include "simtraffic.h"

namespace kelvosim {

class TsimCapture {
 public:
  TsimCapture(TsimSram& sram, TsimEnv& env);

  void powerUp();               // registers to their reset values, SRAM deselected
  void setConfigured(bool on);  // the FPGA holds the capture design
  void setHalted(bool on);      // offline configuration mode stops the design
  void setResetHeld(bool on);   // GPIO 7 low holds the design in reset
  bool alive() const { return Fconfigured && !Fhalted && !FresetHeld; }

  // One SPI transaction on channel 1; a byte with tag 00 clocks a read.
  void begin();
  uint8_t exchange(uint8_t mosi);

  void advance();  // records the traffic that ended by the bus time
  TcaptureState state() const;

 private:
  void writeReg(unsigned reg, unsigned v);
  void writeControl(unsigned v);
  void writeMemCtrl(unsigned v);
  void writeMemData(unsigned v);
  uint8_t readNext();
  void clockByte(uint8_t b);
  unsigned busWidth() const;
  bool writing() const;

  TsimSram& Fsram;
  TsimEnv& Fenv;
  bool Fconfigured = true;
  bool Fhalted = false;
  bool FresetHeld = false;

  unsigned Fsel = 0;
  uint8_t Fregs[64] = {};
  uint8_t Fcontrol = 0;
  uint8_t FmemCtrl = 0x20;
  uint32_t FcountReg = 0;
  uint32_t Fcounter = 0;
  bool Farmed = false;
  bool Ffull = false;
  bool FtargetConnected = false;
  uint64_t FrunStart = 0;
  unsigned Fruns = 0;
  TsimRecorder Frecorder;
  std::vector<uint8_t> Frecorded;  // this run's bytes, for the data port

  bool FfirstByte = true;
  unsigned FreadPos = 0;
  uint8_t Fpipe = 0;  // memory reads pass one byte register
  size_t FportPos = 0;
};

}  // namespace kelvosim
