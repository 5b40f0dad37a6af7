#include "qxallocfail.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QX_NO_NEW_HOOK 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QX_NO_NEW_HOOK 1
#endif

namespace {
std::atomic<bool> gArmed{false};
std::atomic<long> gBudget{0};
std::atomic<long> gFailures{0};
std::atomic<long> gSeen{0};
std::atomic<size_t> gSize{0};
std::thread::id gSpared;  // written only while disarmed
}  // namespace

namespace qxalloc {

#ifdef QX_NO_NEW_HOOK
bool hooked() { return false; }
#else
bool hooked() { return true; }
#endif

void arm(long budget, long failures, std::thread::id spared, size_t size) {
  gArmed = false;
  gSpared = spared;
  gSize = size;
  gSeen = 0;
  gBudget = budget;
  gFailures = failures;
  gArmed = true;
}

void disarm() { gArmed = false; }

long seen() { return gSeen.load(); }

}  // namespace qxalloc

#ifndef QX_NO_NEW_HOOK
void* operator new(size_t n) {
  const size_t only = gSize.load(std::memory_order_relaxed);
  if (gArmed.load(std::memory_order_relaxed) && (only == 0 || n == only) && std::this_thread::get_id() != gSpared) {
    gSeen.fetch_add(1, std::memory_order_relaxed);
    if (gBudget.fetch_sub(1, std::memory_order_relaxed) <= 0 && gFailures.fetch_sub(1, std::memory_order_relaxed) > 0)
      throw std::bad_alloc();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
// Out of line, so the compiler does not pair free() with a new-expression.
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }
#endif
