#include "patch/revert_patches.h"

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

using RevertPatchesTest = PatchTest;

// The files of a successful run go back; the backup folders it emptied go, as the patch
// folders did on the way up.
TEST_F(RevertPatchesTest, ARevertPutsBackEveryFileAndRemovesTheBackupFoldersItEmptied) {
  Pairs({L"d\\a.txt", L"d\\e\\b.txt", L"D\\E\\f.txt", L"x\\a.txt"});
  WriteFileBytes(Game(L"x\\y\\gone.txt"), "gone");
  run_.files.push_back(SharedWString(L"x\\y\\gone.txt"));
  ASSERT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(RevertPatches(run_), S_OK);
  EXPECT_EQ(Contents({Backup(L"d"), Backup(L"x"), Game(L"x\\y\\gone.txt"), Patch(L"d\\e\\f.txt"),
                      Game(L"d\\a.txt")}),
            "-|-|gone|new D\\E\\f.txt|old d\\a.txt|");
}

// Reverted in the order applied: a.txt goes back, b.txt cannot, and c.txt is not tried.
TEST_F(RevertPatchesTest, ARevertStopsAtItsFirstFailure) {
  Pairs({L"a.txt", L"b.txt", L"c.txt"});
  ASSERT_EQ(PatchFiles(run_), S_OK);
  FileLock lock(Game(L"b.txt"));
  EXPECT_EQ(RevertPatches(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  lock.Release();
  EXPECT_TRUE(Has(log_.Text(),
                  "Failed trying to revert patch file \"b.txt\", HResult 0x80070020, error 32 " +
                      LoggedSystemMessage(32)))
      << log_.Text();
  EXPECT_EQ(Contents({Game(L"a.txt"), Game(L"b.txt"), Game(L"c.txt"), Backup(L"a.txt")}),
            "old a.txt|new b.txt|new c.txt|-|");
}

}  // namespace
}  // namespace quorvel::test
