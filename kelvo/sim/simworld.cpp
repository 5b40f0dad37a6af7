#include "simworld.h"

#include <algorithm>
#include <cstring>

namespace kelvosim {

namespace {

constexpr uint64_t TICKS_PER_MS = 12000;
constexpr uint32_t PACKET = 64;
constexpr size_t MAX_LOG_RECORDS = 2000000;
constexpr uint16_t LANG_EN_US = 0x0409;

std::vector<uint8_t> stringDescriptor(const std::string& s) {
  const size_t chars = std::min<size_t>(s.size(), 126);  // bLength is one byte
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * chars), 0x03};
  for (size_t i = 0; i < chars; ++i) {
    d.push_back(static_cast<uint8_t>(s[i]));
    d.push_back(0);
  }
  return d;
}

}  // namespace

TsimWorld& world() {
  static TsimWorld* w = new TsimWorld;  // never destroyed: libusb calls may come from exit handlers
  return *w;
}

void TsimWorld::ensure() {
  if (Fready) return;
  clear();
  applyEnvironment(*this);
  // Set up by a libusb call, not by a test: no one can read the log in memory, and a
  // long-running program must not grow it without end.
  Fenv.Flogging = false;
}

void TsimWorld::clear() {
  for (auto& d : Fdevices) d->Fstate.Fpresent = false;
  Fdevices.clear();
  for (libusb_device_handle* h : Fhandles) delete h;
  Fhandles.clear();
  for (libusb_device** l : Flists) delete[] l;
  Flists.clear();
  for (libusb_context* c : Fcontexts) delete c;
  Fcontexts.clear();
  FdefaultRefs = 0;
  Fenv = TsimEnv();
  Fenv.Ftraffic = TsimTraffic::scenario();
  FticksPerTransfer = TICKS_PER_MS;
  Fmisuse = 0;
  FlistResult = 0;
  Ffaults.clear();
  Fxfers.clear();
  Fseq = 0;
  if (FlogFile) std::fclose(FlogFile);
  FlogFile = nullptr;
  std::fill(std::begin(FnextAddress), std::end(FnextAddress), uint8_t(2));
  Fready = true;
}

int TsimWorld::add(const TdevConfig& cfg) {
  auto d = std::make_shared<TsimDevice>();
  d->Fcfg = cfg;
  d->Findex = static_cast<int>(Fdevices.size());
  d->Faddress = cfg.Faddress ? cfg.Faddress : FnextAddress[cfg.Fbus]++;
  d->Fstate.Fpresent = true;
  d->Fstate.FactiveConfig = cfg.FactiveConfig;
  d->Fstate.FkernelDriver = cfg.FkernelDriver && cfg.FactiveConfig != 0;
  if (cfg.FisBoard) d->Fboard = std::make_unique<TsimBoard>(cfg, d->Findex, Fenv);
  Fdevices.push_back(d);
  return d->Findex;
}

TsimDevice* TsimWorld::device(int index) {
  if (index < 0 || index >= static_cast<int>(Fdevices.size())) return nullptr;
  return Fdevices[index].get();
}

void TsimWorld::unplugDevice(TsimDevice& d) {
  d.Fstate.Fpresent = false;
  d.Fstate.Fclaimed = false;
  d.Fclaimer = nullptr;
  d.FunplugArmed = false;
}

void TsimWorld::replugDevice(TsimDevice& d) {
  if (d.Fstate.Fpresent) unplugDevice(d);
  ++d.Fgeneration;
  d.Fusb = nullptr;
  d.Faddress = FnextAddress[d.Fcfg.Fbus]++;
  d.Fstate.Fpresent = true;
  d.Fstate.FactiveConfig = d.Fcfg.FactiveConfig;
  d.Fstate.FkernelDriver = d.Fcfg.FkernelDriver && d.Fcfg.FactiveConfig != 0;
  if (d.Fboard) {
    // Power comes back: volatile state is lost, the FPGA boots from its flash.
    auto fresh = std::make_unique<TsimBoard>(d.Fcfg, d.Findex, Fenv);
    fresh->Fxo2.takeNonVolatile(d.Fboard->Fxo2);
    d.Fboard = std::move(fresh);
  }
}

