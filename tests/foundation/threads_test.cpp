// Worker threads with their floating-point traps, named mutexes and the instance number.
#include <float.h>

#include <atomic>
#include <functional>

#include "foundation/library_options.h"
#include "foundation/named_mutex.h"
#include "foundation/process_instance.h"
#include "foundation/scoped_handle.h"
#include "foundation/worker_thread.h"
#include "patch/entry/module_objects.h"
#include "support/test_support.h"

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

// Floating-point state is per thread: the worker has the main thread's exception masks but
// divide-by-zero, and masking it again changes nothing else. Only the masks are compared across
// threads: a fresh 32-bit x86 thread starts with the system's x87 precision, not the main one's.
TEST(WorkerThreadTest, RunsWithOnlyDivisionByZeroTrappedEndsWithItsResultAndNeverWaitsUnstarted) {
  const unsigned mainWord = _control87(0, 0);
  unsigned trapped = 0, untrapped = 0;
  TestWorker worker([&] {
    trapped = _control87(0, 0);
    SetFloatingPointTraps(false, _EM_ZERODIVIDE);
    untrapped = _control87(0, 0);
    return 0xC0FFEEu;
  });
  ASSERT_TRUE(worker.Start());
  worker.SetStop(false);  // only stores the flag
  EXPECT_TRUE(worker.stops == 0 && !worker.StopRequested());
  worker.SetStop(true);
  EXPECT_TRUE(worker.StopRequested() && worker.stops == 1) << "stops " << worker.stops.load();
  DWORD code = 0;
  EXPECT_TRUE(worker.Wait() && GetExitCodeThread(worker.Handle(), &code) && code == 0xC0FFEEu);
  EXPECT_TRUE((mainWord & _EM_ZERODIVIDE) != 0 &&
              (trapped & _MCW_EM) == (mainWord & _MCW_EM & ~_EM_ZERODIVIDE) &&
              untrapped == (trapped | _EM_ZERODIVIDE) && _control87(0, 0) == mainWord);
  // After a failed start Wait returns at once: a second suspension makes the start's resume
  // leave the thread suspended.
  TestWorker failed([] { return 0u; });
  ASSERT_EQ(SuspendThread(failed.Handle()), 1u);
  EXPECT_FALSE(failed.Start()) << "the start of a thread suspended twice";
  EXPECT_TRUE(failed.Wait()) << "a Wait that waited for the suspended thread never returns";
  ResumeThread(failed.Handle());
  WaitForSingleObject(failed.Handle(), INFINITE);
}

TEST(NamedMutexTest, ClaimsTheFirstFreeOrTheRequestedNumberWithinTheBoundAndNamesTheInstance) {
  const std::string base = "quorvel_mutex_test_" + std::to_string(GetCurrentProcessId());
  NamedMutex holder(base.c_str(), true, 3), first(base.c_str(), true, 0),
      other(base.c_str(), false, 0);
  const auto exists = [](const std::string& name) {
    return ScopedHandle(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())).IsValid();
  };
  EXPECT_TRUE(holder.InstanceNumber() == 3 && first.InstanceNumber() == 1);
  // A requested number held elsewhere fails; once held, a new request changes nothing.
  EXPECT_TRUE(other.Create(3, {}) == 0 && other.InstanceNumber() == 0 && !exists(base + "_4"));
  EXPECT_TRUE(other.Create(4, {}) == 4 && other.Create(0, SharedString("ignored")) == 4);
  EXPECT_TRUE(exists(base + "_4") && !exists("ignored_1"));
  first.Close();
  EXPECT_FALSE(first.InstanceNumber() != 0 || exists(base + "_1"));
  // Names taken by other objects are skipped, up to the bound.
  std::vector<ScopedHandle> taken;
  for (uint32_t n = 1; n <= kNamedMutexMaxTries; ++n) {
    taken.emplace_back(
        CreateEventA(nullptr, TRUE, FALSE, (base + "x_" + std::to_string(n)).c_str()));
  }
  NamedMutex bounded((base + "x").c_str(), false, 0);
  EXPECT_EQ(bounded.Create(0, {}), 0u);
  taken.pop_back();
  EXPECT_EQ(bounded.Create(0, {}), kNamedMutexMaxTries);
  // Unnamed, and the process's instance: the lower-case executable name with its number.
  NamedMutex unnamed(SharedString(), true, 0);
  EXPECT_TRUE(exists("foundation_tests.exe_" + std::to_string(unnamed.InstanceNumber())));
  const uint32_t number = ModuleProcessInstance().InstanceNumber();
  EXPECT_TRUE(number >= 1 && exists("foundation_tests_" + std::to_string(number)));
}

}  // namespace
}  // namespace quorvel
