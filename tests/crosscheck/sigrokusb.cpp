#include "sigrokusb.h"

#include <sys/wait.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace xcheck {

namespace {

// QX_SIGROK_CLI in the environment names another sigrok-cli.
const char* const SIGROK_CLI = "sigrok-cli";
const char* const DECODERS = "usb_signalling:signalling=full-speed:dp=0:dm=1,usb_packet";
// Packet fields and summaries, resets and signalling errors; the symbol and
// bit annotations would only slow the run down.
const char* const ANNOTATIONS = "usb_signalling=reset:error,usb_packet";

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string program() {
  const char* env = std::getenv("QX_SIGROK_CLI");
  return shellQuote(env && *env ? env : SIGROK_CLI);
}

bool exitedCleanly(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

bool startsWith(const std::string& s, const char* prefix, std::string& rest) {
  const std::string p(prefix);
  if (s.compare(0, p.size(), p) != 0) return false;
  rest = s.substr(p.size());
  return true;
}

// The whole text must be one number.
bool number(const std::string& s, int base, long& value) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(s.c_str(), &end, base);
  return errno == 0 && end && *end == '\0' && value >= 0;
}

bool hexField(const std::string& s, long& value) {
  std::string digits;
  return startsWith(s, "0x", digits) && number(digits, 16, value);
}

// One usb_packet field line into the open packet; false when it is no field.
bool packetField(const std::string& text, TsigrokEvent& p, bool& understood) {
  std::string rest;
  long v = 0;
  understood = true;
  if (startsWith(text, "SYNC: ", rest)) {
    p.syncOK = true;
  } else if (startsWith(text, "SYNC ERROR: ", rest)) {
    p.syncOK = false;
  } else if (startsWith(text, "PID: ", rest)) {
    p.pid = rest;
  } else if (startsWith(text, "Frame: ", rest)) {
    understood = number(rest, 10, v);
    p.frame = static_cast<int>(v);
  } else if (startsWith(text, "Address: ", rest)) {
    understood = number(rest, 10, v);
    p.addr = static_cast<int>(v);
  } else if (startsWith(text, "Endpoint: ", rest)) {
    understood = number(rest, 10, v);
    p.endp = static_cast<int>(v);
  } else if (startsWith(text, "CRC5: ", rest) || startsWith(text, "CRC5 ERROR: ", rest)) {
    understood = hexField(rest, v);
    p.crc5 = static_cast<int>(v);
    p.crcOK = p.crcOK && text[4] == ':';
  } else if (startsWith(text, "CRC16: ", rest) || startsWith(text, "CRC16 ERROR: ", rest)) {
    understood = hexField(rest, v);
    p.crc16 = static_cast<int>(v);
    p.crcOK = p.crcOK && text[5] == ':';
  } else if (startsWith(text, "Databyte: ", rest)) {
    understood = number(rest, 16, v) && v < 256;
    p.data.push_back(static_cast<uint8_t>(v));
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string sigrokMissing() {
  const std::string cmd = program() + " -P usb_signalling,usb_packet --show >/dev/null 2>&1";
  if (exitedCleanly(std::system(cmd.c_str()))) return "";
  return program() + " with the usb_signalling and usb_packet decoders is not installed";
}

bool runSigrok(const std::string& path, uint64_t sampleRate, std::string& annotations, std::string& error) {
  annotations.clear();
  error.clear();
  const std::string errPath = path + ".err";
  std::ostringstream cmd;
  cmd << program() << " -i " << shellQuote(path) << " -I binary:numchannels=2:samplerate=" << sampleRate << " -P "
      << DECODERS << " -A " << ANNOTATIONS << " --protocol-decoder-samplenum 2>" << shellQuote(errPath);
  FILE* pipe = popen(cmd.str().c_str(), "r");
  if (!pipe) {
    error = "cannot start: " + cmd.str();
    return false;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) annotations.append(buf, n);
  const bool ok = exitedCleanly(pclose(pipe));
  std::ifstream err(errPath);
  std::ostringstream complaint;
  complaint << err.rdbuf();
  std::remove(errPath.c_str());
  // sigrok-cli may exit 0 after complaining about its options.
  if (!ok || !complaint.str().empty()) error = cmd.str() + ": " + (ok ? "" : "failed; ") + complaint.str();
  return ok && error.empty();
}

bool parseAnnotations(const std::string& text, std::vector<TsigrokEvent>& events, std::string& error) {
  events.clear();
  error.clear();
  std::istringstream in(text);
  std::string line;
  TsigrokEvent open;
  bool fields = false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    uint64_t ss = 0;
    uint64_t es = 0;
    int used = 0;
    const size_t colon = line.find(": ");
    if (std::sscanf(line.c_str(), "%" SCNu64 "-%" SCNu64 " %n", &ss, &es, &used) != 2 || used == 0 ||
        colon == std::string::npos || colon < static_cast<size_t>(used)) {
      error = "not an annotation: " + line;
      return false;
    }
    const std::string decoder = line.substr(static_cast<size_t>(used), colon - static_cast<size_t>(used));
    const std::string note = line.substr(colon + 2);
    std::string rest;
    if (startsWith(decoder, "usb_signalling", rest)) {
      TsigrokEvent e;
      e.kind = note == "Reset" ? SK_RESET : SK_ERROR;
      e.ss = ss;
      e.es = es;
      e.text = note;
      events.push_back(e);
    } else if (startsWith(decoder, "usb_packet", rest)) {
      bool understood = true;
      if (packetField(note, open, understood)) {
        if (!understood) {
          error = "bad field: " + line;
          return false;
        }
        fields = true;
        continue;
      }
      open.kind = SK_PACKET;
      open.ss = ss;
      open.es = es;
      open.text = note;
      events.push_back(open);
      open = TsigrokEvent();
      fields = false;
    } else {
      error = "unknown decoder: " + line;
      return false;
    }
  }
  if (fields) error = "packet fields without a packet at the end";
  return !fields;
}

}  // namespace xcheck
