// Set-up from the KELVOSIM_* environment variables, for programs that run with the
// simulator preloaded and cannot call the control functions.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "simworld.h"
#include "vkboard.h"

namespace kelvosim {

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(sep, from);
    const std::string p = s.substr(from, at == std::string::npos ? std::string::npos : at - from);
    if (!p.empty()) parts.push_back(p);
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

bool number(const std::string& s, long long& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtoll(s.c_str(), &end, 0);
  return end && *end == '\0';
}

void warn(const std::string& what) { std::fprintf(stderr, "kelvosim: %s\n", what.c_str()); }

bool deviceKey(TdevConfig& c, const std::string& key, const std::string& val, bool& usercodeSet) {
  if (key == "serial") {
    c.Fserial = val;
    return true;
  }
  if (key == "manufacturer") {
    c.Fmanufacturer = val;
    return true;
  }
  if (key == "product") {
    c.FproductName = val;
    return true;
  }
  if (key == "ports") {
    c.Fports.clear();
    for (const std::string& p : split(val, '.')) {
      long long n = 0;
      if (!number(p, n)) return false;
      c.Fports.push_back(static_cast<uint8_t>(n));
    }
    return true;
  }
  long long n = 0;
  if (!number(val, n)) return false;
  if (key == "vid")
    c.Fvendor = static_cast<uint16_t>(n);
  else if (key == "pid")
    c.Fproduct = static_cast<uint16_t>(n);
  else if (key == "bcd")
    c.FbcdDevice = static_cast<uint16_t>(n);
  else if (key == "bus")
    c.Fbus = static_cast<uint8_t>(n);
  else if (key == "addr")
    c.Faddress = static_cast<uint8_t>(n);
  else if (key == "config")
    c.FactiveConfig = static_cast<int>(n);
  else if (key == "driver")
    c.FkernelDriver = n != 0;
  else if (key == "held")
    c.FheldElsewhere = n != 0;
  else if (key == "denied")
    c.FaccessDenied = n != 0;
  else if (key == "openrc")
    c.FopenResult = static_cast<int>(n);
  else if (key == "getconfigrc")
    c.FgetConfigResult = static_cast<int>(n);
  else if (key == "setconfigrc")
    c.FsetConfigResult = static_cast<int>(n);
  else if (key == "driverrc")
    c.FdriverActiveResult = static_cast<int>(n);
  else if (key == "detachrc")
    c.FdetachResult = static_cast<int>(n);
  else if (key == "stringrc")
    c.FstringResult = static_cast<int>(n);
  else if (key == "prio")
    c.FtransferPriority = static_cast<uint8_t>(n);
  else if (key == "idcode")
    c.Fidcode = static_cast<uint32_t>(n);
  else if (key == "usercode") {
    c.Fusercode = static_cast<uint32_t>(n);
    usercodeSet = true;
  } else if (key == "feabits")
    c.Ffeabits = static_cast<uint16_t>(n);
  else if (key == "flash")
    c.FflashValid = n != 0;
  else if (key == "busy")
    c.FbusyForever = n != 0;
  else if (key == "erasepolls")
    c.FeraseBusyPolls = static_cast<unsigned>(n);
  else if (key == "pagepolls")
    c.FpageBusyPolls = static_cast<unsigned>(n);
  else
    return false;
  return true;
}

bool parseDevices(TsimWorld& w, const std::string& text) {
  bool ok = true;
  for (const std::string& item : split(text, ';')) {
    const std::vector<std::string> fields = split(item, ',');
    TdevConfig c;
    if (fields[0] == "board")
      c = boardConfig();
    else if (fields[0] == "other")
      c = otherConfig(0x1D6B, 0x0002);
    else {
      warn("unknown device kind '" + fields[0] + "'");
      ok = false;
      continue;
    }
    bool usercodeSet = false;
    for (size_t i = 1; i < fields.size(); ++i) {
      const size_t eq = fields[i].find('=');
      const std::string key = fields[i].substr(0, eq);
      const std::string val = eq == std::string::npos ? "" : fields[i].substr(eq + 1);
      if (eq == std::string::npos || !deviceKey(c, key, val, usercodeSet)) {
        warn("bad device setting '" + fields[i] + "'");
        ok = false;
      }
    }
    // A 1200HC board comes with its own image current unless told otherwise.
    if (!usercodeSet && c.Fidcode == IDCODE_1200HC) c.Fusercode = USERCODE_1200HC;
    w.add(c);
  }
  return ok;
}

bool parseRule(const std::vector<std::string>& fields, TfaultRule& r) {
  for (const std::string& f : fields) {
    const size_t eq = f.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = f.substr(0, eq), val = f.substr(eq + 1);
    if (key == "xfer") {
      if (val == "any")
        r.Fkind = XK_ANY;
      else if (val == "control")
        r.Fkind = XK_CONTROL;
      else if (val == "bulkout")
        r.Fkind = XK_BULK_OUT;
      else if (val == "bulkin")
        r.Fkind = XK_BULK_IN;
      else
        return false;
      continue;
    }
    long long n = 0;
    if (!number(val, n)) return false;
    if (key == "dev")
      r.Fdevice = static_cast<int>(n);
    else if (key == "request")
      r.Frequest = static_cast<int>(n);
    else if (key == "endpoint")
      r.Fendpoint = static_cast<int>(n);
    else if (key == "skip")
      r.Fskip = static_cast<unsigned>(n);
    else if (key == "count")
      r.Fcount = static_cast<unsigned>(n);
    else if (key == "rc")
      r.Fresult = static_cast<int>(n);
    else if (key == "short")
      r.FshortBy = static_cast<unsigned>(n);
    else
      return false;
  }
  return true;
}

bool parseFaults(TsimWorld& w, const std::string& text) {
  bool ok = true;
  for (const std::string& item : split(text, ';')) {
    long long n = 0;
    if (item.rfind("unplug=", 0) == 0) {
      const std::string v = item.substr(7);
      const size_t at = v.find('@');
      long long dev = 0;
      if (number(v.substr(0, at), n) && (at == std::string::npos || number(v.substr(at + 1), dev)) &&
          w.device(static_cast<int>(dev))) {
        TsimDevice* d = w.device(static_cast<int>(dev));
        d->FunplugArmed = true;
        d->FunplugLeft = static_cast<unsigned>(n);
        continue;
      }
    } else if (item.rfind("list=", 0) == 0) {
      if (number(item.substr(5), n)) {
        w.FlistResult = static_cast<int>(n);
        continue;
      }
    } else if (item.rfind("xfer=", 0) == 0) {
      TfaultRule r;
      if (parseRule(split(item, ','), r)) {
        w.Ffaults.emplace_back(r, 0u);
        continue;
      }
    }
    warn("bad fault '" + item + "'");
    ok = false;
  }
  return ok;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool loadImage(TsimWorld& w, const char* path, uint32_t idcode) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes)) {
    warn(std::string("cannot read image ") + path);
    return false;
  }
  if (bytes.size() % 16 == 1) bytes.pop_back();  // the arrays end in one unsent 0x00
  if (bytes.empty() || bytes.size() % 16) {
    warn(std::string("image is not whole frames: ") + path);
    return false;
  }
  w.Fenv.Fimages[idcode] = bytes;
  return true;
}

}  // namespace

