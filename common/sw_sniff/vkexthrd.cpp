#include "vkexthrd.h"

#include <new>
#include <stdexcept>
#include <system_error>

#include "vkdataio.h"

bool TexThread::startDecode(std::vector<uint8_t>* raw) {
  Fraw = raw;
  clearResults();
  FdecodedCount.store(0, std::memory_order_release);
  Fdone.store(false, std::memory_order_release);
  try {
    Fthread = new std::thread(&TexThread::threadFn, this);
  } catch (const std::system_error&) {
    Fthread = nullptr;  // no thread to be had: nothing decoded, done stays false
  } catch (const std::bad_alloc&) {
    Fthread = nullptr;
  }
  if (Fthread) {
    Fthread->join();
    delete Fthread;
    Fthread = nullptr;
  }
  return Fdone.load(std::memory_order_acquire);
}

void TexThread::threadFn() {
  try {
    TdataIO io;
    if (Fraw) {
      io.rawDataToEventVec(*Fraw, FeventVec, [this](uint64_t n) { setDecoded(n); });
      io.eventVecToTreeRootVec(FeventVec, FtreeRootVec);
      io.treeRootVecToLinVec(FtreeRootVec, FlinearRowVec);
    }
  } catch (const std::bad_alloc&) {
    clearResults();  // out of memory: empty results rather than half-filled ones
  } catch (const std::length_error&) {
    clearResults();
  }
  Fdone.store(true, std::memory_order_seq_cst);
}

void TexThread::clearResults() {
  // Swapped out so that the memory is given back, not only the sizes reset.
  TrowVec().swap(*FeventVec);
  TrowVec().swap(*FtreeRootVec);
  TlinVec().swap(*FlinearRowVec);
}

uint64_t TexThread::sampleFileRead(std::string& path) {
  try {
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO io;
    io.loadLinearFile(path, roots, rows);
    if (rows->empty()) return 0;
    FlinearRowVec.swap(rows);
    FtreeRootVec.swap(roots);
    return FlinearRowVec->size();
  } catch (const std::bad_alloc&) {
    return 0;  // the rows held before stay in place
  }
}
