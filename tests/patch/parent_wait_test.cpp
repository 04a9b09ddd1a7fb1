#include <string>

#include "foundation/scoped_handle.h"
#include "patch/patch_run.h"
#include "patch/progress_window.h"
#include "patch/run_steps.h"
#include "support/test_support.h"
#include "support/waiting_process.h"

namespace quorvel {
namespace {

using test::LogCapture;
using test::WaitingProcess;

// A process id that no process has: ids are small multiples of four.
constexpr DWORD kNoSuchProcess = 0x7FFFFFF0;

// The bytes a log line takes in the file, whose text mode writes each "\n" as CR LF.
std::string InFile(const std::string& text) {
  std::string bytes;
  for (char c : text) {
    if (c == '\n') {
      bytes += '\r';
    }
    bytes += c;
  }
  return bytes;
}

struct WaitOnThread {
  PatchRun* run;
  const WaitingProcess* launcher;
  bool launcherHadEnded = false;
};

DWORD WINAPI WaitAndLook(void* parameter) {
  auto* wait = static_cast<WaitOnThread*>(parameter);
  WaitForParentProcess(*wait->run);
  wait->launcherHadEnded = !wait->launcher->IsRunning();
  return 0;
}

TEST(ParentWaitTest, ReturnsOnlyAfterTheLauncherHasEnded) {
  LogCapture log;
  WaitingProcess launcher;
  ASSERT_TRUE(launcher.IsRunning());
  PatchRun run;
  run.parentPid = launcher.Id();
  WaitOnThread wait{&run, &launcher};
  ScopedHandle waiter(CreateThread(nullptr, 0, &WaitAndLook, &wait, 0, nullptr));
  ASSERT_TRUE(waiter.IsValid());

  // The launcher is alive and held: a wait that returns now did not wait for it. The pause only
  // gives such a wait the chance to show itself; a sound one never returns within it.
  const bool returnedWhileAlive = WaitForSingleObject(waiter.Get(), 250) == WAIT_OBJECT_0;
  launcher.Finish();
  WaitForSingleObject(waiter.Get(), INFINITE);

  EXPECT_FALSE(returnedWhileAlive);
  EXPECT_TRUE(wait.launcherHadEnded);
  EXPECT_EQ(log.Text(), InFile("Waiting for the parent process to end\n"));
  EXPECT_EQ(run.progressWindow, nullptr);
}

TEST(ParentWaitTest, ALauncherThatNoLongerExistsIsLoggedAndTheRunGoesOnWithoutAWindow) {
  LogCapture log;
  PatchRun run;
  run.parentPid = kNoSuchProcess;
  testing::internal::CaptureStdout();
  EXPECT_EQ(WaitForParentProcess(run), S_OK);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(run.progressWindow, nullptr);
  EXPECT_EQ(log.Text(),
            InFile("Waiting for the parent process to end\n"
                   "Could not open the parent process, HResult: 0x80070057, error: 87 ") +
                test::LoggedSystemMessage(ERROR_INVALID_PARAMETER));
}

TEST(ParentWaitTest, AnEndedLauncherStillKnownToTheSystemEndsTheWaitAtOnce) {
  LogCapture log;
  WaitingProcess launcher;
  ASSERT_TRUE(launcher.Finish());
  PatchRun run;
  run.parentPid = launcher.Id();
  EXPECT_EQ(WaitForParentProcess(run), S_OK);
  EXPECT_EQ(log.Text(), InFile("Waiting for the parent process to end\n"));
}

TEST(ParentWaitTest, ThisProcessAsTheLauncherIsLoggedAndNotWaitedFor) {
  LogCapture log;
  PatchRun run;
  run.parentPid = GetCurrentProcessId();
  EXPECT_EQ(WaitForParentProcess(run), S_OK);
  const std::string pid = std::to_string(GetCurrentProcessId());
  EXPECT_EQ(log.Text(), InFile("Waiting for the parent process to end\n"
                               "The parent process is this process (pid " +
                               pid + "), not waiting for it\n"));
}

}  // namespace
}  // namespace quorvel
