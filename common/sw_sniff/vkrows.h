// Row model of the decoding engine: every decoded thing (reset, packet, group)
// is a row owned through a shared handle, so the packet list, the row tree and
// the display list all see the same object and its handle/parent/number fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "vkpids.h"

// No time: rows that never got a tick carry all ones.
constexpr uint64_t MAX_TICK = 0xFFFFFFFFFFFFFFFFull;

// One tick is one full-speed bit time.
constexpr int TICKS_PER_MICROSECOND = 12;

enum TrowKind : int {
  RK_RESET = 0,
  RK_SOF = 1,
  RK_TOKEN = 2,
  RK_DATA = 3,
  RK_HANDSHAKE = 4,
  RK_SOFGROUP = 5,
  RK_TRANSAX = 6,
  RK_TRANSFER = 7,
  RK_NONE = 8
};

enum L0eventType : int {
  L0_TOKEN = 0,
  L0_DATA = 1,
  L0_HANDSHAKE = 2,
  L0_SOF = 3,
  L0_SPECIAL = 4,
  L0_RESERVED = 5,
  L0_RESET = 6,
  L0_UNDEFINED = 7
};

enum L1groupType : int {
  L1_RESET = 0,
  L1_SOF = 1,
  L1_SOFGROUP = 2,
  L1_CONTROL = 3,
  L1_IN = 4,
  L1_OUT = 5,
  L1_UNDEFINED = 6
};

enum TtrxType : int { TRX_SETUP = 0, TRX_IN = 1, TRX_OUT = 2, TRX_UNDEFINED = 3 };

enum TtfrType : int { TFR_CONTROL = 3, TFR_DEFAULT = 4 };

class Tbase;
using TrowPtr = std::shared_ptr<Tbase>;
using TrowVec = std::vector<TrowPtr>;
using TstringVec = std::vector<std::string>;
using TbyteVec = std::vector<uint8_t>;

class Tbase {
 public:
  Tbase() = default;
  virtual ~Tbase() = default;

  int kind = RK_NONE;
  int level = 0;
  uint64_t tick = MAX_TICK;
  bool ok = true;
  int handle = 0;
  int parent = -1;
  uint32_t number = 6666;
};

class Treset : public Tbase {
 public:
  Treset() { kind = RK_RESET; }
  uint32_t duration = 0;
  uint32_t idleTicks = 0;
};

class TpacketBase : public Tbase {
 public:
  int pid = 99;
  uint32_t idle = 0;
};

class Tsof : public TpacketBase {
 public:
  Tsof() { kind = RK_SOF; }
  int frame = 0;
  int crc5 = 0;
  bool crcOK = true;
};

class Ttoken : public TpacketBase {
 public:
  Ttoken() { kind = RK_TOKEN; }
  int addr = 0;
  int endp = 0;
  int crc5 = 0;
  bool crcOK = true;
};

class Tdata : public TpacketBase {
 public:
  Tdata() { kind = RK_DATA; }
  TbyteVec data;
  int crc16 = 0;
  bool crcOK = true;
};

class Thandshake : public TpacketBase {
 public:
  Thandshake() { kind = RK_HANDSHAKE; }
};

class Tgrouper : public Tbase {
 public:
  TrowVec children;
};

class TsofGroup : public Tgrouper {
 public:
  TsofGroup() { kind = RK_SOFGROUP; }
};

class Ttransax : public Tgrouper {
 public:
  Ttransax() { kind = RK_TRANSAX; }
  explicit Ttransax(TtrxType t) : Ttransax() { trxType = t; }
  TtrxType trxType = TRX_UNDEFINED;

  // Finders over the children (vkgroup.cpp).
  std::shared_ptr<Ttoken> findTokenPkt() const;
  std::shared_ptr<Tdata> findDataPkt() const;
  std::shared_ptr<Thandshake> findHandshakePkt() const;
  bool ackOK() const;
};

class Ttransfer : public Tgrouper {
 public:
  Ttransfer() { kind = RK_TRANSFER; }
  explicit Ttransfer(TtfrType t) : Ttransfer() { tfrType = t; }
  TtfrType tfrType = TFR_DEFAULT;
  TbyteVec data;
  bool success = false;

