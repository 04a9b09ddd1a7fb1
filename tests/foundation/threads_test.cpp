// Worker threads and the floating-point traps they run with.
#include <float.h>

#include <atomic>
#include <functional>
#include <thread>

#include "foundation/library_options.h"
#include "foundation/worker_thread.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

// A worker whose body runs a given function; OnStop counts its calls.
struct TestWorker : WorkerThread {
  explicit TestWorker(std::function<uint32_t()> body) : WorkerThread(65536), body(body) {}
  ~TestWorker() override { SetStop(true), Wait(); }
  uint32_t Run() override { return body(); }
  void OnStop() override { ++stops; }
  std::function<uint32_t()> body;
  std::atomic<int> stops{0};
};

TEST(WorkerThreadTest, RunsWithDivisionByZeroTrappedAndEndsWithTheBodysResult) {
  unsigned controlWord = _EM_ZERODIVIDE;
  TestWorker worker([&] {
    controlWord = _control87(0, 0);
    return 0xC0FFEEu;
  });
  EXPECT_FALSE(worker.HasStarted());
  ASSERT_TRUE(worker.Start());
  worker.SetStop(false);  // only stores the flag
  EXPECT_TRUE(worker.HasStarted() && worker.stops == 0 && !worker.StopRequested());
  worker.SetStop(true);
  EXPECT_TRUE(worker.StopRequested() && worker.stops == 1);
  ASSERT_TRUE(worker.Wait());
  DWORD code = 0;
  GetExitCodeThread(worker.Handle(), &code);
  EXPECT_TRUE(code == 0xC0FFEEu && !worker.IsRunning());
  EXPECT_EQ(controlWord & _EM_ZERODIVIDE, 0u);
}

TEST(WorkerThreadTest, WaitReturnsAtOnceAfterAFailedStart) {
  TestWorker worker([] { return 0u; });
  // A second suspension makes the start's resume leave the thread suspended.
  ASSERT_EQ(SuspendThread(worker.Handle()), 1u);
  EXPECT_FALSE(worker.Start() || worker.HasStarted());
  EXPECT_TRUE(worker.Wait()) << "a Wait that waited for the suspended thread never returns";
  ResumeThread(worker.Handle());
  WaitForSingleObject(worker.Handle(), INFINITE);
}

// Floating-point state is per thread: the case runs on a fresh one.
TEST(FloatingPointTrapsTest, OnlyTheDivideByZeroMaskChangesAndComesBack) {
  const unsigned mainWord = _control87(0, 0);
  unsigned before = 0, enabled = 0, disabled = 0;
  std::thread([&] {
    before = _control87(0, 0);
    SetFloatingPointTraps(true, _EM_ZERODIVIDE);
    enabled = _control87(0, 0);
    SetFloatingPointTraps(false, _EM_ZERODIVIDE);
    disabled = _control87(0, 0);
  }).join();
  EXPECT_NE(before & _EM_ZERODIVIDE, 0u);
  EXPECT_EQ(enabled, before & ~_EM_ZERODIVIDE);
  EXPECT_TRUE(disabled == before && _control87(0, 0) == mainWord);
}

}  // namespace
}  // namespace quorvel
