// The flat C interface of libprobecore: a handle ties one capture thread and
// one decode-thread object together. Nothing thrown crosses this boundary:
// each function answers as for an out-of-range call when it cannot answer.
#include "libprobecore.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "vkboxes.h"
#include "vkexthrd.h"
#include "vklothrd.h"
#include "vkrowutils.h"

namespace {

struct Tptrs {
  TloThread lo;
  TexThread ex;
};

const char VER[] = "libprobecore DLL/SO," __DATE__ "," __TIME__ "\0";
constexpr uint32_t VERLEN = 42;
static_assert(sizeof(VER) == VERLEN, "version text is 40 characters and two NULs");

std::string localStringBuffer;

Tptrs* P(void* h) { return static_cast<Tptrs*>(h); }

uint32_t plainCopy(const std::string& text, char* buf, uint32_t size) {
  const uint64_t len = text.size() + 1;
  if (buf != nullptr && size >= len) std::memcpy(buf, text.c_str(), len);
  return static_cast<uint32_t>(len);
}

const char* xResult(std::string text) {
  localStringBuffer = std::move(text);
  return localStringBuffer.c_str();
}

// The display row at index, or null when out of range; keeps the list alive.
TrowPtr rowAt(void* h, uint32_t index) {
  TlinVecPtr rows = P(h)->ex.pLinearRowVec();
  if (!rows || index >= rows->size()) return nullptr;
  return (*rows)[index].row;
}

}  // namespace

extern "C" {

void* sniffInit(void) {
  try {
    Tptrs* p = new Tptrs();
    // Time for the capture thread's first pass: open and initialise the board.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return p;
  } catch (...) {
    return nullptr;
  }
}

void sniffEnd(void* h) {
  if (h == nullptr) return;
  try {
    delete P(h);
  } catch (...) {
  }
}

uint32_t version(char* buf, uint32_t size) {
  if (buf != nullptr && size > VERLEN - 1) std::memcpy(buf, VER, VERLEN);
  return VERLEN;
}

const char* versionX(void) { return VER; }

void setConnect(void* h, int connect) {
  try {
    P(h)->lo.setConnect(connect != 0);
  } catch (...) {
  }
}

void setRun(void* h, int flag) { P(h)->lo.setRun(flag != 0); }
void setStop(void* h, int flag) { P(h)->lo.setStop(flag != 0); }
int getRun(void* h) { return P(h)->lo.getRun() ? 1 : 0; }
int getStop(void* h) { return P(h)->lo.getStop() ? 1 : 0; }
int getCaptureDone(void* h) { return P(h)->lo.consumeDone() ? 1 : 0; }
int getHardwareChanged(void* h) { return P(h)->lo.consumeHardwareChanged() ? 1 : 0; }

void setNeeded(void* h, uint32_t bytes) {
  // Emptying the buffer under a running capture would pull it from under the thread.
  if (P(h)->lo.isCapturing()) return;
  P(h)->lo.setNeeded(bytes);
}

uint64_t getCaptureCount(void* h) { return P(h)->lo.getCaptureCount(); }

void startDecode(void* h) {
  try {
    // The capture thread writes the buffer until it raises done.
    if (P(h)->lo.isCapturing()) return;
    P(h)->ex.startDecode(P(h)->lo.pRawData());
  } catch (...) {
  }
}

int getDecodeDone(void* h) { return P(h)->ex.getDone() ? 1 : 0; }
uint64_t getDecodedCount(void* h) { return P(h)->ex.getDecodedCount(); }
int getHardwareStatus(void* h) { return P(h)->lo.getHardwareStatus(); }

uint32_t getSerial(void* h, char* buf, uint32_t size) {
  try {
    return plainCopy(P(h)->lo.getSerial(), buf, size);
  } catch (...) {
    return 0;
  }
}

const char* getSerialX(void* h) {
  try {
    return xResult(P(h)->lo.getSerial());
  } catch (...) {
    return nullptr;
  }
}

uint32_t getPacketDataRowCount(void* h) {
  TlinVecPtr rows = P(h)->ex.pLinearRowVec();
  return rows ? static_cast<uint32_t>(rows->size()) : 0;
}

uint32_t getPacketDataRow(void* h, uint32_t index, char* buf, uint32_t size) {
  try {
    TrowPtr row = rowAt(h, index);
    if (row) return plainCopy(rowutils::toString(row), buf, size);
  } catch (...) {
  }
  if (buf != nullptr && size >= 1) buf[0] = '\0';
  return 0;
}

const char* getPacketDataRowX(void* h, uint32_t index) {
  try {
    TrowPtr row = rowAt(h, index);
    if (row) return xResult(rowutils::toString(row));
  } catch (...) {
  }
  return nullptr;
}

const char* getBoxStrX(void* h, uint32_t index) {
  try {
    TrowPtr row = rowAt(h, index);
    if (row) {
      Tboxes boxes;
      return xResult(boxes.getBoxesString(row));
    }
  } catch (...) {
  }
  return nullptr;
}

const void* linix2rowptr(void* h, uint32_t index) {
  try {
    TrowPtr row = rowAt(h, index);
    return row.get();
  } catch (...) {
    return nullptr;
  }
}

uint32_t sampleFileRead(void* h, const char* path) {
  if (path == nullptr) return 0;
  try {
    std::string p(path);
    return static_cast<uint32_t>(P(h)->ex.sampleFileRead(p));
  } catch (...) {
    return 0;
  }
}

void* loh(void* h) { return &P(h)->lo; }
void* exh(void* h) { return &P(h)->ex; }

}  // extern "C"
