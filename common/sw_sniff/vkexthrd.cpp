#include "vkexthrd.h"

#include <new>
#include <stdexcept>
#include <system_error>

#include "vkdataio.h"

namespace {

// Swapped out so that the memory is given back, not only the sizes reset.
void emptyAll(TrowVec& events, TrowVec& roots, TlinVec& rows) {
  TrowVec().swap(events);
  TrowVec().swap(roots);
  TlinVec().swap(rows);
}

}  // namespace

bool TexThread::startDecode(std::vector<uint8_t>* raw) {
  std::lock_guard<std::mutex> decodeGuard(FdecodeLock);
  Fraw = raw;
  {
    // Readers see no rows while the decode runs, and the old ones are freed now.
    std::lock_guard<std::mutex> guard(FresultLock);
    emptyAll(*FeventVec, *FtreeRootVec, *FlinearRowVec);
  }
  FdecodedCount.store(0, std::memory_order_release);
  Fdone.store(false, std::memory_order_release);
  try {
    auto events = std::make_shared<TrowVec>();
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    Fthread = new std::thread(&TexThread::threadFn, this, events, roots, rows);
    Fthread->join();
    delete Fthread;
    Fthread = nullptr;
    std::lock_guard<std::mutex> guard(FresultLock);
    FeventVec->swap(*events);
    FtreeRootVec->swap(*roots);
    FlinearRowVec->swap(*rows);
  } catch (const std::system_error&) {
    Fthread = nullptr;  // no thread to be had: nothing decoded, done stays false
  } catch (const std::bad_alloc&) {
    Fthread = nullptr;
  }
  return Fdone.load(std::memory_order_acquire);
}

void TexThread::threadFn(TrowVecPtr events, TrowVecPtr roots, TlinVecPtr rows) {
  try {
    TdataIO io;
    if (Fraw) {
      io.rawDataToEventVec(*Fraw, events, [this](uint64_t n) { setDecoded(n); });
      io.eventVecToTreeRootVec(events, roots);
      io.treeRootVecToLinVec(roots, rows);
    }
  } catch (const std::bad_alloc&) {
    emptyAll(*events, *roots, *rows);  // out of memory: empty results rather than half-filled ones
  } catch (const std::length_error&) {
    emptyAll(*events, *roots, *rows);
  }
  Fdone.store(true, std::memory_order_seq_cst);
}

size_t TexThread::linearRowCount() const {
  std::lock_guard<std::mutex> guard(FresultLock);
  return FlinearRowVec->size();
}

bool TexThread::withLinearRow(size_t index, const std::function<void(const TrowPtr&)>& use) const {
  std::lock_guard<std::mutex> guard(FresultLock);
  if (index >= FlinearRowVec->size()) return false;
  use((*FlinearRowVec)[index].row);
  return true;
}

uint64_t TexThread::sampleFileRead(std::string& path) {
  std::lock_guard<std::mutex> decodeGuard(FdecodeLock);
  try {
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO io;
    io.loadLinearFile(path, roots, rows);
    if (rows->empty()) return 0;
    std::lock_guard<std::mutex> guard(FresultLock);
    FlinearRowVec.swap(rows);
    FtreeRootVec.swap(roots);
    return FlinearRowVec->size();
  } catch (const std::bad_alloc&) {
    return 0;  // the rows held before stay in place
  }
}
