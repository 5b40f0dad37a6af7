// The test-side control functions of kelvosim.h, each under the simulation's lock.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "kelvosim.h"
#include "simscenario.h"
#include "simworld.h"

namespace kelvosim {

namespace {

// Runs f on the world under its lock, after the first-use set-up.
template <typename F>
auto withWorld(F f) {
  TsimWorld& w = world();
  std::lock_guard<std::recursive_mutex> g(w.Flock);
  w.ensure();
  return f(w);
}

template <typename F>
void withDevice(int dev, F f) {
  withWorld([&](TsimWorld& w) {
    if (TsimDevice* d = w.device(dev)) f(w, *d);
    return 0;
  });
}

}  // namespace

TdevConfig boardConfig(uint16_t product) {
  TdevConfig c;
  c.Fproduct = product;
  return c;
}

TdevConfig board1200Config(uint16_t product) {
  TdevConfig c = boardConfig(product);
  c.Fidcode = IDCODE_1200HC;
  c.Fusercode = USERCODE_1200HC;
  return c;
}

TdevConfig otherConfig(uint16_t vendor, uint16_t product) {
  TdevConfig c;
  c.FisBoard = false;
  c.Fvendor = vendor;
  c.Fproduct = product;
  c.FbcdDevice = 0x0200;
  c.Fmanufacturer = "Generic";
  c.FproductName = "USB Device";
  c.Fserial.clear();
  return c;
}

std::string formatRecord(const TxferRecord& r) {
  char head[96];
  if (r.Fkind == XK_CONTROL)
    std::snprintf(head, sizeof head, "C %d %02x %02x %04x %04x %u %d :", r.Fdevice, r.FrequestType, r.Frequest,
                  r.Fvalue, r.Findex, r.Flength, r.Fresult);
  else
    std::snprintf(head, sizeof head, "B %d %02x %u %d %u :", r.Fdevice, r.Fendpoint, r.Flength, r.Fresult, r.Fmoved);
  std::string s(head);
  static const char HEX[] = "0123456789abcdef";
  s.reserve(s.size() + 3 * r.Fdata.size());
  for (uint8_t b : r.Fdata) {
    s += ' ';
    s += HEX[b >> 4];
    s += HEX[b & 15];
  }
  return s;
}

void reset() {
  TsimWorld& w = world();
  std::lock_guard<std::recursive_mutex> g(w.Flock);
  w.clear();
}

bool configureFromEnv() {
  TsimWorld& w = world();
  std::lock_guard<std::recursive_mutex> g(w.Flock);
  w.clear();
  return applyEnvironment(w);
}

int addDevice(const TdevConfig& c) {
  return withWorld([&](TsimWorld& w) { return w.add(c); });
}

int deviceCount() {
  return withWorld([](TsimWorld& w) { return static_cast<int>(w.Fdevices.size()); });
}

void unplug(int dev) {
  withDevice(dev, [](TsimWorld& w, TsimDevice& d) { w.unplugDevice(d); });
}

void replug(int dev) {
  withDevice(dev, [](TsimWorld& w, TsimDevice& d) { w.replugDevice(d); });
}

void unplugAfter(int dev, unsigned transfers) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    d.FunplugArmed = true;
    d.FunplugLeft = transfers;
  });
}

void setListResult(int rc) {
  withWorld([&](TsimWorld& w) { return w.FlistResult = rc; });
}

void setHeldElsewhere(int dev, bool held) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) { d.Fcfg.FheldElsewhere = held; });
}

void setAccessDenied(int dev, bool denied) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) { d.Fcfg.FaccessDenied = denied; });
}

void setKernelDriver(int dev, bool bound) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    d.Fcfg.FkernelDriver = bound;
    d.Fstate.FkernelDriver = bound && d.Fstate.FactiveConfig != 0;
  });
}

void setIdcode(int dev, uint32_t idcode) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    d.Fcfg.Fidcode = idcode;
    if (d.Fboard) d.Fboard->Fxo2.setIdcode(idcode);
  });
}

void setUsercode(int dev, uint32_t usercode) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    d.Fcfg.Fusercode = usercode;
    if (d.Fboard) d.Fboard->Fxo2.setUsercode(usercode);
  });
}

void setBusyForever(int dev, bool busy) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    d.Fcfg.FbusyForever = busy;
    if (d.Fboard) d.Fboard->Fxo2.setBusyForever(busy);
  });
}

void setReferenceImage(uint32_t idcode, const uint8_t* frames, size_t numFrames) {
  withWorld([&](TsimWorld& w) {
    if (frames)
      w.Fenv.Fimages[idcode].assign(frames, frames + numFrames * 16);
    else
      w.Fenv.Fimages.erase(idcode);
    return 0;
  });
}

