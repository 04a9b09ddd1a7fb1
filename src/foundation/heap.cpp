#include "foundation/heap.h"

#include <atomic>
#include <cstdlib>

namespace quorvel {
namespace {

// Allocations still allowed to succeed, per use; negative while no failure is requested.
std::atomic<int64_t> g_allowedAllocations{-1};
std::atomic<int64_t> g_allowedContainerAllocations{-1};

std::atomic<int64_t>& AllowedAllocations(HeapUse use) {
  return use == HeapUse::kContainers ? g_allowedContainerAllocations : g_allowedAllocations;
}

// Takes one allocation from allowed; false when a requested failure refuses it.
bool AllocationAllowed(std::atomic<int64_t>& allowed) {
  int64_t left = allowed.load();
  while (left >= 0) {
    if (left == 0) {
      return false;
    }
    if (allowed.compare_exchange_weak(left, left - 1)) {
      break;
    }
  }
  return true;
}

}  // namespace

void* AllocateBytes(size_t bytes) {
  if (!AllocationAllowed(g_allowedAllocations)) {
    return nullptr;
  }
  // malloc(0) may return null; a zero-byte request is a valid, empty block.
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void FreeBytes(void* block) { std::free(block); }

void* AllocateContainerBytes(size_t bytes) {
  void* block = AllocationAllowed(g_allowedContainerAllocations)
                    ? std::malloc(bytes == 0 ? 1 : bytes)
                    : nullptr;
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

AllocationFailureAfter::AllocationFailureAfter(uint32_t successes, HeapUse use) : use_(use) {
  AllowedAllocations(use_).store(successes);
}

AllocationFailureAfter::~AllocationFailureAfter() { AllowedAllocations(use_).store(-1); }

}  // namespace quorvel
