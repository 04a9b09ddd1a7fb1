// Runs that must fail rather than touch the wrong files.
#include <cstdlib>
#include <string>

#include "patch/patch_file.h"
#include "patch/patch_files.h"
#include "patch/post_patch_command.h"
#include "patch/run_steps.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

int g_pauses = 0;
void CountPause(DWORD) { ++g_pauses; }

class PatchSafetyTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    previous_ = SetRetryPause(CountPause);
    g_pauses = 0;
    run_.patchDirectory = At(L"Game\\Patch").c_str();
    run_.applicationDirectory = At(L"Game").c_str();
    run_.backupDirectory = At(L"Game\\Backup").c_str();
    WriteFileBytes(At(L"Game\\a.txt"), "old a");
    WriteFileBytes(At(L"Game\\Patch\\a.txt"), "new a");
  }
  void TearDown() override { SetRetryPause(previous_); }
  std::string State() const {
    return ReadFileBytes(At(L"Game\\a.txt")) + "|" + ReadFileBytes(At(L"Game\\Patch\\a.txt")) +
           "|" + std::to_string(test::PathExists(At(L"Game\\Backup")));
  }

  PatchRun run_;
  test::LogCapture log_;
  RetryPause previous_ = nullptr;
};

TEST_F(PatchSafetyTest, AQueryThatFailsForAnotherReasonThanAMissingFileFailsTheFile) {
  // A '?' cannot stand in a name: the new file's query fails with 123, not "not found", so
  // the game file must not be taken for one the patch deletes.
  run_.patchDirectory = At(L"Game\\Pa?ch").c_str();
  run_.files.assign({SharedWString(L"a.txt")});

  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));

  EXPECT_EQ(ReadFileBytes(At(L"Game\\a.txt")), "old a");
  EXPECT_FALSE(test::PathExists(At(L"Game\\Backup\\a.txt")));
}

TEST_F(PatchSafetyTest, EveryFailedCopyUpPutsTheOldFileBack) {
  run_.files.assign({SharedWString(L"a.txt")});
  test::FileLock lock(At(L"Game\\Patch\\a.txt"));
  ASSERT_TRUE(lock.Held());

  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  lock.Release();

  const std::string text = log_.Text();
  size_t restored = 0;
  for (size_t at = text.find("Restored \""); at != std::string::npos;
       at = text.find("Restored \"", at + 1)) {
    ++restored;
  }
  EXPECT_EQ(restored, 5u) << text;
  EXPECT_EQ(ReadFileBytes(At(L"Game\\a.txt")), "old a");
  EXPECT_EQ(ReadFileBytes(At(L"Game\\Backup\\a.txt")), "old a");
}

TEST(LauncherSearchTest, ACommandThatCannotBeResolvedIsNeverTakenForARunningLauncher) {
  const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x') + L"\\DastryLauncher.exe";
  EXPECT_FALSE(IsLauncherRunning(SharedWString(tooLong.c_str())));
}

}  // namespace
}  // namespace quorvel
