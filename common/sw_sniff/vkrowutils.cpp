// Row text line: writer and reader. The reader never trusts the line: every
// number is range-checked against its field, and a bad field clears the row's
// ok flag and keeps the field's default. Both run once per row when a sample
// file is saved or loaded, so the reader works on views into the line and the
// writer puts its digits straight into one reserved line.
#include "vkrowutils.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace rowutils {

namespace {

using Ttext = std::string_view;

// Indentation is cosmetic (the level field carries the depth); capping it keeps
// a line with an absurd level from growing to gigabytes.
constexpr int MAX_INDENT_LEVEL = 1000;

// Room for an ordinary line; a data line needs three more characters a byte.
constexpr size_t LINE_RESERVE = 64;
constexpr size_t CHARS_PER_BYTE = 3;

const char HEX_DIGITS[] = "0123456789abcdef";

// ---- writing ----

template <class N>
void appendDec(std::string& line, N value) {
  char digits[24];
  const auto res = std::to_chars(digits, digits + sizeof digits, value);
  line.append(digits, res.ptr);
}

// Lower-case hex, zero-filled to width digits; a negative value keeps its sign
// so that the reader gets the same value back.
void appendHex(std::string& line, int64_t value, size_t width) {
  uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[16];
  char* first = digits + sizeof digits;
  do {
    *--first = HEX_DIGITS[mag & 15u];
    mag >>= 4;
  } while (mag != 0);
  const size_t n = static_cast<size_t>(digits + sizeof digits - first);
  if (value < 0) line += '-';
  if (n < width) line.append(width - n, '0');
  line.append(first, n);
}

void appendField(std::string& line, const char* key) {
  line += ';';
  line += key;
}

void appendCrc(std::string& line, char width, bool crcOK, int crc) {
  line += ';';
  line += width;
  line += crcOK ? "P:" : "F:";
  appendHex(line, crc, width == '5' ? 2 : 4);
}

// Indentation and level, into a line sized for the whole row.
void beginLine(std::string& line, const Tbase& row, size_t extra) {
  const size_t indent =
      row.kind != RK_RESET && row.level > 0 ? 2 * static_cast<size_t>(std::min(row.level, MAX_INDENT_LEVEL)) : 0;
  line.reserve(indent + LINE_RESERVE + extra);
  line.append(indent, ' ');
  appendDec(line, row.level);
}

bool writeLine(const TrowPtr& row, std::string& line) {
  const Tbase& base = *row;
  return visitRow(base, Toverload{[&line](const Treset& r) {
                                    beginLine(line, r, 0);
                                    appendField(line, "Y:Reset;TI:");
                                    appendDec(line, r.tick);
                                    appendField(line, "RL:");
                                    appendDec(line, r.duration);
                                    appendField(line, "TL:");
                                    appendDec(line, r.idleTicks);
                                  },
                                  [&line](const Tsof& s) {
                                    beginLine(line, s, 0);
                                    appendField(line, "S:");
                                    appendDec(line, s.pid);
                                    appendField(line, "TI:");
                                    appendDec(line, s.tick);
                                    appendField(line, "FR:");
                                    appendDec(line, s.frame);
                                    appendCrc(line, '5', s.crcOK, s.crc5);
                                    appendField(line, "TL:");
                                    appendDec(line, s.idle);
                                  },
                                  [&line](const Ttoken& k) {
                                    beginLine(line, k, 0);
                                    appendField(line, "K:");
                                    appendDec(line, k.pid);
                                    appendField(line, "TI:");
                                    appendDec(line, k.tick);
                                    appendField(line, "AD:");
                                    appendDec(line, k.addr);
                                    appendField(line, "EP:");
                                    appendDec(line, k.endp);
                                    appendCrc(line, '5', k.crcOK, k.crc5);
                                    appendField(line, "TL:");
                                    appendDec(line, k.idle);
                                  },
                                  [&line](const Tdata& d) {
                                    beginLine(line, d, CHARS_PER_BYTE * d.data.size());
                                    appendField(line, "D:");
                                    appendDec(line, d.pid);
                                    appendField(line, "TI:");
                                    appendDec(line, d.tick);
                                    appendField(line, "DA:");
                                    for (size_t i = 0; i < d.data.size(); ++i) {
                                      if (i > 0) line += ',';
                                      line += HEX_DIGITS[d.data[i] >> 4];
                                      line += HEX_DIGITS[d.data[i] & 15u];
                                    }
                                    appendCrc(line, '6', d.crcOK, d.crc16);
                                    appendField(line, "TL:");
                                    appendDec(line, d.idle);
                                  },
                                  [&line](const Thandshake& h) {
                                    beginLine(line, h, 0);
                                    appendField(line, "H:");
                                    appendDec(line, h.pid);
                                    appendField(line, "TI:");
                                    appendDec(line, h.tick);
                                    appendField(line, "TL:");
                                    appendDec(line, h.idle);
                                  },
                                  [&line](const TsofGroup& g) {
                                    beginLine(line, g, 0);
                                    appendField(line, "G:SOFgroup;X:");
                                    appendDec(line, g.children.size());
                                  },
                                  [&line](const Ttransax& t) {
                                    beginLine(line, t, 0);
                                    appendField(line, t.trxType == TRX_SETUP ? "T:SETUP;X:"
                                                      : t.trxType == TRX_IN  ? "T:IN;X:"
                                                                             : "T:OUT;X:");
                                    appendDec(line, t.children.size());
                                  },
                                  [&line](const Ttransfer& c) {
                                    beginLine(line, c, 0);
                                    appendField(line, "C:CONTROL;X:");
                                    appendDec(line, c.children.size());
                                  }});
}

// ---- reading ----

// The non-empty pieces of a text between separators, in order, as utils::split
// gives them, but as views: a separator at the end or a run of them adds none.
class Tpieces {
 public:
  Tpieces(Ttext text, char sep) : Ftext(text), Fsep(sep) {}