bool applyEnvironment(TsimWorld& w) {
  bool ok = true;
  const char* devices = std::getenv("KELVOSIM_DEVICES");
  if (devices)
    ok = parseDevices(w, devices) && ok;
  else
    w.add(boardConfig());
  if (const char* faults = std::getenv("KELVOSIM_FAULTS")) ok = parseFaults(w, faults) && ok;
  if (const char* traffic = std::getenv("KELVOSIM_TRAFFIC")) {
    const std::string t = traffic;
    if (t == "quiet")
      w.Fenv.Ftraffic = TsimTraffic::quiet();
    else if (t == "idle")
      w.Fenv.Ftraffic = TsimTraffic::idle();
    else if (t != "scenario") {
      warn("unknown traffic '" + t + "'");
      ok = false;
    }
  }
  if (const char* capture = std::getenv("KELVOSIM_CAPTURE")) {
    std::vector<uint8_t> bytes;
    if (readFile(capture, bytes) && bytes.size() >= kelvo::RAW_MAGIC_SIZE &&
        std::equal(kelvo::RAW_MAGIC, kelvo::RAW_MAGIC + kelvo::RAW_MAGIC_SIZE, bytes.begin())) {
      bytes.erase(bytes.begin(), bytes.begin() + kelvo::RAW_MAGIC_SIZE);
      w.Fenv.Ftraffic = TsimTraffic::stream(std::move(bytes));
    } else {
      warn(std::string("cannot replay capture ") + capture);
      ok = false;
    }
  }
  if (const char* ticks = std::getenv("KELVOSIM_TICKS_PER_TRANSFER")) {
    long long n = 0;
    if (number(ticks, n) && n >= 0) {
      w.FticksPerTransfer = static_cast<uint64_t>(n);
    } else {
      warn("bad KELVOSIM_TICKS_PER_TRANSFER");
      ok = false;
    }
  }
  if (const char* path = std::getenv("KELVOSIM_LOG")) {
    w.FlogFile = std::fopen(path, "w");
    if (!w.FlogFile) {
      warn(std::string("cannot write log ") + path);
      ok = false;
    }
  }
  if (const char* p = std::getenv("KELVOSIM_IMAGE_640")) ok = loadImage(w, p, IDCODE_640HC) && ok;
  if (const char* p = std::getenv("KELVOSIM_IMAGE_1200")) ok = loadImage(w, p, IDCODE_1200HC) && ok;
  return ok;
}

}  // namespace kelvosim
