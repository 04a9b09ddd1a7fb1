#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

// The heap behind the system's byte buffers and arrays. An allocation that cannot be satisfied
// returns null; every caller handles that instead of failing later with a crash.

// bytes of uninitialised memory, or null.
void* AllocateBytes(size_t bytes);
// Frees a block of AllocateBytes; null is ignored.
void FreeBytes(void* block);

// Lets tests prove that callers survive a failing heap: while an object lives, the first
// `successes` allocations of AllocateBytes succeed and every later one fails.
class AllocationFailureAfter {
 public:
  explicit AllocationFailureAfter(uint32_t successes);
  AllocationFailureAfter(const AllocationFailureAfter&) = delete;
  AllocationFailureAfter& operator=(const AllocationFailureAfter&) = delete;
  ~AllocationFailureAfter();
};

}  // namespace quorvel
