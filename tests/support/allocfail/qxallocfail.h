// Allocation failure on demand. Linking this library replaces the global
// operator new of the test binary, so link it only where a test needs it.
// ThreadSanitizer owns operator new: there the hook is absent.
#pragma once

#include <climits>
#include <cstddef>
#include <thread>

namespace qxalloc {

// False where the hook is absent; tests that need it skip then.
bool hooked();
// Counts the allocations made from now on by every thread but spared; those
// after the first budget throw std::bad_alloc, failures of them, and later
// ones succeed again (as memory freed after a failure can be reused). A size
// other than 0 counts only the allocations of exactly that many bytes.
void arm(long budget, long failures = LONG_MAX, std::thread::id spared = std::thread::id(), size_t size = 0);
void disarm();
// Allocations counted since the last arm().
long seen();

}  // namespace qxalloc
