#include "foundation/library_options.h"

#include <float.h>

#include <cmath>
#include <thread>

#include "support/float_trap.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::DivideByZero;

constexpr unsigned kZeroDivide = 0x8;  // the same bit in the mask and in the status word

// Floating-point state is per thread, so the case runs on a fresh one; the main thread's control
// word must not change.
TEST(FloatingPointTrapsTest, OnlyNewDivisionsByZeroTrapOnThatThreadUntilMaskedAgain) {
  const unsigned mainWord = _control87(0, 0);
  unsigned before = 0, after = 0, restored = 0, pendingBefore = 0, pendingAfter = ~0u;
  int trapsFromPending = -1, trapsWhileMasked = -1, trapsFromNewDivision = -1;
  double masked = 0, trapped = 0;
  std::thread([&] {
    test::DivideByZeroObserver observer(GetCurrentThreadId());
    DivideByZero();
    test::DivideByZeroLong();
    pendingBefore = _statusfp();
    before = _control87(0, 0);
    SetFloatingPointTraps(true, kZeroDivide);
    after = _control87(0, 0);
    pendingAfter = _statusfp();
    // Harmless arithmetic in both units; a flag left pending would trap here.
    volatile long double x = 2.0L;
    volatile double y = 3.0;
    x = x * 2.0L;
    y = y * 2.0;
    trapsFromPending = observer.Count();
    SetFloatingPointTraps(false, kZeroDivide);
    restored = _control87(0, 0);
    masked = DivideByZero();
    trapsWhileMasked = observer.Count();
    SetFloatingPointTraps(true, kZeroDivide);
    trapped = DivideByZero();
    trapsFromNewDivision = observer.Count();
  }).join();
  EXPECT_NE(pendingBefore & kZeroDivide, 0u);
  EXPECT_EQ(pendingAfter & kZeroDivide, 0u);
  EXPECT_NE(before & kZeroDivide, 0u);
  EXPECT_EQ(after, before & ~kZeroDivide) << "only the division-by-zero mask changes";
  EXPECT_EQ(trapsFromPending, 0);
  EXPECT_EQ(restored, before);
  EXPECT_EQ(trapsWhileMasked, 0);
  EXPECT_TRUE(std::isinf(masked));
  EXPECT_EQ(trapsFromNewDivision, 1);
  EXPECT_TRUE(std::isinf(trapped));
  EXPECT_EQ(_control87(0, 0), mainWord);
}

}  // namespace
}  // namespace quorvel
