#include "foundation/library_options.h"

#include <float.h>

#include <cmath>
#include <thread>

#include "support/float_trap.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::DivideByZero;
using test::DivideByZeroLong;
using test::DivideByZeroObserver;

constexpr unsigned kZeroDivide = 0x8;  // the same bit in the mask and in the status word

// Floating-point state is per thread: each case runs on a fresh one.
template <typename Body>
void OnFreshThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST(FloatingPointTrapsTest, UnmaskedDivisionByZeroTrapsOnThatThreadOnlyUntilMaskedAgain) {
  const unsigned mainWord = _control87(0, 0);
  unsigned before = 0, after = 0, restored = 0;
  int trapsEnabled = -1, trapsDisabled = -1;
  double enabled = 0, disabled = 0;
  OnFreshThread([&] {
    DivideByZeroObserver observer(GetCurrentThreadId());
    before = _control87(0, 0);
    SetFloatingPointTraps(true, kZeroDivide);
    after = _control87(0, 0);
    SetFloatingPointTraps(false, kZeroDivide);
    restored = _control87(0, 0);
    disabled = DivideByZero();
    trapsDisabled = observer.Count();
    SetFloatingPointTraps(true, kZeroDivide);
    enabled = DivideByZero();
    trapsEnabled = observer.Count();
  });
  EXPECT_NE(before & kZeroDivide, 0u);
  EXPECT_EQ(after, before & ~kZeroDivide) << "only the division-by-zero mask changes";
  EXPECT_EQ(trapsEnabled, 1);
  EXPECT_TRUE(std::isinf(enabled));
  EXPECT_EQ(restored, before);
  EXPECT_EQ(trapsDisabled, 0);
  EXPECT_TRUE(std::isinf(disabled));
  EXPECT_EQ(_control87(0, 0), mainWord);
}

TEST(FloatingPointTrapsTest, FlagsPendingFromBeforeAreClearedAndDoNotTrap) {
  unsigned pendingBefore = 0;
  unsigned pendingAfter = ~0u;
  int trapsFromPending = -1;
  int trapsFromNewDivision = -1;
  OnFreshThread([&] {
    DivideByZeroObserver observer(GetCurrentThreadId());
    DivideByZero();
    DivideByZeroLong();
    pendingBefore = _statusfp();
    SetFloatingPointTraps(true, kZeroDivide);
    pendingAfter = _statusfp();
    // Harmless arithmetic in both units; a flag left pending would trap here.
    volatile long double x = 2.0L;
    volatile double y = 3.0;
    x = x * 2.0L;
    y = y * 2.0;
    trapsFromPending = observer.Count();
    DivideByZero();
    trapsFromNewDivision = observer.Count();
  });
  EXPECT_NE(pendingBefore & kZeroDivide, 0u);
  EXPECT_EQ(pendingAfter & kZeroDivide, 0u);
  EXPECT_EQ(trapsFromPending, 0);
  EXPECT_EQ(trapsFromNewDivision, 1);
}

}  // namespace
}  // namespace quorvel
