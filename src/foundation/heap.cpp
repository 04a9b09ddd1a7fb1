#include "foundation/heap.h"

#include <atomic>
#include <cstdlib>

namespace quorvel {
namespace {

// Allocations still allowed to succeed; negative while no failure is requested.
std::atomic<int64_t> g_allowedAllocations{-1};

}  // namespace

void* AllocateBytes(size_t bytes) {
  int64_t allowed = g_allowedAllocations.load();
  while (allowed >= 0) {
    if (allowed == 0) {
      return nullptr;
    }
    if (g_allowedAllocations.compare_exchange_weak(allowed, allowed - 1)) {
      break;
    }
  }
  // malloc(0) may return null; a zero-byte request is a valid, empty block.
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void FreeBytes(void* block) {
  std::free(block);
}

AllocationFailureAfter::AllocationFailureAfter(uint32_t successes) {
  g_allowedAllocations.store(successes);
}

AllocationFailureAfter::~AllocationFailureAfter() {
  g_allowedAllocations.store(-1);
}

}  // namespace quorvel
