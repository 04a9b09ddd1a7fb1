#include "patch/apply/revert_patches.h"

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

using RevertPatchesTest = PatchTest;

// Reverted in the order applied: a.txt goes back, b.txt cannot, and c.txt is not tried.
TEST_F(RevertPatchesTest, ARevertStopsAtItsFirstFailure) {
  Pairs({L"a.txt", L"b.txt", L"c.txt"});
  ASSERT_EQ(PatchFiles(run_), S_OK);
  FileLock lock(Game(L"b.txt"));
  EXPECT_EQ(RevertPatches(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  lock.Release();
  EXPECT_PRED2(Has, log_.Text(),
               "Failed trying to revert patch file \"b.txt\", HResult 0x80070020, error 32 " +
                   LoggedSystemMessage(32));
  EXPECT_EQ(Contents({Game(L"a.txt"), Game(L"b.txt"), Game(L"c.txt"), Backup(L"a.txt")}),
            "old a.txt|new b.txt|new c.txt|-|");
}

// A revert leaves the player's folders as it found them, empty ones too, and none that the run
// made (for the file that failed as well); two names that differ only in case outside the Basic
// Multilingual Plane are two files, as to the file system; paths past 260 characters are no
// different.
TEST_F(RevertPatchesTest, ARevertKeepsThePlayersEmptyFoldersAndNamesTheFileSystemKeepsApart) {
  const std::wstring deseret[] = {L"\U00010400.txt", L"\U00010428.txt"};
  const std::wstring longer[] = {LongName(At(L"Game"), 300), LongName(At(L"Game"), 1000)};
  Pairs({deseret[0].c_str(), deseret[1].c_str(), L"kept\\a.txt", L"keep\\new.txt",
         longer[0].c_str(), longer[1].c_str(), L"deep\\z.txt"});
  DeleteFileW(Game(L"keep\\new.txt").c_str());
  CreateDirectoryW(At(L"Backup").c_str(), nullptr);
  CreateDirectoryW(Backup(L"kept").c_str(), nullptr);
  const NameList names = run_.files;
  const std::string before = TreeFingerprint(Dir());
  FileLock lock(Game(L"deep\\z.txt"));

  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));

  lock.Release();
  EXPECT_EQ(TreeFingerprint(Dir(), kJournalName), before);
  run_.files = names, run_.appliedFiles.clear();
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(
      Contents({Game(deseret[0]), Game(deseret[1]), Backup(deseret[1])}),
      "new " + Utf8(deseret[0]) + "|new " + Utf8(deseret[1]) + "|old " + Utf8(deseret[1]) + "|");
}

}  // namespace
}  // namespace quorvel::test
