#include "patch/revert_patches.h"

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

}  // namespace
}  // namespace quorvel::test
