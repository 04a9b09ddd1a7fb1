#include "foundation/char_buffer.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "foundation/heap.h"

namespace quorvel {

CharBufferBlock::~CharBufferBlock() { FreeBytes(data); }

uint32_t CharBufferBlock::GrowthSize(uint32_t n) {
  constexpr uint64_t kLargeStep = 0x40000;
  if (n > kLargeStep) {
    const uint64_t rounded = (n + kLargeStep - 1) / kLargeStep * kLargeStep;
    // Near 4 GiB the rounding cannot be represented: ask for exactly n.
    return rounded > 0xFFFFFFFFu ? n : static_cast<uint32_t>(rounded);
  }
  if (n < 16) {
    return 16;
  }
  uint32_t p = 1;
  while (p <= n / 2) {
    p <<= 1;
  }
  if (p <= 6144) {
    return p >= n ? p : 2 * p;
  }
  return p + 3072 >= n ? p + 3072 : 2 * p + 3072;
}

bool CharBufferBlock::Grow(uint32_t wanted) {
  if (capacity >= wanted) {
    return true;
  }
  auto* grown = static_cast<uint8_t*>(AllocateBytes(wanted));
  if (grown == nullptr) {
    return false;
  }
  if (capacity != 0) {
    std::memcpy(grown, data, capacity);
  }
  FreeBytes(data);
  data = grown;
  capacity = wanted;
  return true;
}

bool CharBuffer::Resize(uint32_t n, uint32_t flags) {
  if (size_ < n) {
    if (block_ == nullptr) {
      block_ = new (std::nothrow) CharBufferBlock();
      if (block_ == nullptr) {
        return false;
      }
    }
    const bool byPolicy = (flags & GrowByPolicy) != 0 && block_->capacity < n;
    if (!block_->Grow(byPolicy ? CharBufferBlock::GrowthSize(n) : n)) {
      return false;
    }
    size_ = n;
  }
  if ((flags & SetSizeExactly) != 0) {
    size_ = n;
  }
  return true;
}

void CharBuffer::Reset() {
  if (block_ != nullptr && InterlockedDecrement(&block_->refCount) == 0) {
    delete block_;
  }
  block_ = nullptr;
  size_ = 0;
}

}  // namespace quorvel
