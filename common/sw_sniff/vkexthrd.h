// Decode-thread object: takes a raw capture buffer (or a sample-data file) and
// holds the resulting packet rows, tree roots and display rows; the decode runs
// on a thread of its own with an atomic progress count and done flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vkrows.h"

class TexThread {
 public:
  TexThread()
      : FeventVec(std::make_shared<TrowVec>()),
        FtreeRootVec(std::make_shared<TrowVec>()),
        FlinearRowVec(std::make_shared<TlinVec>()) {}
  ~TexThread() = default;
  TexThread(const TexThread&) = delete;
  TexThread& operator=(const TexThread&) = delete;

  // Decodes raw into the three vectors; blocks until done. raw must not
  // change during the call. Decodes and loads on one object run one at a time.
  bool startDecode(std::vector<uint8_t>* raw);
  // Display rows loaded, or 0 (and the vectors unchanged) when none.
  uint64_t sampleFileRead(std::string& path);

  // A decode empties and refills these vectors in place; a load puts new ones
  // in place. Read through a handle only on the thread that decodes; other
  // threads read the rows through linearRowCount() and withLinearRow().
  TrowVecPtr pEventVec() const {
    std::lock_guard<std::mutex> guard(FresultLock);
    return FeventVec;
  }
  TrowVecPtr pTreeRootVec() const {
    std::lock_guard<std::mutex> guard(FresultLock);
    return FtreeRootVec;
  }
  TlinVecPtr pLinearRowVec() const {
    std::lock_guard<std::mutex> guard(FresultLock);
    return FlinearRowVec;
  }
  size_t linearRowCount() const;
  // Calls use with display row index while no decode or load can change the
  // rows (nor another reader work on them); false when index is out of range.
  bool withLinearRow(size_t index, const std::function<void(const TrowPtr&)>& use) const;

  bool getDone() const { return Fdone.load(std::memory_order_acquire); }
  uint64_t getDecodedCount() const { return FdecodedCount.load(std::memory_order_acquire); }
  void setDecoded(uint64_t n) { FdecodedCount.store(n, std::memory_order_release); }
  void setDone(bool done) { Fdone.store(done, std::memory_order_release); }

 private:
  void threadFn(TrowVecPtr events, TrowVecPtr roots, TlinVecPtr rows);

  // The decode fills vectors of its own, moved in under FresultLock at the end.
  mutable std::mutex FresultLock;
  std::mutex FdecodeLock;
  TrowVecPtr FeventVec;
  TrowVecPtr FtreeRootVec;
  TlinVecPtr FlinearRowVec;
  std::vector<uint8_t>* Fraw = nullptr;
  std::atomic<uint64_t> FdecodedCount{0};
  std::atomic<bool> Fdone{false};
  std::thread* Fthread = nullptr;
};
