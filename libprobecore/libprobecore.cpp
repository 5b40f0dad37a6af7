// The flat C interface of libprobecore: a handle ties one capture thread and
// one decode-thread object together. Nothing thrown crosses this boundary:
// each function answers as for an out-of-range call when it cannot answer,
// and so does every function given a null handle.
#include "libprobecore.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
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
  // Serialises the callers that touch the raw buffer (setNeeded, startDecode)
  // and the run request, so no capture can start under a running decode.
  std::mutex rawLock;
};

const char VER[] = "libprobecore DLL/SO," __DATE__ "," __TIME__ "\0";
constexpr uint32_t VERLEN = 42;
static_assert(sizeof(VER) == VERLEN, "version text is 40 characters and two NULs");

// One per thread: an X result stays valid until the next X call on the same thread.
thread_local std::string localStringBuffer;

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

// Runs use on the display row at index while no decode or load can change the
// rows; false when out of range, the row is empty or the handle is null.
bool withRow(void* h, uint32_t index, const std::function<void(const TrowPtr&)>& use) {
  bool had = false;
  if (h != nullptr)
    P(h)->ex.withLinearRow(index, [&](const TrowPtr& row) {
      if (!row) return;
      had = true;
      use(row);
    });
  return had;
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
  if (h == nullptr) return;
  try {
    P(h)->lo.setConnect(connect != 0);
  } catch (...) {
  }
}

void setRun(void* h, int flag) {
  if (h == nullptr) return;
  try {
    std::lock_guard<std::mutex> guard(P(h)->rawLock);
    P(h)->lo.setRun(flag != 0);
  } catch (...) {
  }
}

void setStop(void* h, int flag) {
  if (h != nullptr) P(h)->lo.setStop(flag != 0);
}
int getRun(void* h) { return h != nullptr && P(h)->lo.getRun() ? 1 : 0; }
int getStop(void* h) { return h != nullptr && P(h)->lo.getStop() ? 1 : 0; }
int getCaptureDone(void* h) { return h != nullptr && P(h)->lo.consumeDone() ? 1 : 0; }
int getHardwareChanged(void* h) { return h != nullptr && P(h)->lo.consumeHardwareChanged() ? 1 : 0; }

void setNeeded(void* h, uint32_t bytes) {
  if (h == nullptr) return;
  try {
    std::lock_guard<std::mutex> guard(P(h)->rawLock);
    // Emptying the buffer under a running capture would pull it from under the thread.
    if (P(h)->lo.isCapturing()) return;
    P(h)->lo.setNeeded(bytes);
  } catch (...) {
  }
}

uint64_t getCaptureCount(void* h) { return h != nullptr ? P(h)->lo.getCaptureCount() : 0; }

void startDecode(void* h) {
  if (h == nullptr) return;
  try {
    std::lock_guard<std::mutex> guard(P(h)->rawLock);
    // The capture thread writes the buffer until it raises done. A refused
    // decode must not pass for a finished one.
    if (P(h)->lo.isCapturing()) {
      P(h)->ex.setDone(false);
      return;
    }
    P(h)->ex.startDecode(P(h)->lo.pRawData());
  } catch (...) {
  }
}

int getDecodeDone(void* h) { return h != nullptr && P(h)->ex.getDone() ? 1 : 0; }
uint64_t getDecodedCount(void* h) { return h != nullptr ? P(h)->ex.getDecodedCount() : 0; }
// No handle, no board: a null handle is never reported ready.
int getHardwareStatus(void* h) { return h != nullptr ? P(h)->lo.getHardwareStatus() : HW_NOT_FOUND; }

uint32_t getSerial(void* h, char* buf, uint32_t size) {
  try {
    if (h != nullptr) return plainCopy(P(h)->lo.getSerial(), buf, size);
  } catch (...) {
  }
  if (buf != nullptr && size >= 1) buf[0] = '\0';
  return 0;
}

const char* getSerialX(void* h) {
  try {
    if (h != nullptr) return xResult(P(h)->lo.getSerial());
  } catch (...) {
  }
  return nullptr;
}

uint32_t getPacketDataRowCount(void* h) { return h != nullptr ? static_cast<uint32_t>(P(h)->ex.linearRowCount()) : 0; }

uint32_t getPacketDataRow(void* h, uint32_t index, char* buf, uint32_t size) {
  try {
    std::string text;
    if (withRow(h, index, [&](const TrowPtr& row) { text = rowutils::toString(row); }))
      return plainCopy(text, buf, size);
  } catch (...) {
  }
  if (buf != nullptr && size >= 1) buf[0] = '\0';
  return 0;
}

const char* getPacketDataRowX(void* h, uint32_t index) {
  try {
    std::string text;
    if (withRow(h, index, [&](const TrowPtr& row) { text = rowutils::toString(row); })) return xResult(std::move(text));
  } catch (...) {
  }
  return nullptr;
}

const char* getBoxStrX(void* h, uint32_t index) {
  try {
    std::string text;
    // Under the row lock: a transfer's box string settles its data stage in the row.
    if (withRow(h, index, [&](const TrowPtr& row) { text = Tboxes().getBoxesString(row); }))
      return xResult(std::move(text));
  } catch (...) {
  }
  return nullptr;
}

const void* linix2rowptr(void* h, uint32_t index) {
  try {
    const void* p = nullptr;
    withRow(h, index, [&](const TrowPtr& row) { p = row.get(); });
    return p;
  } catch (...) {
    return nullptr;
  }
}

uint32_t sampleFileRead(void* h, const char* path) {
  if (h == nullptr || path == nullptr) return 0;
  try {
    std::string p(path);
    return static_cast<uint32_t>(P(h)->ex.sampleFileRead(p));
  } catch (...) {
    return 0;
  }
}

void* loh(void* h) { return h != nullptr ? &P(h)->lo : nullptr; }
void* exh(void* h) { return h != nullptr ? &P(h)->ex : nullptr; }

}  // extern "C"