libusb_device* TsimWorld::usbDevice(TsimDevice& d) {
  if (!d.Fusb) {
    auto u = std::make_unique<libusb_device>();
    u->Fgeneration = d.Fgeneration;
    for (auto& sp : Fdevices)
      if (sp.get() == &d) u->Fdev = sp;
    d.Fusb = u.get();
    FusbDevices.push_back(std::move(u));
  }
  return d.Fusb;
}

void TsimWorld::tick(uint64_t ticks) {
  Fenv.Fnow += ticks;
  for (auto& d : Fdevices)
    if (d->Fstate.Fpresent && d->Fboard) d->Fboard->Fcapture.advance();
}

TsimDevice* TsimWorld::deviceOf(libusb_device_handle* h, int& rc) {
  if (!h || !Fhandles.count(h)) {
    ++Fmisuse;
    rc = LIBUSB_ERROR_INVALID_PARAM;
    return nullptr;
  }
  TsimDevice* d = h->Fdev->Fdev.get();
  if (!d->Fstate.Fpresent || h->Fdev->Fgeneration != d->Fgeneration) {
    rc = LIBUSB_ERROR_NO_DEVICE;
    return nullptr;
  }
  rc = 0;
  return d;
}

bool TsimWorld::takeTransfer(TsimDevice& d, int& rc) {
  tick(FticksPerTransfer);
  if (d.FunplugArmed) {
    if (d.FunplugLeft == 0) {
      unplugDevice(d);
      rc = LIBUSB_ERROR_NO_DEVICE;
      return false;
    }
    --d.FunplugLeft;
  }
  return true;
}

const TfaultRule* TsimWorld::matchFault(const TsimDevice& d, TxferKind kind, int request, int endpoint) {
  const TfaultRule* hit = nullptr;
  for (auto& f : Ffaults) {
    const TfaultRule& r = f.first;
    if (r.Fdevice >= 0 && r.Fdevice != d.Findex) continue;
    if (r.Fkind != XK_ANY && r.Fkind != kind) continue;
    if (r.Frequest >= 0 && (kind != XK_CONTROL || r.Frequest != request)) continue;
    if (r.Fendpoint >= 0 && (kind == XK_CONTROL || r.Fendpoint != endpoint)) continue;
    const unsigned n = ++f.second;
    if (!hit && n > r.Fskip && (r.Fcount == 0 || n <= r.Fskip + r.Fcount)) hit = &r;
  }
  return hit;
}

void TsimWorld::log(TxferRecord&& r) {
  r.Fseq = Fseq++;
  r.Ftick = Fenv.Fnow;
  if (FlogFile) {
    std::fputs(formatRecord(r).c_str(), FlogFile);
    std::fputc('\n', FlogFile);
    std::fflush(FlogFile);
  }
  if (Fenv.Flogging && Fxfers.size() < MAX_LOG_RECORDS) Fxfers.push_back(std::move(r));
}

