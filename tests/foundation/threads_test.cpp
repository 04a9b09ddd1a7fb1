// Worker threads and the floating-point traps they run with.
#include <float.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "foundation/library_options.h"
#include "foundation/worker_thread.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

// A worker whose body runs a given function; OnStop counts its calls.
class TestWorker : public WorkerThread {
 public:
  explicit TestWorker(std::function<uint32_t(TestWorker&)> body)
      : WorkerThread(65536), body_(std::move(body)) {}
  ~TestWorker() override {
    SetStop(true);
    Wait();
  }
  std::atomic<int> stops{0};

 protected:
  uint32_t Run() override { return body_(*this); }
  void OnStop() override { ++stops; }

 private:
  std::function<uint32_t(TestWorker&)> body_;
};

DWORD ExitCode(HANDLE thread) {
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  return code;
}

TEST(WorkerThreadTest, RunsWithDivisionByZeroTrappedAndEndsWithTheBodysResult) {
  unsigned controlWord = _EM_ZERODIVIDE;
  TestWorker worker([&](TestWorker& self) {
    controlWord = _control87(0, 0);
    while (self.stops == 0) {
      YieldThread();
    }
    return 0xC0FFEEu;
  });
  EXPECT_FALSE(worker.HasStarted());
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.HasStarted() && worker.IsRunning());
  worker.SetStop(false);  // only stores the flag
  EXPECT_TRUE(worker.stops == 0 && !worker.StopRequested());
  worker.SetStop(true);
  EXPECT_TRUE(worker.StopRequested());
  ASSERT_TRUE(worker.Wait());
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_EQ(ExitCode(worker.Handle()), 0xC0FFEEu);
  EXPECT_EQ(controlWord & _EM_ZERODIVIDE, 0u);
}

TEST(WorkerThreadTest, WaitReturnsAtOnceAfterAFailedStart) {
  std::atomic<bool> ran{false};
  TestWorker worker([&](TestWorker&) { return ran = true, 0u; });
  // A second suspension makes the start's resume leave the thread suspended.
  ASSERT_EQ(SuspendThread(worker.Handle()), 1u);
  EXPECT_FALSE(worker.Start() || worker.HasStarted());
  EXPECT_TRUE(worker.Wait()) << "a Wait that waited for the suspended thread never returns";
  EXPECT_FALSE(ran);
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
  EXPECT_EQ(disabled, before);
  EXPECT_EQ(_control87(0, 0), mainWord);
}

}  // namespace
}  // namespace quorvel
