#include "foundation/semaphore.h"

namespace quorvel {

Semaphore::Semaphore(int32_t initialCount, int32_t maximumCount)
    : handle_(CreateSemaphoreA(nullptr, initialCount, maximumCount, nullptr)) {}

}  // namespace quorvel
