#include "foundation/worker_thread.h"

#include <float.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <utility>

#include "foundation/scoped_handle.h"
#include "support/float_trap.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A worker whose body runs a given function; OnStop counts its calls and releases a body that
// waits for the stop.
class TestWorker : public WorkerThread {
 public:
  explicit TestWorker(std::function<uint32_t(TestWorker&)> body)
      : WorkerThread(65536),
        body_(std::move(body)),
        stopped_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~TestWorker() override {
    SetStop(true);
    Wait();
  }
  int OnStopCalls() const { return onStopCalls_.load(); }
  void WaitForStop() { WaitForSingleObject(stopped_.Get(), INFINITE); }

 protected:
  uint32_t Run() override { return body_(*this); }
  void OnStop() override {
    ++onStopCalls_;
    SetEvent(stopped_.Get());
  }

 private:
  std::function<uint32_t(TestWorker&)> body_;
  ScopedHandle stopped_;
  std::atomic<int> onStopCalls_{0};
};

DWORD ExitCode(HANDLE thread) {
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  return code;
}

TEST(WorkerThreadTest, SetStopFalseOnlyStoresAndWaitEndsWithTheBodysResultAsExitCode) {
  TestWorker worker([](TestWorker& self) {
    self.WaitForStop();
    return 0xC0FFEEu;
  });
  ASSERT_NE(worker.Handle(), nullptr);
  EXPECT_FALSE(worker.HasStarted());
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.HasStarted());
  worker.SetStop(false);
  EXPECT_FALSE(worker.StopRequested());
  EXPECT_EQ(worker.OnStopCalls(), 0);
  EXPECT_TRUE(worker.IsRunning());

  worker.SetStop(true);
  worker.SetStop(true);
  EXPECT_EQ(worker.OnStopCalls(), 2);
  worker.SetStop(false);
  EXPECT_FALSE(worker.StopRequested());
  EXPECT_EQ(worker.OnStopCalls(), 2);
  ASSERT_TRUE(worker.Wait());
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_EQ(ExitCode(worker.Handle()), 0xC0FFEEu);
}

TEST(WorkerThreadTest, WaitReturnsAtOnceAfterAFailedStart) {
  std::atomic<bool> bodyRan{false};
  TestWorker worker([&](TestWorker&) {
    bodyRan = true;
    return 0u;
  });
  ASSERT_NE(worker.Handle(), nullptr);
  // A second suspension makes the resume leave the thread suspended: the start fails.
  ASSERT_EQ(SuspendThread(worker.Handle()), 1u);
  EXPECT_FALSE(worker.Start());
  EXPECT_FALSE(worker.HasStarted());
  // The thread is still suspended: a Wait that waited for it would never return.
  EXPECT_TRUE(worker.Wait());
  EXPECT_FALSE(bodyRan);
  // Let it finish, so the object outlives its thread.
  ResumeThread(worker.Handle());
  WaitForSingleObject(worker.Handle(), INFINITE);
}

TEST(WorkerThreadTest, TheWorkersThreadTrapsFloatingPointDivisionByZero) {
  std::atomic<int> traps{-1};
  std::atomic<unsigned> controlWord{0};
  double result = 0;
  TestWorker worker([&](TestWorker& self) {
    test::DivideByZeroObserver observer(self.ThreadId());
    controlWord = _control87(0, 0);
    result = test::DivideByZero();
    traps = observer.Count();
    return 0u;
  });
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(worker.Wait());
  EXPECT_EQ(controlWord & _EM_ZERODIVIDE, 0u);
  EXPECT_EQ(traps, 1);
  EXPECT_TRUE(std::isinf(result));
}

}  // namespace
}  // namespace quorvel
