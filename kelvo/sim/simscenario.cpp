#include "simscenario.h"

#include <algorithm>
#include <string>

#include "lineencoder.h"

namespace kelvosim {

namespace {

constexpr uint32_t FRAME_TICKS = 12000;   // 1 ms of full-speed bit times
constexpr uint32_t RESET_TICKS = 120000;  // 10 ms of SE0
constexpr uint32_t TURNAROUND = 6;        // J between a packet and its answer
constexpr uint32_t GAP = 40;              // J between transactions
constexpr int FIRST_FRAME = 0x5A0;
constexpr int DEVICE_ADDRESS = 7;
constexpr size_t TARGET_BYTES = 160000;
constexpr int MAX_FRAMES = 40000;
constexpr int EP0_SIZE = 8;

using Tevents = std::vector<TlineEvent>;

std::vector<uint8_t> stringDescriptor(const std::string& s) {
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * s.size()), 0x03};
  for (char c : s) {
    d.push_back(static_cast<uint8_t>(c));
    d.push_back(0);
  }
  return d;
}

const std::vector<uint8_t> DEVICE_DESCRIPTOR = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, EP0_SIZE, 0x09,
                                                0x12, 0x01, 0x00, 0x00, 0x01, 0x01, 0x02, 0x00,     0x01};
const std::vector<uint8_t> CONFIG_DESCRIPTOR = {
    0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x32,  // configuration
    0x09, 0x04, 0x00, 0x00, 0x01, 0x03, 0x01, 0x02, 0x00,  // interface: HID boot mouse
    0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x34, 0x00,  // HID
    0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x01};             // interrupt IN 1, 4 bytes, 1 ms

// Builds frames: each starts with its SOF on a 1 ms boundary and is padded with idle.
class Tframes {
 public:
  Tframes() : Fenc(options()) {}

  static TrawCoderOptions options() {
    TrawCoderOptions o;
    o.header = false;  // the board writes the magic itself
    return o;
  }

  void attachAndReset() {
    Fenc.add(linegen::idle(1200));
    Fenc.add(linegen::reset(RESET_TICKS, GAP));
    Fstart = Fenc.tick();
  }

  // Transactions of one frame, each a list of packets.
  void frame(const std::vector<Tevents>& transactions) {
    const uint64_t begin = Fstart + uint64_t(Fframes) * FRAME_TICKS;
    if (Fenc.tick() < begin) Fenc.add(linegen::idle(static_cast<uint32_t>(begin - Fenc.tick())));
    Fenc.add(linegen::sof((FIRST_FRAME + Fframes) & 0x7FF, GAP));
    for (const Tevents& t : transactions) Fenc.add(t);
    ++Fframes;
  }

  size_t bytes() const { return Fenc.bytes().size(); }
  int frames() const { return Fframes; }

  std::vector<uint8_t> finish() {
    frame({});
    Fenc.flush();
    return Fenc.takeBytes();
  }

 private:
  TlineEncoder Fenc;
  uint64_t Fstart = 0;
  int Fframes = 0;
};

Tevents setupStage(int addr, const std::vector<uint8_t>& setup) {
  return {linegen::token(PID_SETUP, addr, 0, TURNAROUND), linegen::data(PID_DATA0, setup, TURNAROUND),
          linegen::handshake(PID_ACK, GAP)};
}

Tevents inNak(int addr, int ep) {
  return {linegen::token(PID_IN, addr, ep, TURNAROUND), linegen::handshake(PID_NAK, GAP)};
}

Tevents inData(int addr, int ep, int pid, const std::vector<uint8_t>& payload) {
  return {linegen::token(PID_IN, addr, ep, TURNAROUND), linegen::data(pid, payload, TURNAROUND),
          linegen::handshake(PID_ACK, GAP)};
}

Tevents outZeroLength(int addr) {
  return {linegen::token(PID_OUT, addr, 0, TURNAROUND), linegen::data(PID_DATA1, {}, TURNAROUND),
          linegen::handshake(PID_ACK, GAP)};
}

