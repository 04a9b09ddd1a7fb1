#pragma once

#include <cstdint>

namespace quorvel {

// The memory of a CharBuffer: a reference-counted heap block that keeps its contents when it
// grows. Destroying it frees the memory.
class CharBufferBlock {
 public:
  CharBufferBlock() = default;
  CharBufferBlock(const CharBufferBlock&) = delete;
  CharBufferBlock& operator=(const CharBufferBlock&) = delete;
  virtual ~CharBufferBlock();

  // The size a block asked for n bytes grows to: at least 16, powers of two up to 4096,
  // a power of two plus 3072 from there, whole multiples of 256 KiB above 256 KiB.
  static uint32_t GrowthSize(uint32_t n);
  // Makes room for capacity bytes, keeping the current ones; false, with the block unchanged,
  // when the memory cannot be had.
  bool Grow(uint32_t capacity);

  volatile long refCount = 1;
  uint8_t* data = nullptr;
  uint32_t capacity = 0;
};

// A scratch byte buffer for system calls that write into caller memory. Sizes are in bytes;
// wide text needs twice its character count.
class CharBuffer {
 public:
  enum Flags : uint32_t {
    // Grow the block by CharBufferBlock::GrowthSize rather than to exactly the size asked for.
    GrowByPolicy = 1,
    // Set the size even when it is smaller than the current one (the block keeps its memory).
    SetSizeExactly = 2,
  };

  CharBuffer() = default;
  CharBuffer(const CharBuffer&) = delete;
  CharBuffer& operator=(const CharBuffer&) = delete;
  ~CharBuffer() { Reset(); }

  // The first byte of the memory, or null before the first Resize that needed memory.
  void* Data() const { return block_ != nullptr ? block_->data : nullptr; }
  uint32_t Size() const { return size_; }
  // Bytes allocated; 0 without a block.
  uint32_t Capacity() const { return block_ != nullptr ? block_->capacity : 0; }
  // Makes at least n bytes usable, keeping the contents. Without SetSizeExactly the size
  // never shrinks. False when memory cannot be had; size and contents are then unchanged.
  bool Resize(uint32_t n, uint32_t flags);
  // Gives the memory back; the buffer is empty afterwards.
  void Reset();

 private:
  uint32_t size_ = 0;
  CharBufferBlock* block_ = nullptr;
};

}  // namespace quorvel
