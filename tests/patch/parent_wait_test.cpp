#include <atomic>
#include <string>
#include <thread>

#include "patch/patch_run.h"
#include "patch/progress_window.h"
#include "patch/run_steps.h"
#include "support/test_support.h"
#include "support/waiting_process.h"

namespace quorvel {
namespace {

using test::LogCapture;
using test::WaitingProcess;

const char kWaiting[] = "Waiting for the parent process to end\r\n";

// The wait runs on a thread of its own, so that the test sees whether it returns while the
// launcher still lives.
TEST(ParentWaitTest, ReturnsOnlyAfterTheLauncherHasEnded) {
  LogCapture log;
  WaitingProcess launcher;
  ASSERT_TRUE(launcher.IsRunning());
  PatchRun run;
  run.parentPid = launcher.Id();
  std::atomic<bool> returned{false};
  bool launcherHadEnded = false;
  std::thread waiter([&] {
    WaitForParentProcess(run);
    launcherHadEnded = !launcher.IsRunning();
    returned = true;
  });
  // The launcher is alive and held: a wait that returns now did not wait for it. The pause only
  // gives such a wait the chance to show itself; a sound one never returns within it.
  Sleep(250);
  const bool returnedWhileAlive = returned;
  launcher.Finish();
  waiter.join();
  EXPECT_FALSE(returnedWhileAlive);
  EXPECT_TRUE(launcherHadEnded);
  EXPECT_EQ(log.Text(), kWaiting);
  EXPECT_EQ(run.progressWindow, nullptr);
}

TEST(ParentWaitTest, ALauncherThatNoLongerExistsIsLoggedAndTheRunGoesOnWithoutAWindow) {
  LogCapture log;
  PatchRun run;
  run.parentPid = 0x7FFFFFF0;  // ids are small multiples of four: no process has this one
  testing::internal::CaptureStdout();
  EXPECT_EQ(WaitForParentProcess(run), S_OK);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(run.progressWindow, nullptr);
  EXPECT_EQ(log.Text(), std::string(kWaiting) +
                            "Could not open the parent process, HResult: 0x80070057, error: 87 " +
                            test::LoggedSystemMessage(ERROR_INVALID_PARAMETER));
}

TEST(ParentWaitTest, AnEndedLauncherOrThisProcessEndsTheWaitAtOnce) {
  LogCapture log;
  WaitingProcess launcher;
  ASSERT_TRUE(launcher.Finish());
  PatchRun ended;
  ended.parentPid = launcher.Id();
  EXPECT_EQ(WaitForParentProcess(ended), S_OK);
  PatchRun self;
  self.parentPid = GetCurrentProcessId();
  EXPECT_EQ(WaitForParentProcess(self), S_OK);
  EXPECT_EQ(log.Text(), std::string(kWaiting) + kWaiting +
                            "The parent process is this process (pid " +
                            std::to_string(GetCurrentProcessId()) + "), not waiting for it\r\n");
}

}  // namespace
}  // namespace quorvel
