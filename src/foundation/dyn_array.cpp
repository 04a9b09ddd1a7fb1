#include "foundation/dyn_array.h"

namespace quorvel {

uint32_t GrowCapacity(uint32_t n) {
  if (n < 5) {
    return 4;
  }
  if (n <= 16384) {
    uint32_t capacity = 8;
    while (capacity < n) {
      capacity <<= 1;
    }
    return capacity;
  }
  constexpr uint64_t kStep = 16384;
  const uint64_t rounded = (n + kStep - 1) / kStep * kStep;
  // Past the last representable multiple the request cannot be met anyway; Reserve refuses it.
  return rounded > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rounded);
}

}  // namespace quorvel