void addFault(const TfaultRule& rule) {
  withWorld([&](TsimWorld& w) {
    w.Ffaults.emplace_back(rule, 0u);
    return 0;
  });
}

void clearFaults() {
  withWorld([](TsimWorld& w) {
    w.Ffaults.clear();
    return 0;
  });
}

void setTrafficScenario() {
  withWorld([](TsimWorld& w) {
    w.Fenv.Ftraffic = TsimTraffic::scenario();
    return 0;
  });
}

void setTrafficQuiet() {
  withWorld([](TsimWorld& w) {
    w.Fenv.Ftraffic = TsimTraffic::quiet();
    return 0;
  });
}

void setTrafficIdle() {
  withWorld([](TsimWorld& w) {
    w.Fenv.Ftraffic = TsimTraffic::idle();
    return 0;
  });
}

void setTrafficStream(const std::vector<uint8_t>& lineStates) {
  withWorld([&](TsimWorld& w) {
    w.Fenv.Ftraffic = TsimTraffic::stream(lineStates);
    return 0;
  });
}

bool setTrafficFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < kelvo::RAW_MAGIC_SIZE ||
      !std::equal(kelvo::RAW_MAGIC, kelvo::RAW_MAGIC + kelvo::RAW_MAGIC_SIZE, bytes.begin()))
    return false;
  bytes.erase(bytes.begin(), bytes.begin() + kelvo::RAW_MAGIC_SIZE);
  setTrafficStream(bytes);
  return true;
}

std::vector<uint8_t> scenarioStream() { return scenarioBytes(); }

void setTicksPerTransfer(uint64_t ticks) {
  withWorld([&](TsimWorld& w) { return w.FticksPerTransfer = ticks; });
}

void advanceTicks(uint64_t ticks) {
  withWorld([&](TsimWorld& w) {
    w.tick(ticks);
    return 0;
  });
}

uint64_t now() {
  return withWorld([](TsimWorld& w) { return w.Fenv.Fnow; });
}

void setLogging(bool on) {
  withWorld([&](TsimWorld& w) { return w.Fenv.Flogging = on; });
}

void clearLog() {
  withWorld([](TsimWorld& w) {
    w.Fxfers.clear();
    w.Fenv.FspiLog.clear();
    w.Fseq = 0;
    return 0;
  });
}

std::vector<TxferRecord> transfers() {
  return withWorld([](TsimWorld& w) { return w.Fxfers; });
}

std::vector<TspiRecord> spiLog() {
  return withWorld([](TsimWorld& w) { return w.Fenv.FspiLog; });
}

bool setLogFile(const std::string& path) {
  return withWorld([&](TsimWorld& w) {
    if (w.FlogFile) std::fclose(w.FlogFile);
    w.FlogFile = path.empty() ? nullptr : std::fopen(path.c_str(), "w");
    return path.empty() || w.FlogFile != nullptr;
  });
}

TusbState usbState(int dev) {
  TusbState s;
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) { s = d.Fstate; });
  return s;
}

TbridgeState bridgeState(int dev) {
  TbridgeState s;
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    if (d.Fboard) s = d.Fboard->Fbridge.state();
  });
  return s;
}

TfpgaState fpgaState(int dev) {
  TfpgaState s;
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    if (d.Fboard) s = d.Fboard->Fxo2.state();
  });
  return s;
}

TcaptureState captureState(int dev) {
  TcaptureState s;
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    if (d.Fboard) s = d.Fboard->Fcapture.state();
  });
  return s;
}

std::vector<uint8_t> sram(int dev) {
  std::vector<uint8_t> v;
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    if (d.Fboard) v = d.Fboard->Fsram.memory();
  });
  return v;
}

void setSram(int dev, const std::vector<uint8_t>& bytes) {
  withDevice(dev, [&](TsimWorld&, TsimDevice& d) {
    if (!d.Fboard) return;
    std::vector<uint8_t>& m = d.Fboard->Fsram.memory();
    std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), m.size()), m.begin());
  });
}

int contextRefs() {
  return withWorld([](TsimWorld& w) { return w.FdefaultRefs; });
}

int openLists() {
  return withWorld([](TsimWorld& w) { return static_cast<int>(w.Flists.size()); });
}

int openHandles() {
  return withWorld([](TsimWorld& w) { return static_cast<int>(w.Fhandles.size()); });
}

unsigned misuseCount() {
  return withWorld([](TsimWorld& w) { return w.Fmisuse; });
}

}  // namespace kelvosim