  bool next(Ttext& piece) {
    while (Fpos < Ftext.size()) {
      const size_t start = Fpos;
      size_t end = Ftext.find(Fsep, start);
      if (end == Ttext::npos) end = Ftext.size();
      Fpos = end + 1;
      if (end > start) {
        piece = Ftext.substr(start, end - start);
        return true;
      }
    }
    return false;
  }

 private:
  Ttext Ftext;
  char Fsep;
  size_t Fpos = 0;
};

// Splits a piece at ':' (empty parts left out) and gives the number of parts,
// 3 standing for any more than two; first and second hold the first two.
int splitPair(Ttext piece, Ttext& first, Ttext& second) {
  Tpieces parts(piece, ':');
  Ttext more;
  if (!parts.next(first)) return 0;
  if (!parts.next(second)) return 1;
  return parts.next(more) ? 3 : 2;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

template <int BASE>
int digitValue(char c) {
  int d = -1;
  if (c >= '0' && c <= '9')
    d = c - '0';
  else if (c >= 'a' && c <= 'f')
    d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    d = c - 'A' + 10;
  return d < BASE ? d : -1;
}

// A number as the line carries it: leading blanks, an optional sign, "0x"
// allowed in hex, digits up to the first character that is none. False when no
// digit stands there or the magnitude overflows 64 bits. The base is a constant
// so that the overflow test divides by a constant.
template <int BASE>
bool readNumber(Ttext text, bool& neg, uint64_t& mag) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && isBlank(text[i])) ++i;
  neg = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  if (BASE == 16 && i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      digitValue<16>(text[i + 2]) >= 0)
    i += 2;
  const size_t first = i;
  mag = 0;
  for (; i < n; ++i) {
    const int d = digitValue<BASE>(text[i]);
    if (d < 0) break;
    if (mag > (UINT64_MAX - static_cast<uint64_t>(d)) / BASE) return false;
    mag = mag * BASE + static_cast<uint64_t>(d);
  }
  return i > first;
}

template <int BASE>
bool readInt(Ttext text, int& field) {
  bool neg;
  uint64_t mag;
  if (!readNumber<BASE>(text, neg, mag)) return false;
  if (mag > (neg ? 0x80000000ull : 0x7fffffffull)) return false;
  field = neg ? static_cast<int>(-static_cast<int64_t>(mag)) : static_cast<int>(mag);
  return true;
}

bool readUnsigned(Ttext text, uint64_t max, uint64_t& value) {
  bool neg;
  uint64_t mag;
  if (!readNumber<10>(text, neg, mag)) return false;
  if ((neg && mag != 0) || mag > max) return false;
  value = mag;
  return true;
}

bool readU32(Ttext text, uint32_t& field) {
  uint64_t value;
  if (!readUnsigned(text, UINT32_MAX, value)) return false;
  field = static_cast<uint32_t>(value);
  return true;
}

bool readU64(Ttext text, uint64_t& field) { return readUnsigned(text, UINT64_MAX, field); }

// A payload byte keeps the low 8 bits of the value read.
bool readBytes(Ttext text, TbyteVec& data) {
  // Sized once for a whole payload; a repeated DA key grows it the usual way.
  if (data.empty()) data.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), ',')) + 1);
  // Pieces between commas as Tpieces gives them, found by a plain scan: they
  // are mostly two characters long, too short to pay for a memchr each.
  bool ok = true;
  const size_t n = text.size();
  for (size_t start = 0; start < n;) {
    size_t end = start;
    while (end < n && text[end] != ',') ++end;
    if (end > start) {
      bool neg;
      uint64_t mag;
      if (readNumber<16>(text.substr(start, end - start), neg, mag))
        data.push_back(static_cast<uint8_t>(neg ? 0 - mag : mag));
      else
        ok = false;
    }
    start = end + 1;
  }
  return ok;
}

// The key says whether the check passed: 5P/6P or 5F/6F.
bool readCrc(Ttext key, Ttext value, int& crc, bool& crcOK) {
  if (!readInt<16>(value, crc)) return false;
  crcOK = key[1] == 'P';
  return true;
}

