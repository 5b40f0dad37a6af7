// Row text line: writer and reader. The reader never trusts the line: every
// number is range-checked against its field, and a bad field clears the row's
// ok flag and keeps the field's default.
#include "vkrowutils.h"

#include <algorithm>
#include <cstdint>

#include "vkutils.h"

namespace rowutils {

namespace {

// Indentation is cosmetic (the level field carries the depth); capping it keeps
// a line with an absurd level from growing to gigabytes.
constexpr int MAX_INDENT_LEVEL = 1000;

const char HEX_DIGITS[] = "0123456789abcdef";

// Lower-case hex, zero-filled to width digits; a negative value keeps its sign
// so that the reader gets the same value back.
std::string hexText(int64_t value, size_t width) {
  uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits;
  do {
    digits.insert(digits.begin(), HEX_DIGITS[mag & 15u]);
    mag >>= 4;
  } while (mag != 0);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

std::string crcKey(char width, bool crcOK) { return std::string(1, width) + (crcOK ? "P:" : "F:"); }

template <class T>
const T* rowAs(const TrowPtr& row) {
  return dynamic_cast<const T*>(row.get());
}

bool writeBody(const TrowPtr& row, std::string& line) {
  const std::string lvl = std::to_string(row->level) + ";";
  switch (row->kind) {
    case RK_RESET: {
      auto r = rowAs<Treset>(row);
      if (!r) return false;
      line += lvl + "Y:Reset;TI:" + std::to_string(r->tick) + ";RL:" + std::to_string(r->duration) +
              ";TL:" + std::to_string(r->idleTicks);
      return true;
    }
    case RK_SOF: {
      auto s = rowAs<Tsof>(row);
      if (!s) return false;
      line += lvl + "S:" + std::to_string(s->pid) + ";TI:" + std::to_string(s->tick) + ";FR:" +
              std::to_string(s->frame) + ";" + crcKey('5', s->crcOK) + hexText(s->crc5, 2) +
              ";TL:" + std::to_string(s->idle);
      return true;
    }
    case RK_TOKEN: {
      auto k = rowAs<Ttoken>(row);
      if (!k) return false;
      line += lvl + "K:" + std::to_string(k->pid) + ";TI:" + std::to_string(k->tick) + ";AD:" +
              std::to_string(k->addr) + ";EP:" + std::to_string(k->endp) + ";" +
              crcKey('5', k->crcOK) + hexText(k->crc5, 2) + ";TL:" + std::to_string(k->idle);
      return true;
    }
    case RK_DATA: {
      auto d = rowAs<Tdata>(row);
      if (!d) return false;
      line += lvl + "D:" + std::to_string(d->pid) + ";TI:" + std::to_string(d->tick) + ";DA:";
      for (size_t i = 0; i < d->data.size(); ++i) {
        if (i > 0) line += ',';
        line += hexText(d->data[i], 2);
      }
      line += ";" + crcKey('6', d->crcOK) + hexText(d->crc16, 4) + ";TL:" + std::to_string(d->idle);
      return true;
    }
    case RK_HANDSHAKE: {
      auto h = rowAs<Thandshake>(row);
      if (!h) return false;
      line += lvl + "H:" + std::to_string(h->pid) + ";TI:" + std::to_string(h->tick) +
              ";TL:" + std::to_string(h->idle);
      return true;
    }
    case RK_SOFGROUP: {
      auto g = rowAs<TsofGroup>(row);
      if (!g) return false;
      line += lvl + "G:SOFgroup;X:" + std::to_string(g->children.size());
      return true;
    }
    case RK_TRANSAX: {
      auto t = rowAs<Ttransax>(row);
      if (!t) return false;
      const char* type = t->trxType == TRX_SETUP ? "SETUP" : t->trxType == TRX_IN ? "IN" : "OUT";
      line += lvl + "T:" + type + ";X:" + std::to_string(t->children.size());
      return true;
    }
    case RK_TRANSFER: {
      auto c = rowAs<Ttransfer>(row);
      if (!c) return false;
      line += lvl + "C:CONTROL;X:" + std::to_string(c->children.size());
      return true;
    }
    default:
      return false;
  }
}

// ---- reading ----

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int digitValue(char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') d = c - '0';
  else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

// A number as the line carries it: leading blanks, an optional sign, "0x"
// allowed in hex, digits up to the first character that is none. False when no
// digit stands there or the magnitude overflows 64 bits.
bool readNumber(const std::string& text, int base, bool& neg, uint64_t& mag) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && isBlank(text[i])) ++i;
  neg = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  if (base == 16 && i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      digitValue(text[i + 2], 16) >= 0)
    i += 2;
  const size_t first = i;
  mag = 0;
  for (; i < n; ++i) {
    const int d = digitValue(text[i], base);
    if (d < 0) break;
    if (mag > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    mag = mag * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  return i > first;
}

bool readInt(const std::string& text, int base, int& field) {
  bool neg;
  uint64_t mag;
  if (!readNumber(text, base, neg, mag)) return false;
  if (mag > (neg ? 0x80000000ull : 0x7fffffffull)) return false;
  field = neg ? static_cast<int>(-static_cast<int64_t>(mag)) : static_cast<int>(mag);
  return true;
}

bool readUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
  bool neg;
  uint64_t mag;
  if (!readNumber(text, 10, neg, mag)) return false;
  if ((neg && mag != 0) || mag > max) return false;
  value = mag;
  return true;
}

bool readU32(const std::string& text, uint32_t& field) {
  uint64_t value;
  if (!readUnsigned(text, UINT32_MAX, value)) return false;
  field = static_cast<uint32_t>(value);
  return true;
}

bool readU64(const std::string& text, uint64_t& field) { return readUnsigned(text, UINT64_MAX, field); }

// A payload byte keeps the low 8 bits of the value read.
bool readBytes(const std::string& text, TbyteVec& data) {
  bool ok = true;
  for (const std::string& piece : utils::split(text, ',')) {
    bool neg;
    uint64_t mag;
    if (!readNumber(piece, 16, neg, mag)) {
      ok = false;
      continue;
    }
    data.push_back(static_cast<uint8_t>(neg ? 0 - mag : mag));
  }
  return ok;
}

// The key says whether the check passed: 5P/6P or 5F/6F.
bool readCrc(const std::string& key, const std::string& value, int& crc, bool& crcOK) {
  if (!readInt(value, 16, crc)) return false;
  crcOK = key[1] == 'P';
  return true;
}

bool isCrcKey(const std::string& key, char width) {
  return key.size() == 2 && key[0] == width && (key[1] == 'P' || key[1] == 'F');
}

// Each reader: true when the piece was read or is a key the kind ignores.
bool readKey(Treset& r, const std::string& key, const std::string& value) {
  if (key == "TI") return readU64(value, r.tick);
  if (key == "RL") return readU32(value, r.duration);
  if (key == "TL") return readU32(value, r.idleTicks);
  return true;
}

bool readKey(Tsof& s, const std::string& key, const std::string& value) {
  if (key == "TI") return readU64(value, s.tick);
  if (key == "FR") return readInt(value, 10, s.frame);
  if (isCrcKey(key, '5')) return readCrc(key, value, s.crc5, s.crcOK);
  if (key == "TL") return readU32(value, s.idle);
  return true;
}

bool readKey(Ttoken& k, const std::string& key, const std::string& value) {
  if (key == "TI") return readU64(value, k.tick);
  if (key == "AD") return readInt(value, 10, k.addr);
  if (key == "EP") return readInt(value, 10, k.endp);
  if (isCrcKey(key, '5')) return readCrc(key, value, k.crc5, k.crcOK);
  if (key == "TL") return readU32(value, k.idle);
  return true;
}

bool readKey(Tdata& d, const std::string& key, const std::string& value) {
  if (key == "TI") return readU64(value, d.tick);
  if (key == "DA") return readBytes(value, d.data);
  if (isCrcKey(key, '6')) return readCrc(key, value, d.crc16, d.crcOK);
  if (key == "TL") return readU32(value, d.idle);
  return true;
}

bool readKey(Thandshake& h, const std::string& key, const std::string& value) {
  if (key == "TI") return readU64(value, h.tick);
  if (key == "TL") return readU32(value, h.idle);
  return true;
}

template <class R>
bool readKeys(R& row, const TstringVec& pieces, size_t first) {
  bool ok = true;
  for (size_t i = first; i < pieces.size(); ++i) {
    const TstringVec kv = utils::split(pieces[i], ':');
    if (kv.size() == 2) {
      ok = readKey(row, kv[0], kv[1]) && ok;
    } else if (!(row.kind == RK_DATA && kv.size() == 1 && kv[0] == "DA")) {
      ok = false;  // "DA:" is an empty payload, not a fault
    }
  }
  return ok;
}

// The tag piece of a packet line carries the pid as its value.
bool readPid(TpacketBase& p, const std::string& tagPiece) {
  const TstringVec kv = utils::split(tagPiece, ':');
  return kv.size() == 2 && readInt(kv[1], 10, p.pid);
}

bool readTrxType(Ttransax& t, const std::string& tagPiece) {
  const TstringVec kv = utils::split(tagPiece, ':');
  if (kv.size() != 2 || kv[0] != "T") return false;
  if (kv[1] == "SETUP") t.trxType = TRX_SETUP;
  else if (kv[1] == "IN") t.trxType = TRX_IN;
  else if (kv[1] == "OUT") t.trxType = TRX_OUT;
  return true;
}

template <class R>
TrowPtr readPacket(const TstringVec& pieces, bool& ok) {
  auto row = std::make_shared<R>();
  ok = readPid(*row, pieces[1]) && ok;
  ok = readKeys(*row, pieces, 2) && ok;
  return row;
}

}  // namespace

std::string toString(TrowPtr row) {
  std::string line;
  if (!row) return line;
  if (row->kind != RK_RESET && row->level > 0)
    line.append(2 * static_cast<size_t>(std::min(row->level, MAX_INDENT_LEVEL)), ' ');
  if (!writeBody(row, line)) return std::string();
  line += '\n';
  return line;
}

TrowPtr fromString(std::string& line) {
  if (line.empty() || line[0] == '-') return nullptr;
  const TstringVec pieces = utils::split(line, ';');
  if (pieces.size() < 2) return nullptr;

  int level = 0;
  bool ok = readInt(pieces[0], 10, level);
  TrowPtr row;
  switch (pieces[1][0]) {
    case 'C':
      row = std::make_shared<Ttransfer>();
      break;
    case 'G':
      row = std::make_shared<TsofGroup>();
      break;
    case 'T': {
      auto t = std::make_shared<Ttransax>();
      ok = readTrxType(*t, pieces[1]) && ok;
      row = t;
      break;
    }
    case 'Y': {
      auto r = std::make_shared<Treset>();
      ok = readKeys(*r, pieces, 2) && ok;
      row = r;
      break;
    }
    case 'S':
      row = readPacket<Tsof>(pieces, ok);
      break;
    case 'K':
      row = readPacket<Ttoken>(pieces, ok);
      break;
    case 'D':
      row = readPacket<Tdata>(pieces, ok);
      break;
    case 'H':
      row = readPacket<Thandshake>(pieces, ok);
      break;
    default:
      return nullptr;  // unknown tag: no row
  }
  row->level = level;
  row->ok = ok;
  return row;
}

}  // namespace rowutils
