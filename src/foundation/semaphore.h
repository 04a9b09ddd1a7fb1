#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/scoped_handle.h"

namespace quorvel {

// An unnamed Win32 semaphore, closed with its owner.
class Semaphore {
 public:
  // A null handle when the system cannot create one; nothing is reported.
  Semaphore(int32_t initialCount, int32_t maximumCount);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  HANDLE Handle() const { return handle_.Get(); }

 private:
  ScopedHandle handle_;
};

}  // namespace quorvel
