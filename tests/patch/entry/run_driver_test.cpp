// Whole runs through the driver, headless, on real folders: every step's log lines in order,
// the files after the run and the restarted launcher.
#include "patch/entry/run_driver.h"

#include <memory>
#include <regex>

#include "foundation/heap.h"
#include "patch/launcher/game_lock.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

class RunDriverTest : public PatchTest {
 protected:
  RunDriverTest() {
    WriteFileBytes(At(L"Game\\a.txt"), "old a");
    WriteFileBytes(At(L"Patch\\a.txt"), "new a");
    CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(), launcher_.c_str(), TRUE);
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started_.Name()).c_str());
  }
  ~RunDriverTest() override {
    _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
    WaitForRecordedLauncher(At(L"Game\\DastryLauncher.record.txt"));
  }
  // Runs with the given files, the launcher restarted with -restart and both variables; the
  // log with the test's folder as <dir> and the banners' stamps masked.
  std::string Run(const std::wstring& files, int result) {
    WaitingProcess parent;
    parent.Finish();
    testing::internal::CaptureStdout();  // the progress window's trace: no display to open on
    EXPECT_EQ(RunPatch((L"-text \"Updating game files\" " + std::to_wstring(parent.Id()) + L" " +
                        Dir() + L"\\Patch " + Dir() + L"\\Game " + Dir() + L"\\Backup " + files +
                        L" " + launcher_ + L" -restart %QUORVEL_RESULT% %QUORVEL_FILENAME%")
                           .c_str()),
              result);
    // The window's thread ran and found no display for its dialog.
    EXPECT_TRUE(std::regex_match(testing::internal::GetCapturedStdout(),
                                 std::regex("error: 0x8007[0-9a-f]{4}\nresult: -1\n")));
    EXPECT_TRUE(started_.WaitFor(30000)) << "the launcher was not started";
    return MaskStamps(Replaced(log_.Text(), Utf8(Dir()), "<dir>"));
  }
  std::string Record() const { return ReadFileBytes(At(L"Game\\DastryLauncher.record.txt")); }

  NamedEvent started_{L"launcher_started"};
  const std::wstring launcher_ = At(L"Game\\DastryLauncher.exe");
};

TEST_F(RunDriverTest, ARunReadsItsArgumentsWaitsPatchesRestartsTheLauncherAndLogsEachStep) {
  WriteFileBytes(At(L"Game\\sub\\gone.txt"), "dropped by the patch");
  // The lines of the arguments before it are those the argument tests check.
  const std::string log = Run(L"2 a.txt sub\\gone.txt", 1);
  EXPECT_EQ(log.substr(log.find("\"%QUORVEL_FILENAME%\">\r\n")),
            "\"%QUORVEL_FILENAME%\">\r\nWaiting for the parent process to end\r\n"
            "Backing up \"<dir>\\Game\\a.txt\" to \"<dir>\\Backup\\a.txt\"\r\n"
            "Copying up \"<dir>\\Patch\\a.txt\" to \"<dir>\\Game\\a.txt\"\r\n"
            "Backing up \"<dir>\\Game\\sub\\gone.txt\" to \"<dir>\\Backup\\sub\\gone.txt\"\r\n"
            "All Quorvel patches successful\r\nExecuting post patch command: "
            "<dir>\\Game\\DastryLauncher.exe \"-restart\" \"0x00000000\" \"\"\r\n\r\n"
            "======= Quorvel Complete <stamp> ============\r\n");
  EXPECT_EQ(Contents({At(L"Game\\a.txt"), At(L"Backup\\a.txt"), At(L"Patch\\a.txt"),
                      At(L"Game\\sub"), At(L"Backup\\sub\\gone.txt")}),
            "new a|old a|-|-|dropped by the patch|");
}

