#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "foundation/heap.h"

namespace quorvel {

// The wanted size rounded to the array capacity rule: 4 below 5, the next power of two up to
// 16384, whole multiples of 16384 above.
uint32_t GrowCapacity(uint32_t n);

// A growable array of plain elements, copied byte for byte. The top bit of the capacity word
// says whether the array owns its storage: an array can also work in storage that it does not
// own, which it then never frees. Growth failures are reported, never thrown.
template <typename T>
class DynArray {
  static_assert(std::is_trivially_copyable<T>::value, "elements are copied as bytes");

 public:
  static constexpr uint32_t kOwnsItems = 0x80000000u;
  static constexpr uint32_t kCapacityMask = 0x7FFFFFFFu;

  DynArray() = default;
  // Works in capacity elements at storage, of which the first count are in use. The storage
  // stays the caller's: growing moves the elements to storage of the array's own.
  DynArray(T* storage, uint32_t capacity, uint32_t count)
      : items_(storage), capacity_(capacity & kCapacityMask), count_(count) {}
  DynArray(const DynArray&) = delete;
  DynArray& operator=(const DynArray&) = delete;
  ~DynArray() {
    if (OwnsItems()) {
      FreeBytes(items_);
    }
  }

  T* Items() const { return items_; }
  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_ & kCapacityMask; }
  bool OwnsItems() const { return (capacity_ & kOwnsItems) != 0; }
  T& operator[](uint32_t index) { return items_[index]; }
  const T& operator[](uint32_t index) const { return items_[index]; }

  // Makes room for k elements. False when k is below the count or the storage cannot be had;
  // the array is then unchanged.
  bool Reserve(uint32_t k) {
    if (k < count_) {
      return false;
    }
    if (k <= Capacity()) {
      return true;
    }
    const uint64_t bytes = static_cast<uint64_t>(k) * sizeof(T);
    if (k > kCapacityMask || bytes > 0xFFFFFFFFu) {
      return false;
    }
    T* grown = static_cast<T*>(AllocateBytes(static_cast<size_t>(bytes)));
    if (grown == nullptr) {
      return false;
    }
    if (count_ != 0) {
      std::memcpy(static_cast<void*>(grown), items_, static_cast<size_t>(count_) * sizeof(T));
    }
    if (OwnsItems()) {
      FreeBytes(items_);
    }
    items_ = grown;
    capacity_ = k | kOwnsItems;
    return true;
  }

  // Adds value at the end, growing by GrowCapacity. False when the array cannot grow; the
  // value is then not stored.
  bool Append(const T& value) {
    if (count_ >= Capacity() && !Reserve(GrowCapacity(Capacity() + 1))) {
      return false;
    }
    items_[count_++] = value;
    return true;
  }

  // Removes the first element equal to value by moving the last element into its slot, so the
  // order is not kept. False when the value is absent.
  bool Remove(const T& value) {
    for (uint32_t i = 0; i < count_; ++i) {
      if (items_[i] == value) {
        --count_;
        items_[i] = items_[count_];
        std::memset(static_cast<void*>(&items_[count_]), 0, sizeof(T));
        return true;
      }
    }
    return false;
  }

  // Empties the array: owned storage is freed; storage that is not owned stays, zeroed over
  // its whole capacity.
  void Clear() {
    count_ = 0;
    if (OwnsItems()) {
      FreeBytes(items_);
      items_ = nullptr;
      capacity_ = 0;
    } else if (items_ != nullptr) {
      std::memset(static_cast<void*>(items_), 0, static_cast<size_t>(Capacity()) * sizeof(T));
    }
  }

 private:
  T* items_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
};

}  // namespace quorvel
