// Whole runs through the driver, headless, on real folders: every step's log lines in order,
// the files after the run and the restarted launcher.
#include "patch/run_driver.h"

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include "foundation/run_log.h"
#include "patch/library_main.h"
#include "patch/patch_files.h"
#include "patch/run_steps.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::Utf8;

int g_pauses = 0;

class RunDriverTest : public test::TempDirTest {
 protected:
  RunDriverTest() {
    test::WriteFileBytes(At(L"Game\\a.txt"), "old a");
    test::WriteFileBytes(At(L"Patch\\a.txt"), "new a");
    CopyFileW((test::ProgramFolder() + L"\\sample_launcher.exe").c_str(), launcher_.c_str(), TRUE);
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started_.Name()).c_str());
    g_pauses = 0;
    previousPause_ = SetRetryPause([](DWORD) { ++g_pauses; });
  }
  ~RunDriverTest() override {
    SetRetryPause(previousPause_);
    _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
    _wputenv(L"QUORVEL_RESULT=");
    _wputenv(L"QUORVEL_FILENAME=");
    // The restarted launcher ends before its folder is removed.
    const std::string record = test::ReadFileBytes(At(L"Game\\DastryLauncher.record.txt"));
    const HANDLE launcher =
        OpenProcess(SYNCHRONIZE, FALSE, std::stoul("0" + record.substr(record.find("pid: ") + 5)));
    WaitForSingleObject(launcher, 30000);
    CloseHandle(launcher);
  }
  // Runs "<-text ...> <pid> <folders> <files> <launcher> -restart <variables>"; the log.
  std::string Run(const std::wstring& files, int result) {
    test::WaitingProcess parent;
    parent.Finish();
    testing::internal::CaptureStdout();  // the progress window's trace: no display to open on
    EXPECT_EQ(
        RunPatch((L"-text \"Updating game files\" " + std::to_wstring(parent.Id()) + L" \"" +
                  At(L"Patch") + L"\" \"" + At(L"Game") + L"\" \"" + At(L"Backup") + L"\" " +
                  files + L" \"" + launcher_ + L"\" -restart %QUORVEL_RESULT% %QUORVEL_FILENAME%")
                     .c_str()),
        result);
    EXPECT_TRUE(test::Has(testing::internal::GetCapturedStdout(), "result: -1\n"));
    EXPECT_TRUE(started_.WaitFor(30000)) << "the launcher was not started";
    pid_ = std::to_string(parent.Id());
    return std::regex_replace(log_.Text(), std::regex("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                              "<stamp>");
  }
  std::string In(const wchar_t* folder, const std::wstring& name = L"") const {
    return Utf8(At(std::wstring(folder) + name));
  }

  test::LogCapture log_;
  test::NamedEvent started_{L"launcher_started"};
  const std::wstring launcher_ = At(L"Game\\DastryLauncher.exe");
  std::string pid_;
  RetryPause previousPause_;
};

TEST_F(RunDriverTest, ARunReadsItsArgumentsWaitsPatchesRestartsTheLauncherAndLogsEachStep) {
  test::WriteFileBytes(At(L"Game\\sub\\gone.txt"), "dropped by the patch");
  const std::string log = Run(L"2 a.txt sub\\gone.txt", 1);
  const std::string launcher = Utf8(launcher_);
  EXPECT_EQ(
      log, "Argument List:\r\n\t-text\r\n\tUpdating game files\r\n\t" + pid_ + "\r\n\t" +
               In(L"Patch") + "\r\n\t" + In(L"Game") + "\r\n\t" + In(L"Backup") +
               "\r\n\t2\r\n\ta.txt\r\n\tsub\\gone.txt\r\n\t" + launcher +
               "\r\n\t-restart\r\n\t%QUORVEL_RESULT%\r\n\t%QUORVEL_FILENAME%\r\n"
               "parent pid: " +
               pid_ + "\r\nPatch Directory:       <" + In(L"Patch") +
               ">\r\nApplication Directory: <" + In(L"Game") + ">\r\nBackup Directory:      <" +
               In(L"Backup") +
               ">\r\nThere are 2 files to patch\r\nFile: \"a.txt\"\r\n"
               "File: \"sub\\gone.txt\"\r\nPost Patch Command: <" +
               launcher +
               " \"-restart\" \"%QUORVEL_RESULT%\" \"%QUORVEL_FILENAME%\">\r\n"
               "Waiting for the parent process to end\r\nBacking up \"" +
               In(L"Game\\a.txt") + "\" to \"" + In(L"Backup\\a.txt") + "\"\r\nCopying up \"" +
               In(L"Patch\\a.txt") + "\" to \"" + In(L"Game\\a.txt") + "\"\r\nBacking up \"" +
               In(L"Game\\sub\\gone.txt") + "\" to \"" + In(L"Backup\\sub\\gone.txt") +
               "\"\r\nAll Quorvel patches successful\r\nExecuting post patch command: " + launcher +
               " \"-restart\" \"0x00000000\" \"\"\r\n"
               "\r\n======= Quorvel Complete <stamp> ============\r\n");
  EXPECT_EQ(test::Contents({At(L"Game\\a.txt"), At(L"Backup\\a.txt"), At(L"Patch\\a.txt"),
                            At(L"Game\\sub"), At(L"Backup\\sub\\gone.txt")}),
            "new a|old a|-|-|dropped by the patch|");
  EXPECT_TRUE(test::Has(test::ReadFileBytes(At(L"Game\\DastryLauncher.record.txt")),
                        "\"-restart\" \"0x00000000\" \"\"\r\n"));
}

// Five attempts, then every applied file goes back; the launcher still starts, told why.
TEST_F(RunDriverTest, AFileLockedForGoodFailsTheRunAfterFiveAttemptsAndEverythingIsReverted) {
  test::WriteFileBytes(At(L"Patch\\new\\b.txt"), "new b");
  test::WriteFileBytes(At(L"Game\\c.txt"), "old c");
  test::WriteFileBytes(At(L"Patch\\c.txt"), "new c");
  test::WriteFileBytes(At(L"Game\\d.txt"), "old d");
  test::FileLock lock(At(L"Game\\c.txt"));
  const std::string log = Run(L"4 a.txt new\\b.txt c.txt d.txt", 0);
  lock.Release();
  EXPECT_EQ(g_pauses, 4);
  EXPECT_EQ(
      test::Count(log, "Backing up \"" + In(L"Game\\c.txt") + "\" to \"" + In(L"Backup\\c.txt") +
                           "\"\r\nCopy failed, HResult 0x80070020, "
                           "error 32 " +
                           test::LoggedSystemMessage(32) + "\r\n"),
      5u)
      << log;
  EXPECT_TRUE(test::Has(log, "\r\nPatch failed. Retry 4 ...\r\n")) << log;
  EXPECT_TRUE(test::EndsWith(
      log,
      "Could not patch file \"c.txt\", error 0x80070020\r\nReverting all patches\r\nCopying \"" +
          In(L"Backup") + "\\a.txt\" to \"" + In(L"Game") + "\\a.txt\"\r\nCopying \"" +
          In(L"Backup") + "\\new\\b.txt\" to \"" + In(L"Game") +
          "\\new\\b.txt\"\r\nExecuting post patch command: " + Utf8(launcher_) +
          " \"-restart\" \"0x80070020\" \"c.txt\"\r\n\r\n======= Quorvel Failed <stamp> "
          "============\r\n"))
      << log;
  EXPECT_EQ(test::Contents({At(L"Game\\a.txt"), At(L"Game\\new"), At(L"Game\\c.txt"),
                            At(L"Game\\d.txt"), At(L"Patch\\a.txt"), At(L"Patch\\new\\b.txt"),
                            At(L"Patch\\c.txt"), At(L"Backup\\a.txt")}),
            "old a|-|old c|old d|new a|new b|new c|-|");
}

// The reason is the last line before the Failed banner: no other step ran.
TEST(RunDriverParseTest, ACommandLineThatCannotBeParsedEndsTheRunWithTheFailedBanner) {
  for (const auto& [commandLine, reason] :
       {std::pair<const wchar_t*, const char*>{
            nullptr, "Could not parse the command line to get the argument list"},
        {L"4242 P A B 1 a.dll", "\\.Failed to build post patch command"}}) {
    test::LogCapture log;
    EXPECT_EQ(RunPatch(commandLine), 0);
    EXPECT_TRUE(std::regex_search(log.Text(), std::regex(std::string("\r\n") + reason +
                                                         "\r\n\r\n======= Quorvel Failed "
                                                         "\\d\\d/\\d\\d/\\d\\d "
                                                         "\\d\\d:\\d\\d:\\d\\d ============\r\n$")))
        << log.Text();
  }
}

TEST(ParentWaitTest, ReturnsOnlyAfterTheLauncherHasEndedOrAtOnceWhenThereIsNoneToWaitFor) {
  test::LogCapture log;
  test::WaitingProcess launcher;
  PatchRun run;
  run.parentPid = launcher.Id();
  std::atomic<bool> returned{false};
  std::thread waiter([&] { WaitForParentProcess(run), returned = true; });
  // A sound wait never returns within this pause; one that does not wait shows itself.
  Sleep(250);
  EXPECT_FALSE(returned);
  launcher.Finish();
  waiter.join();
  for (DWORD pid : {launcher.Id(), 0x7FFFFFF0ul, GetCurrentProcessId()}) {
    run.parentPid = pid;
    EXPECT_EQ(WaitForParentProcess(run), S_OK);
  }
  const std::string waiting = "Waiting for the parent process to end\r\n";
  EXPECT_EQ(log.Text(), waiting + waiting + waiting +
                            "Could not open the parent process, HResult: 0x80070057, error: 87 " +
                            test::LoggedSystemMessage(ERROR_INVALID_PARAMETER) + waiting +
                            "The parent process is this process (pid " +
                            std::to_string(GetCurrentProcessId()) + "), not waiting for it\r\n");
  EXPECT_EQ(run.progressWindow, nullptr) << "no display text, no window";
}

TEST(LibraryMainTest, ProcessAttachStartsTheLogUnderLocalAppDataAndOtherReasonsDoNothing) {
  test::UserRunLog userLog;
  const std::wstring previous = RunLog::Path().Chars();
  EXPECT_TRUE(OnDllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  const std::string path = Utf8(RunLog::Path().Chars());
  RunLog::SetPath(L"%ls", previous.c_str());
  EXPECT_TRUE(test::EndsWith(path, "\\AppData\\Local\\Brinmoor\\Quorvel.log")) << path;
  EXPECT_EQ(userLog.Added(), "\r\n\r\n======= Starting Quorvel <stamp> ============\r\n");
  test::LogCapture log;
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_TRUE(OnDllMain(nullptr, reason, nullptr)) << reason;
  }
  EXPECT_FALSE(OnDllMain(nullptr, 7, nullptr));
  EXPECT_EQ(log.Text(), "DllMain() returning false\r\n");
}

}  // namespace
}  // namespace quorvel