// A control read: SETUP, a NAK while the device prepares, the data stage in packets
// of EP0_SIZE (a zero-length one when a full packet ends short of wLength), and the
// OUT status stage.
void controlRead(Tframes& f, int addr, const std::vector<uint8_t>& setup, const std::vector<uint8_t>& reply) {
  const size_t wLength = setup[6] | (setup[7] << 8);
  const std::vector<uint8_t> data(reply.begin(), reply.begin() + std::min(reply.size(), wLength));
  f.frame({setupStage(addr, setup)});
  std::vector<Tevents> stage{inNak(addr, 0)};
  int pid = PID_DATA1;
  size_t at = 0;
  for (;;) {
    const size_t n = std::min<size_t>(EP0_SIZE, data.size() - at);
    stage.push_back(inData(addr, 0, pid, std::vector<uint8_t>(data.begin() + at, data.begin() + at + n)));
    pid = pid == PID_DATA1 ? PID_DATA0 : PID_DATA1;
    at += n;
    if (n < EP0_SIZE || at == wLength) break;
  }
  f.frame(stage);
  f.frame({outZeroLength(addr)});
}

// A control write without data stage: SETUP, then the IN status stage.
void controlNoData(Tframes& f, int addr, const std::vector<uint8_t>& setup) {
  f.frame({setupStage(addr, setup)});
  f.frame({inData(addr, 0, PID_DATA1, {})});
}

std::vector<uint8_t> build() {
  Tframes f;
  f.attachAndReset();
  for (int i = 0; i < 3; ++i) f.frame({});
  controlRead(f, 0, {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00}, DEVICE_DESCRIPTOR);
  controlNoData(f, 0, {0x00, 0x05, DEVICE_ADDRESS, 0x00, 0x00, 0x00, 0x00, 0x00});
  f.frame({});
  const int a = DEVICE_ADDRESS;
  controlRead(f, a, {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00}, DEVICE_DESCRIPTOR);
  // A full-speed device has no device qualifier: it stalls the request.
  f.frame({setupStage(a, {0x80, 0x06, 0x00, 0x06, 0x00, 0x00, 0x0A, 0x00})});
  f.frame({{linegen::token(PID_IN, a, 0, TURNAROUND), linegen::handshake(PID_STALL, GAP)}});
  controlRead(f, a, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x09, 0x00}, CONFIG_DESCRIPTOR);
  controlRead(f, a, {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x22, 0x00}, CONFIG_DESCRIPTOR);
  controlRead(f, a, {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0xFF, 0x00}, {0x04, 0x03, 0x09, 0x04});
  controlRead(f, a, {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xFF, 0x00}, stringDescriptor("Sim Mouse"));
  controlRead(f, a, {0x80, 0x06, 0x01, 0x03, 0x09, 0x04, 0xFF, 0x00}, stringDescriptor("Quellix"));
  controlNoData(f, a, {0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
  // Interrupt IN polling every frame: mostly NAK, a report every eighth poll.
  int toggle = PID_DATA0;
  unsigned report = 0;
  while (f.bytes() < TARGET_BYTES && f.frames() < MAX_FRAMES) {
    if (f.frames() % 8 == 0) {
      ++report;
      const std::vector<uint8_t> r{static_cast<uint8_t>(report & 1), static_cast<uint8_t>(report * 3),
                                   static_cast<uint8_t>(0x100 - report), 0x00};
      f.frame({inData(a, 1, toggle, r)});
      toggle = toggle == PID_DATA0 ? PID_DATA1 : PID_DATA0;
    } else {
      f.frame({inNak(a, 1)});
    }
  }
  return f.finish();
}

}  // namespace

const std::vector<uint8_t>& scenarioBytes() {
  static const std::vector<uint8_t> bytes = build();
  return bytes;
}

}  // namespace kelvosim