int TsimWorld::controlTransfer(libusb_device_handle* h, uint8_t requestType, uint8_t request, uint16_t value,
                               uint16_t index, unsigned char* data, uint16_t length, unsigned timeout) {
  (void)timeout;
  TxferRecord r;
  r.Fkind = XK_CONTROL;
  r.FrequestType = requestType;
  r.Frequest = request;
  r.Fvalue = value;
  r.Findex = index;
  r.Flength = length;
  int rc = 0;
  TsimDevice* d = deviceOf(h, rc);
  if (d)
    r.Fdevice = d->Findex;
  else if (Fhandles.count(h))
    r.Fdevice = h->Fdev->Fdev->Findex;
  if (d && length && !data) rc = LIBUSB_ERROR_INVALID_PARAM;
  if (!d || rc || !takeTransfer(*d, rc)) {
    r.Fresult = rc;
    log(std::move(r));
    return rc;
  }
  const TfaultRule* f = matchFault(*d, XK_CONTROL, request, -1);
  if (f && f->FshortBy == 0) {
    r.Fresult = f->Fresult;
    log(std::move(r));
    return f->Fresult;
  }
  const bool in = requestType & LIBUSB_ENDPOINT_IN;
  std::vector<uint8_t> buf(length, 0);
  if (!in && length) std::memcpy(buf.data(), data, length);
  int res;
  if ((requestType & 0x60) == LIBUSB_REQUEST_TYPE_STANDARD)
    res = standardRequest(*d, requestType, request, value, index, buf.data(), length);
  else if (d->Fboard)
    res = d->Fboard->Fbridge.control(requestType, request, value, index, buf.data(), length);
  else
    res = LIBUSB_ERROR_PIPE;
  if (res >= 0 && f) res = std::max(0, res - static_cast<int>(f->FshortBy));
  if (in) {
    if (res > 0) std::memcpy(data, buf.data(), res);
    if (res > 0) r.Fdata.assign(buf.begin(), buf.begin() + res);
  } else {
    r.Fdata = buf;
  }
  r.Fresult = res;
  r.Fmoved = res > 0 ? static_cast<uint32_t>(res) : 0;
  log(std::move(r));
  return res;
}

int TsimWorld::bulkTransfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data, int length,
                            int* transferred, unsigned timeout) {
  if (transferred) *transferred = 0;
  const bool in = endpoint & LIBUSB_ENDPOINT_IN;
  TxferRecord r;
  r.Fkind = in ? XK_BULK_IN : XK_BULK_OUT;
  r.Fendpoint = endpoint;
  r.Flength = length > 0 ? static_cast<uint32_t>(length) : 0;
  int rc = 0;
  TsimDevice* d = deviceOf(h, rc);
  if (d)
    r.Fdevice = d->Findex;
  else if (Fhandles.count(h))
    r.Fdevice = h->Fdev->Fdev->Findex;
  if (d && (length < 0 || (length > 0 && !data))) rc = LIBUSB_ERROR_INVALID_PARAM;
  if (!d || rc || !takeTransfer(*d, rc)) {
    r.Fresult = rc;
    log(std::move(r));
    return rc;
  }
  TsimBridge* bridge = d->Fboard ? &d->Fboard->Fbridge : nullptr;
  if (!bridge || !(in ? bridge->isInEndpoint(endpoint) : bridge->isOutEndpoint(endpoint))) {
    rc = LIBUSB_ERROR_IO;  // usbfs refuses an endpoint the interface does not have
  } else if (!h->Fclaimed) {
    ++Fmisuse;  // usbfs claims on the fly, unless someone else holds the interface
    if (d->Fstate.FkernelDriver || d->Fcfg.FheldElsewhere || d->Fclaimer) rc = LIBUSB_ERROR_IO;
  }
  const TfaultRule* f = rc ? nullptr : matchFault(*d, r.Fkind, -1, endpoint);
  if (f && f->FshortBy == 0) rc = f->Fresult;
  if (rc) {
    r.Fresult = rc;
    log(std::move(r));
    return rc;
  }
  const uint32_t len = static_cast<uint32_t>(length);
  const uint32_t want = f ? len - std::min(len, f->FshortBy) : len;
  uint32_t moved = 0;
  if (!in) {
    bridge->bulkOut(data, want);
    moved = want;
  } else if (want > 0 && bridge->pendingIn() == 0) {
    tick(uint64_t(timeout ? timeout : 1000) * TICKS_PER_MS);  // the device NAKs until the timeout
    rc = LIBUSB_ERROR_TIMEOUT;
  } else {
    moved = bridge->bulkIn(data, want);
    // Only a short packet ends a transfer early; after full packets the host waits on.
    if (!f && moved < len && moved % PACKET == 0) {
      tick(uint64_t(timeout ? timeout : 1000) * TICKS_PER_MS);
      rc = LIBUSB_ERROR_TIMEOUT;
    }
  }
  if (transferred) *transferred = static_cast<int>(moved);
  r.Fresult = rc;
  r.Fmoved = moved;
  r.Fdata.assign(data, data + moved);
  log(std::move(r));
  return rc;
}