  // Finders over the children and the data stage (vkgroup.cpp).
  std::shared_ptr<Ttransax> findTransax(TtrxType type, unsigned& i) const;
  std::shared_ptr<Ttransax> findSetupTransax() const;
  std::shared_ptr<Ttransax> findInTransax(unsigned& i) const;
  std::shared_ptr<Ttransax> findOutTransax(unsigned& i) const;
  // The directions of the data and status stages, from bit 7 of the request
  // (status IN when wLength is 0); false when the SETUP transaction has no
  // 8-byte request.
  bool findStageTypes(TtrxType& dataType, TtrxType& statusType) const;
  TbyteVec& findData();
};

// Display-row flag bits.
constexpr uint8_t LR_SOF = 0x01;
constexpr uint8_t LR_PACKET = 0x04;
constexpr uint8_t LR_USER = 0x08;
constexpr uint8_t LR_WORKED_OUT = 0x40;
constexpr uint8_t LR_VISIBLE = 0x80;

class TlinRow {
 public:
  TlinRow(TrowPtr r, uint8_t f) : row(std::move(r)), flags(f) {}
  TlinRow(TlinRow&& other) noexcept : row(std::move(other.row)), flags(other.flags) {}
  TlinRow(const TlinRow&) = default;
  TlinRow& operator=(const TlinRow&) = default;
  TlinRow& operator=(TlinRow&&) = default;

  TrowPtr row;
  uint8_t flags;
};

// ---- dispatch on the row kind ----

// Lambdas joined into one overload set: visitRow(row, Toverload{[](const Treset&) {...}, ...}).
template <class... F>
struct Toverload : F... {
  using F::operator()...;
};
template <class... F>
Toverload(F...) -> Toverload<F...>;

namespace rowkind {

// T with the constness of B.
template <class B, class T>
using Tlike = std::conditional_t<std::is_const_v<B>, const T, T>;

template <class B, class V, class... T>
constexpr bool takesAll = (std::is_invocable_v<V, Tlike<B, T>&> && ...);

// The visitor must take every row class: a forgotten kind does not compile.
template <class B, class V>
constexpr bool takesEveryKind = takesAll<B, V, Treset, Tsof, Ttoken, Tdata, Thandshake, TsofGroup, Ttransax, Ttransfer>;

template <class T, class B, class V, class R>
R call(B& row, V& visitor, R otherwise) {
  auto* typed = dynamic_cast<Tlike<B, T>*>(&row);
  if (!typed) return otherwise;
  if constexpr (std::is_void_v<std::invoke_result_t<V&, Tlike<B, T>&>>) {
    visitor(*typed);
    return R(true);
  } else {
    return visitor(*typed);
  }
}

}  // namespace rowkind

// Calls the visitor with the row as the class of its kind and gives its result.
// A row of no kind (outside 0..7), or one whose class does not match its kind,
// is not visited and gives `otherwise`. A visitor that returns nothing makes
// visitRow say whether the row was visited.
template <class B, class V, class R>
R visitRow(B& row, V&& visitor, R otherwise) {
  static_assert(std::is_base_of_v<Tbase, std::remove_const_t<B>>, "visitRow takes a row");
  static_assert(rowkind::takesEveryKind<B, V>, "the visitor misses a row kind");
  switch (row.kind) {
    case RK_RESET: return rowkind::call<Treset>(row, visitor, otherwise);
    case RK_SOF: return rowkind::call<Tsof>(row, visitor, otherwise);
    case RK_TOKEN: return rowkind::call<Ttoken>(row, visitor, otherwise);
    case RK_DATA: return rowkind::call<Tdata>(row, visitor, otherwise);
    case RK_HANDSHAKE: return rowkind::call<Thandshake>(row, visitor, otherwise);
    case RK_SOFGROUP: return rowkind::call<TsofGroup>(row, visitor, otherwise);
    case RK_TRANSAX: return rowkind::call<Ttransax>(row, visitor, otherwise);
    case RK_TRANSFER: return rowkind::call<Ttransfer>(row, visitor, otherwise);
    default: return otherwise;
  }
}

template <class B, class V>
bool visitRow(B& row, V&& visitor) {
  return visitRow(row, std::forward<V>(visitor), false);
}

using TlinVec = std::vector<TlinRow>;
using TlinVecPtr = std::shared_ptr<TlinVec>;
using TrowVecPtr = std::shared_ptr<TrowVec>;