bool isCrcKey(Ttext key, char width) { return key.size() == 2 && key[0] == width && (key[1] == 'P' || key[1] == 'F'); }

// Each reader: true when the piece was read or is a key the kind ignores.
bool readKey(Treset& r, Ttext key, Ttext value) {
  if (key == "TI") return readU64(value, r.tick);
  if (key == "RL") return readU32(value, r.duration);
  if (key == "TL") return readU32(value, r.idleTicks);
  return true;
}

bool readKey(Tsof& s, Ttext key, Ttext value) {
  if (key == "TI") return readU64(value, s.tick);
  if (key == "FR") return readInt<10>(value, s.frame);
  if (isCrcKey(key, '5')) return readCrc(key, value, s.crc5, s.crcOK);
  if (key == "TL") return readU32(value, s.idle);
  return true;
}

bool readKey(Ttoken& k, Ttext key, Ttext value) {
  if (key == "TI") return readU64(value, k.tick);
  if (key == "AD") return readInt<10>(value, k.addr);
  if (key == "EP") return readInt<10>(value, k.endp);
  if (isCrcKey(key, '5')) return readCrc(key, value, k.crc5, k.crcOK);
  if (key == "TL") return readU32(value, k.idle);
  return true;
}

bool readKey(Tdata& d, Ttext key, Ttext value) {
  if (key == "TI") return readU64(value, d.tick);
  if (key == "DA") return readBytes(value, d.data);
  if (isCrcKey(key, '6')) return readCrc(key, value, d.crc16, d.crcOK);
  if (key == "TL") return readU32(value, d.idle);
  return true;
}

bool readKey(Thandshake& h, Ttext key, Ttext value) {
  if (key == "TI") return readU64(value, h.tick);
  if (key == "TL") return readU32(value, h.idle);
  return true;
}

// Reads the pieces that pieces has not yet given.
template <class R>
bool readKeys(R& row, Tpieces& pieces) {
  bool ok = true;
  Ttext piece;
  while (pieces.next(piece)) {
    Ttext key;
    Ttext value;
    const int parts = splitPair(piece, key, value);
    if (parts == 2) {
      ok = readKey(row, key, value) && ok;
    } else if (!(row.kind == RK_DATA && parts == 1 && key == "DA")) {
      ok = false;  // "DA:" is an empty payload, not a fault
    }
  }
  return ok;
}

// The tag piece of a packet line carries the pid as its value.
bool readPid(TpacketBase& p, Ttext tagPiece) {
  Ttext tag;
  Ttext value;
  return splitPair(tagPiece, tag, value) == 2 && readInt<10>(value, p.pid);
}

bool readTrxType(Ttransax& t, Ttext tagPiece) {
  Ttext tag;
  Ttext value;
  if (splitPair(tagPiece, tag, value) != 2 || tag != "T") return false;
  if (value == "SETUP")
    t.trxType = TRX_SETUP;
  else if (value == "IN")
    t.trxType = TRX_IN;
  else if (value == "OUT")
    t.trxType = TRX_OUT;
  return true;
}

template <class R>
TrowPtr readPacket(Ttext tagPiece, Tpieces& pieces, bool& ok) {
  auto row = std::make_shared<R>();
  ok = readPid(*row, tagPiece) && ok;
  ok = readKeys(*row, pieces) && ok;
  return row;
}

}  // namespace

std::string toString(TrowPtr row) {
  std::string line;
  if (!row) return line;
  if (!writeLine(row, line)) return std::string();
  line += '\n';
  return line;
}

TrowPtr fromString(std::string& line) {
  if (line.empty() || line[0] == '-') return nullptr;
  Tpieces pieces(line, ';');
  Ttext levelPiece;
  Ttext tagPiece;
  if (!pieces.next(levelPiece) || !pieces.next(tagPiece)) return nullptr;

  int level = 0;
  bool ok = readInt<10>(levelPiece, level);
  TrowPtr row;
  switch (tagPiece[0]) {
    case 'C': row = std::make_shared<Ttransfer>(); break;
    case 'G': row = std::make_shared<TsofGroup>(); break;
    case 'T': {
      auto t = std::make_shared<Ttransax>();
      ok = readTrxType(*t, tagPiece) && ok;
      row = t;
      break;
    }
    case 'Y': {
      auto r = std::make_shared<Treset>();
      ok = readKeys(*r, pieces) && ok;
      row = r;
      break;
    }
    case 'S': row = readPacket<Tsof>(tagPiece, pieces, ok); break;
    case 'K': row = readPacket<Ttoken>(tagPiece, pieces, ok); break;
    case 'D': row = readPacket<Tdata>(tagPiece, pieces, ok); break;
    case 'H': row = readPacket<Thandshake>(tagPiece, pieces, ok); break;
    default: return nullptr;  // unknown tag: no row
  }
  row->level = level;
  row->ok = ok;
  return row;
}

}  // namespace rowutils
