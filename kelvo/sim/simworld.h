// The whole simulation behind the libusb surface: consumes set-up calls and libusb
// calls, produces the device list, handles, transfers routed to the boards, faults,
// bus time and the transfer log. One lock serialises everything.
#pragma once

#include <libusb.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "kelvosim.h"
#include "simboard.h"
#include "simenv.h"

namespace kelvosim {

struct TsimDevice {
  TdevConfig Fcfg;
  int Findex = 0;
  unsigned Fgeneration = 0;  // a replug makes a new generation
  uint8_t Faddress = 0;
  TusbState Fstate;
  libusb_device_handle* Fclaimer = nullptr;
  bool FunplugArmed = false;
  unsigned FunplugLeft = 0;
  std::unique_ptr<TsimBoard> Fboard;  // null for a device that is no board
  libusb_device* Fusb = nullptr;      // libusb's object of this generation
};

}  // namespace kelvosim

// libusb declares these opaque; the simulator gives them their insides.
struct libusb_context {
  int Fid = 0;
};
struct libusb_device {
  std::shared_ptr<kelvosim::TsimDevice> Fdev;
  unsigned Fgeneration = 0;
  int Frefs = 0;
};
struct libusb_device_handle {
  libusb_device* Fdev = nullptr;
  bool Fclaimed = false;
  bool FautoDetach = false;  // libusb_set_auto_detach_kernel_driver
  bool FdetachedByClaim = false;
};

namespace kelvosim {

class TsimWorld {
 public:
  std::recursive_mutex Flock;

  void ensure();  // the environment's set-up, once
  void clear();   // reset(): everything back to empty defaults
  int add(const TdevConfig& cfg);
  TsimDevice* device(int index);
  void unplugDevice(TsimDevice& d);
  void replugDevice(TsimDevice& d);
  libusb_device* usbDevice(TsimDevice& d);
  void tick(uint64_t ticks);  // bus time passes; boards record

  // Device behind a handle; rc is set when the handle is bad or the device gone.
  TsimDevice* deviceOf(libusb_device_handle* h, int& rc);
  int controlTransfer(libusb_device_handle* h, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      unsigned char* data, uint16_t length, unsigned timeout);
  int bulkTransfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data, int length, int* transferred,
                   unsigned timeout);
  std::vector<uint8_t> deviceDescriptor(const TsimDevice& d) const;
  std::vector<uint8_t> configDescriptor(const TsimDevice& d) const;

  bool Fready = false;  // reset() or the environment has set things up
  TsimEnv Fenv;
  uint64_t FticksPerTransfer = 12000;
  std::vector<std::shared_ptr<TsimDevice>> Fdevices;
  std::deque<std::unique_ptr<libusb_device>> FusbDevices;  // kept: stale pointers stay valid
  std::set<libusb_device_handle*> Fhandles;
  std::set<libusb_device**> Flists;
  std::set<libusb_context*> Fcontexts;
  int FdefaultRefs = 0;
  unsigned Fmisuse = 0;
  int FlistResult = 0;
  std::vector<std::pair<TfaultRule, unsigned>> Ffaults;  // rule, transfers it matched
  std::vector<TxferRecord> Fxfers;
  uint64_t Fseq = 0;
  FILE* FlogFile = nullptr;
  uint8_t FnextAddress[256] = {};

 private:
  bool takeTransfer(TsimDevice& d, int& rc);
  const TfaultRule* matchFault(const TsimDevice& d, TxferKind kind, int request, int endpoint);
  int standardRequest(TsimDevice& d, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length);
  void log(TxferRecord&& r);
};

TsimWorld& world();

// Parses the KELVOSIM_* variables into the world (after clear()); false on a bad value.
bool applyEnvironment(TsimWorld& w);

}  // namespace kelvosim