int TsimWorld::standardRequest(TsimDevice& d, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                               uint8_t* data, uint16_t length) {
  (void)index;
  std::vector<uint8_t> reply;
  if (requestType == 0x80 && request == LIBUSB_REQUEST_GET_DESCRIPTOR) {
    const unsigned type = value >> 8, idx = value & 0xFF;
    if (type == LIBUSB_DT_DEVICE) {
      reply = deviceDescriptor(d);
    } else if (type == LIBUSB_DT_CONFIG && idx == 0) {
      reply = configDescriptor(d);
    } else if (type == LIBUSB_DT_STRING) {
      if (d.Fcfg.FstringResult < 0) return d.Fcfg.FstringResult;
      const std::string* s = nullptr;
      if (idx == 1) s = &d.Fcfg.Fmanufacturer;
      if (idx == 2) s = &d.Fcfg.FproductName;
      if (idx == 3) s = &d.Fcfg.Fserial;
      if (idx == 0)
        reply = {4, LIBUSB_DT_STRING, uint8_t(LANG_EN_US), uint8_t(LANG_EN_US >> 8)};
      else if (s && !s->empty())
        reply = stringDescriptor(*s);
      else
        return LIBUSB_ERROR_PIPE;
    } else {
      return LIBUSB_ERROR_PIPE;
    }
  } else if (requestType == 0x80 && request == LIBUSB_REQUEST_GET_STATUS) {
    reply = {0, 0};
  } else if (requestType == 0x80 && request == LIBUSB_REQUEST_GET_CONFIGURATION) {
    reply = {static_cast<uint8_t>(d.Fstate.FactiveConfig)};
  } else {
    return LIBUSB_ERROR_PIPE;
  }
  const size_t n = std::min<size_t>(reply.size(), length);
  if (n) std::memcpy(data, reply.data(), n);
  return static_cast<int>(n);
}

std::vector<uint8_t> TsimWorld::deviceDescriptor(const TsimDevice& d) const {
  const TdevConfig& c = d.Fcfg;
  return {18,
          LIBUSB_DT_DEVICE,
          0x00,
          0x02,
          c.FdeviceClass,
          0,
          0,
          64,
          uint8_t(c.Fvendor),
          uint8_t(c.Fvendor >> 8),
          uint8_t(c.Fproduct),
          uint8_t(c.Fproduct >> 8),
          uint8_t(c.FbcdDevice),
          uint8_t(c.FbcdDevice >> 8),
          uint8_t(c.Fmanufacturer.empty() ? 0 : 1),
          uint8_t(c.FproductName.empty() ? 0 : 2),
          uint8_t(c.Fserial.empty() ? 0 : 3),
          1};
}

std::vector<uint8_t> TsimWorld::configDescriptor(const TsimDevice& d) const {
  const uint8_t eps = d.Fboard ? 2 : 0;
  const uint8_t total = static_cast<uint8_t>(9 + 9 + 7 * eps);
  std::vector<uint8_t> v{9, LIBUSB_DT_CONFIG,    total, 0, 1,   1,    0, 0x80, 0x32,
                         9, LIBUSB_DT_INTERFACE, 0,     0, eps, 0xFF, 0, 0,    0};
  if (d.Fboard) {
    const TbridgeState b = d.Fboard->Fbridge.state();
    const std::vector<uint8_t> out{7, LIBUSB_DT_ENDPOINT, b.FepOut, LIBUSB_TRANSFER_TYPE_BULK, 64, 0, 0};
    const std::vector<uint8_t> inp{7, LIBUSB_DT_ENDPOINT, b.FepIn, LIBUSB_TRANSFER_TYPE_BULK, 64, 0, 0};
    // The lower endpoint number comes first.
    const bool outFirst = (b.FepOut & 0x0F) < (b.FepIn & 0x0F);
    v.insert(v.end(), (outFirst ? out : inp).begin(), (outFirst ? out : inp).end());
    v.insert(v.end(), (outFirst ? inp : out).begin(), (outFirst ? inp : out).end());
  }
  return v;
}

}  // namespace kelvosim
