#include "patch/launcher/parent_wait.h"

#include <atomic>
#include <thread>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

// The wait is over only once the launcher has ended, which the waiter checks on its handle the
// moment the wait returns; a wait that does not wait sets the event while the launcher still runs.
TEST(ParentWaitTest, ReturnsOnlyAfterTheLauncherHasEndedOrAtOnceWhenThereIsNoneToWaitFor) {
  LogCapture log;
  WaitingProcess launcher;
  PatchRun run;
  run.parentPid = launcher.Id();
  const NamedEvent returned(L"parent_wait_returned");
  std::atomic<bool> launcherEnded{false};
  std::thread waiter([&] {
    WaitForParentProcess(run);
    launcherEnded = launcher.WaitForExit(0);
    returned.Set();
  });
  EXPECT_FALSE(returned.WaitFor(250)) << "returned while the launcher ran";
  launcher.Finish();
  waiter.join();
  EXPECT_TRUE(launcherEnded);
  for (DWORD pid : {launcher.Id(), 0x7FFFFFF0ul, GetCurrentProcessId()}) {
    run.parentPid = pid;
    EXPECT_EQ(WaitForParentProcess(run), S_OK) << "pid: " << pid;
  }
  const std::string waiting = "Waiting for the parent process to end\r\n";
  EXPECT_EQ(log.Text(), waiting + waiting + waiting +
                            "Could not open the parent process, HResult: 0x80070057, error: 87 " +
                            LoggedSystemMessage(ERROR_INVALID_PARAMETER) + waiting +
                            "The parent process is this process (pid " +
                            std::to_string(GetCurrentProcessId()) + "), not waiting for it\r\n");
  EXPECT_EQ(run.progressWindow, nullptr) << "no display text, no window";
}

}  // namespace
}  // namespace quorvel::test
