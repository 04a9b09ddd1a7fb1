#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace quorvel {

// Out of memory, one policy for the whole library:
// - Byte buffers and arrays (CharBuffer, DynArray) take their memory from AllocateBytes and
//   report a refused allocation as false; their callers fail the step with a logged result.
// - SharedString ends the process: its operators cannot report a failure, and a path that had
//   silently lost its text could move or delete the wrong file.
// - Standard containers throw std::bad_alloc. Nothing inside a run catches it: the run's entry
//   (RunPatch) does, logs it, restarts the launcher once the arguments have named it and ends
//   the run Failed. A journal left unfinished lets the next run put the files back.
// No other exception is thrown by the system; the entry catches any that escapes all the same.

// bytes of uninitialised memory, or null.
void* AllocateBytes(size_t bytes);
// Frees a block of AllocateBytes; null is ignored.
void FreeBytes(void* block);
// bytes of uninitialised memory for a standard container; throws std::bad_alloc when refused.
void* AllocateContainerBytes(size_t bytes);

// Which allocations AllocationFailureAfter refuses.
enum class HeapUse { kBuffers, kContainers };

// Lets tests prove that callers survive a failing heap: while an object lives, the first
// `successes` allocations of use (AllocateBytes, or AllocateContainerBytes) succeed and every
// later one fails.
class AllocationFailureAfter {
 public:
  explicit AllocationFailureAfter(uint32_t successes, HeapUse use = HeapUse::kBuffers);
  AllocationFailureAfter(const AllocationFailureAfter&) = delete;
  AllocationFailureAfter& operator=(const AllocationFailureAfter&) = delete;
  ~AllocationFailureAfter();

 private:
  HeapUse use_;
};

// The allocator of the system's standard containers: their memory goes through
// AllocateContainerBytes, so that a test can make a container fail to grow.
template <typename T>
struct ContainerAllocator {
  using value_type = T;
  ContainerAllocator() = default;
  template <typename U>
  ContainerAllocator(const ContainerAllocator<U>& /*other*/) noexcept {}

  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) {
      throw std::bad_alloc();
    }
    return static_cast<T*>(AllocateContainerBytes(n * sizeof(T)));
  }
  void deallocate(T* block, size_t /*n*/) noexcept { FreeBytes(block); }

  template <typename U>
  bool operator==(const ContainerAllocator<U>& /*other*/) const noexcept {
    return true;
  }
  template <typename U>
  bool operator!=(const ContainerAllocator<U>& /*other*/) const noexcept {
    return false;
  }
};

}  // namespace quorvel
