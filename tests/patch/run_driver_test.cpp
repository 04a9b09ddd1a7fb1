// One run from the library's load to its closing banner: DllMain, the wait for the launcher and
// the driver that calls the steps in order.
#include "patch/run_driver.h"

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include "foundation/run_log.h"
#include "patch/library_main.h"
#include "patch/patch_run.h"
#include "patch/progress_window.h"
#include "patch/run_steps.h"
#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

const char kWaiting[] = "Waiting for the parent process to end\r\n";
const char kStamp[] = "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d ============\r\n";

TEST(ParentWaitTest, ReturnsOnlyAfterTheLauncherHasEnded) {
  test::LogCapture log;
  test::WaitingProcess launcher;
  PatchRun run;
  run.parentPid = launcher.Id();
  std::atomic<bool> returned{false};
  bool launcherHadEnded = false;
  std::thread waiter([&] {
    WaitForParentProcess(run);
    launcherHadEnded = !launcher.IsRunning();
    returned = true;
  });
  // A sound wait never returns within this pause; a wait that does not wait shows itself.
  Sleep(250);
  const bool returnedWhileAlive = returned;
  launcher.Finish();
  waiter.join();
  EXPECT_FALSE(returnedWhileAlive);
  EXPECT_TRUE(launcherHadEnded);
  EXPECT_EQ(log.Text(), kWaiting);
  EXPECT_EQ(run.progressWindow, nullptr) << "no display text, no window";
}

TEST(ParentWaitTest, AnEndedMissingOrOwnProcessEndsTheWaitAtOnceAndTheMissingOneIsLogged) {
  test::LogCapture log;
  test::WaitingProcess launcher;
  ASSERT_TRUE(launcher.Finish());
  for (DWORD pid : {launcher.Id(), 0x7FFFFFF0ul, GetCurrentProcessId()}) {
    PatchRun run;
    run.parentPid = pid;
    EXPECT_EQ(WaitForParentProcess(run), S_OK);
  }
  EXPECT_EQ(log.Text(), std::string(kWaiting) + kWaiting +
                            "Could not open the parent process, HResult: 0x80070057, error: 87 " +
                            test::LoggedSystemMessage(ERROR_INVALID_PARAMETER) + kWaiting +
                            "The parent process is this process (pid " +
                            std::to_string(GetCurrentProcessId()) + "), not waiting for it\r\n");
}

TEST(RunDriverTest, ARunPatchesRestartsTheLauncherAndEndsWithTheCompleteBanner) {
  test::ScopedTempDir dir;
  test::LogCapture log;
  test::WriteFileBytes(dir / L"Game\\a.txt", "old");
  test::WriteFileBytes(dir / L"Patch\\a.txt", "new");
  const std::wstring launcher = dir / L"Game\\DastryLauncher.exe";
  ASSERT_TRUE(CopyFileW((test::ProgramFolder() + L"\\sample_launcher.exe").c_str(),
                        launcher.c_str(), TRUE));
  test::NamedEvent started(L"launcher_started");
  _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started.Name()).c_str());
  test::WaitingProcess parent;
  ASSERT_TRUE(parent.Finish());
  EXPECT_EQ(RunPatch((std::to_wstring(parent.Id()) + L" \"" + (dir / L"Patch") + L"\" \"" +
                      (dir / L"Game") + L"\" \"" + (dir / L"Backup") + L"\" 1 a.txt \"" + launcher +
                      L"\" -restart")
                         .c_str()),
            1);
  EXPECT_TRUE(started.WaitFor(30000));
  _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
  _wputenv(L"QUORVEL_RESULT=");
  EXPECT_EQ(test::ReadFileBytes(dir / L"Game\\a.txt"), "new");
  EXPECT_TRUE(std::regex_search(
      log.Text(), std::regex(std::string("All Quorvel patches successful\r\nExecuting post patch "
                                         "command: .*\r\n\r\n======= Quorvel Complete ") +
                             kStamp + "$")))
      << log.Text();
}

// The reason is the last line before the Failed banner: no other step ran.
TEST(RunDriverTest, ACommandLineThatCannotBeParsedEndsTheRunWithTheFailedBanner) {
  for (const auto& [commandLine, reason] :
       {std::pair<const wchar_t*, const char*>{
            nullptr, "Could not parse the command line to get the argument list"},
        {L"4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 1 bin\\client.dll",
         "\\.Failed to build post patch command"}}) {
    test::LogCapture log;
    EXPECT_EQ(RunPatch(commandLine), 0);
    EXPECT_TRUE(
        std::regex_search(log.Text(), std::regex(std::string("\r\n") + reason +
                                                 "\r\n\r\n======= Quorvel Failed " + kStamp + "$")))
        << log.Text();
  }
}

TEST(LibraryMainTest, ProcessAttachStartsTheLogUnderLocalAppDataAndOtherReasonsDoNothing) {
  test::UserRunLog userLog;
  const std::wstring previous = RunLog::Path().Chars();
  EXPECT_TRUE(OnDllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  const std::string path = test::Utf8(RunLog::Path().Chars());
  RunLog::SetPath(L"%ls", previous.c_str());
  EXPECT_TRUE(test::EndsWith(path, "\\AppData\\Local\\Brinmoor\\Quorvel.log")) << path;
  EXPECT_TRUE(std::regex_match(
      userLog.Added(true), std::regex(std::string("\r\n\r\n======= Starting Quorvel ") + kStamp)))
      << userLog.Added(true);
  test::LogCapture log;
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_TRUE(OnDllMain(nullptr, reason, nullptr)) << reason;
  }
  EXPECT_FALSE(OnDllMain(nullptr, 7, nullptr));
  EXPECT_EQ(log.Text(), "DllMain() returning false\r\n");
}

}  // namespace
}  // namespace quorvel