// Five attempts, then every applied file goes back; the launcher still starts, told why, and
// starts the next run, whose success leaves it no file name.
TEST_F(RunDriverTest, AFileLockedForGoodFailsTheRunAfterFiveAttemptsAndEverythingIsReverted) {
  WriteFileBytes(At(L"Patch\\new\\b.txt"), "new b");
  WriteFileBytes(At(L"Game\\c.txt"), "old c");
  WriteFileBytes(At(L"Patch\\c.txt"), "new c");
  WriteFileBytes(At(L"Game\\d.txt"), "old d");
  FileLock lock(At(L"Game\\c.txt"));
  const std::string log = Run(L"4 a.txt new\\b.txt c.txt d.txt", 0);
  lock.Release();
  const std::string attempt =
      "Backing up \"<dir>\\Game\\c.txt\" to \"<dir>\\Backup\\c.txt\"\r\nCopy failed, HResult "
      "0x80070020, error 32 " +
      LoggedSystemMessage(32) + "\r\n";
  EXPECT_PRED2(
      EndsWith, log,
      attempt + "Patch failed. Retry 4 ...\r\n" + attempt +
          "Could not patch file \"c.txt\", error 0x80070020\r\nReverting all patches\r\n"
          "Copying \"<dir>\\Backup\\a.txt\" to \"<dir>\\Game\\a.txt\"\r\nCopying "
          "\"<dir>\\Backup\\new\\b.txt\" to \"<dir>\\Game\\new\\b.txt\"\r\nExecuting post patch "
          "command: <dir>\\Game\\DastryLauncher.exe \"-restart\" \"0x80070020\" \"c.txt\"\r\n"
          "\r\n======= Quorvel Failed <stamp> ============\r\n");
  EXPECT_EQ(pauses, 4);
  WaitForRecordedLauncher(At(L"Game\\DastryLauncher.record.txt"));
  started_.Reset();
  Run(L"1 a.txt", 1);
  const std::string record = Record();
  EXPECT_PRED2(Has, record, "argv[2]: 0x80070020\r\nargv[3]: c.txt\r\nCommandLineToArgvW: same");
  EXPECT_PRED2(EndsWith, record, "QUORVEL_RESULT=0x00000000\r\nQUORVEL_FILENAME=(unset)\r\n");
}

// Another run holds the game past the limit: this one gives up, changes nothing and starts no
// launcher; once the other has ended, the same files are patched and the lock file goes.
TEST_F(RunDriverTest, ARunWaitingForAnotherRunOnTheGamePastTheLimitGivesUpChangingNothing) {
  WriteFileBytes(At(L"Game\\Quorvel.journal.lock"), "");
  auto other = std::make_unique<FileLock>(At(L"Game\\Quorvel.journal.lock"));
  const DWORD limit = SetGameLockWait(100);
  EXPECT_EQ(RunPatch((L"1 P \"" + Dir() + L"\\Game\" B 1 a.txt " + launcher_).c_str()), 0);
  SetGameLockWait(limit), other.reset();
  EXPECT_PRED2(
      EndsWith, MaskStamps(log_.Text()),
      "waiting for it to end\r\nGave up waiting for the other run on the game after 0 "
      "seconds: nothing was changed\r\n\r\n======= Quorvel Failed <stamp> ============\r\n");
  EXPECT_EQ(Variable(L"QUORVEL_RESULT") + Contents({At(L"Game\\a.txt")}), "0x800705b4old a|");
  EXPECT_FALSE(started_.WaitFor(0));
  Run(L"1 a.txt", 1);
  EXPECT_EQ(Contents({At(L"Game\\a.txt"), At(L"Game\\Quorvel.journal.lock")}), "new a|-|");
}

// A name list that cannot grow once the file is in place: the exception stops the run, which
// restarts the launcher told why and ends Failed; the next run finds the journal and completes.
TEST_F(RunDriverTest, AnAllocationFailureStopsTheRunFailedAndStillRestartsTheLauncher) {
  auto failure = std::make_unique<AllocationFailureAfter>(1, HeapUse::kContainers);
  const std::string log = Run(L"1 a.txt", 0);
  failure.reset();
  EXPECT_PRED2(EndsWith, log,
               "Copying up \"<dir>\\Patch\\a.txt\" to \"<dir>\\Game\\a.txt\"\r\n"
               "The run stopped on an exception (std::bad_alloc), HResult 0x8007000e"
               "\r\nExecuting post patch command: <dir>\\Game\\DastryLauncher.exe "
               "\"-restart\" \"0x8007000e\" \"\"\r\n\r\n======= Quorvel Failed "
               "<stamp> ============\r\n");
  WaitForRecordedLauncher(At(L"Game\\DastryLauncher.record.txt"));
  started_.Reset();
  Run(L"1 a.txt", 1);
  EXPECT_EQ(Contents({At(L"Game\\a.txt"), At(L"Backup\\a.txt")}), "new a|old a|");
}

}  // namespace
}  // namespace quorvel::test
