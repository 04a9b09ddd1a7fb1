#include "patch/apply/patch_files.h"

#include "patch/apply/revert_patches.h"
#include "patch/journal/run_journal.h"

#include <memory>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

// A lock that the retry pause can let go of, or take.
std::unique_ptr<FileLock> g_lock;
void ReleaseLock() { g_lock->Release(); }

class PatchFilesTest : public PatchTest {
 protected:
  ~PatchFilesTest() override { g_lock.reset(); }
};

// A file applied in the first attempt is not processed again; a new file gets its folders and
// a name in neither folder is applied as nothing.
TEST_F(PatchFilesTest, AFileLockedByAnotherProcessFailsOnceAndSucceedsOnTheRetry) {
  Pairs({L"a.txt", L"b.txt"});
  WriteFileBytes(Patch(L"new\\nested\\c.txt"), "new c");
  run_.files.insert(run_.files.end(),
                    {SharedWString(L"new\\nested\\c.txt"), SharedWString(L"none")});
  g_lock = std::make_unique<FileLock>(Game(L"b.txt"));
  betweenAttempts = ReleaseLock;
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Game(L"a.txt"), Game(L"b.txt"), Backup(L"b.txt"), Game(L"new\\nested\\c.txt"),
                      Patch(L"new"), Backup(L"new")}),
            "new a.txt|new b.txt|old b.txt|new c|-|-|");
  EXPECT_EQ(Count(log_.Text(), "Copying up \"" + Utf8(Patch(L"a.txt"))), 1u);
}

// The old file is put back after the failed copy, and the retry keeps the backup this run wrote
// rather than back up what now stands at the target.
// Under Wine a host program is not bound by the run's hold on a folder. One that removes the game
// folder a file has just left makes the run's move go by path into the folder made again there,
// where a failed run's revert still finds the new file and takes it back before the old one.
std::wstring g_game;
unsigned g_records = 0;
DWORD RemoveGameFolderAtThirdRecord(unsigned) {
  if (++g_records == 3) {
    EXPECT_TRUE(OnHost(g_game, L"rmdir d"));
  }
  return ERROR_SUCCESS;
}

TEST_F(PatchFilesTest, AHeldGameFolderRemovedByAHostProgramLosesNoFileInTheRevert) {
  Pairs({L"d\\e.txt", L"z.txt"});
  g_lock = std::make_unique<FileLock>(Patch(L"z.txt"));
  g_game = At(L"Game"), g_records = 0;
  SetJournalHook(RemoveGameFolderAtThirdRecord);
  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Contents({Game(L"d\\e.txt"), Patch(L"d\\e.txt"), Backup(L"d\\e.txt")}),
            "old d\\e.txt|new d\\e.txt|-|");
}

// A new file that another program keeps from moving (it shares reading only) is copied up and
// stays in the patch folder, which the log says; the same command again knows the patch applied
// instead of taking the other names for files the patch deletes, and a next patch is applied.
TEST_F(PatchFilesTest, ANewFileCopiedUpAndLeftInThePatchFolderLeavesTheSameCommandARepeat) {
  Pairs({L"a.txt", L"b.txt"});
  const NameList names = run_.files;
  {
    const ScopedFileHandle reader(CreateFileW(Patch(L"b.txt").c_str(), GENERIC_READ,
                                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(PatchFiles(run_), S_OK);
  }
  EXPECT_PRED2(Has, log_.Text(), "Could not remove \"" + Utf8(Patch(L"b.txt")) + "\", copied up");
  run_.files = names, run_.appliedFiles.clear();
  log_.Clear();
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(log_.Text(), "The patch of this list is already applied: nothing to do\r\n");
  EXPECT_EQ(Contents({Game(L"a.txt"), Game(L"b.txt"), Backup(L"a.txt"), Backup(L"b.txt")}),
            "new a.txt|new b.txt|old a.txt|old b.txt|");
  // A next patch of the same size and time is still a new one.
  WIN32_FILE_ATTRIBUTE_DATA left = {};
  GetFileAttributesExW(Patch(L"b.txt").c_str(), GetFileExInfoStandard, &left);
  WriteFileBytes(Patch(L"b.txt"), "NEW B.TXT");
  {
    const ScopedFileHandle next(CreateFileW(Patch(L"b.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(SetFileTime(next.Get(), nullptr, nullptr, &left.ftLastWriteTime));
  }
  run_.files = {L"b.txt"}, run_.appliedFiles.clear();
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Game(L"b.txt"), Backup(L"b.txt")}), "NEW B.TXT|new b.txt|");
}

TEST_F(PatchFilesTest, ARetryAfterAFailedCopyKeepsTheBackupItWroteAndFinishesTheFile) {
  Pairs({L"a.txt"});
  g_lock = std::make_unique<FileLock>(Patch(L"a.txt"));
  betweenAttempts = ReleaseLock;
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Game(L"a.txt"), Backup(L"a.txt"), Patch(L"a.txt")}),
            "new a.txt|old a.txt|-|");
  EXPECT_PRED2(Has, log_.Text(),
               "Keeping \"" + Utf8(Backup(L"a.txt")) + "\", backed up earlier in this run\r\n");
}

// The reverted run then leaves no copy of the old file that it kept for the retries, nor the
// backup folders it made; a game file changed since keeps its backup, the only copy of it.
std::wstring g_changed;
unsigned g_seen = 0;
DWORD ChangeGameFileAtTheClosingRecord(unsigned) {
  // The draft, the first attempt's three steps, the others' two each, then the closing record.
  if (++g_seen == 13 && !g_changed.empty()) {
    WriteFileBytes(g_changed, "changed");
  }
  return ERROR_SUCCESS;
}

// A run of names in the folders Game, Patch and Backup below root, each file laid in the first
// two as "old" and "new".
void LayRun(PatchRun& run, const std::wstring& root, const std::wstring& backup,
            std::initializer_list<const wchar_t*> names) {
  run.patchDirectory = (root + L"\\Patch").c_str();
  run.applicationDirectory = (root + L"\\Game").c_str();
  run.backupDirectory = (root + L"\\" + backup).c_str();
  for (const wchar_t* name : names) {
    run.files.push_back(SharedWString(name));
    WriteFileBytes(root + L"\\Game\\" + name, "old");
    WriteFileBytes(root + L"\\Patch\\" + name, "new");
  }
}

TEST_F(PatchFilesTest, EveryFailedCopyUpPutsTheOldFileBack) {
  for (const bool changed : {false, true}) {
    const std::wstring root = At(changed ? L"changed" : L"same");
    PatchRun run;
    LayRun(run, root, L"New\\Backup", {L"d\\a.txt"});
    g_lock = std::make_unique<FileLock>(root + L"\\Patch\\d\\a.txt");
    g_changed = changed ? root + L"\\Game\\d\\a.txt" : std::wstring();
    g_seen = 0;
    SetJournalHook(ChangeGameFileAtTheClosingRecord);
    log_.Clear();
    EXPECT_EQ(PatchFiles(run), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Count(log_.Text(), "Restored \"" + Utf8(root) + "\\Game\\d\\a.txt\" from \""), 5u);
    EXPECT_EQ(
        Contents({root + L"\\Game\\d\\a.txt", root + L"\\New\\Backup\\d\\a.txt", root + L"\\New"}),
        changed ? "changed|old||" : "old|-|-|");
  }
}

// A folder that comes to stand at a listed name in any of the run's folders after the checks is
// refused at its move as they refuse it, and stays with all it holds.
std::wstring g_folder;
DWORD MakeFolderAtFirstRecord(unsigned) {
  if (++g_seen == 1) {
    DeleteFileW(g_folder.c_str());
    WriteFileBytes(g_folder + L"\\inner.bin", "inner");
  }
  return ERROR_SUCCESS;
}

TEST_F(PatchFilesTest, AFolderAtANameSinceTheChecksIsRefusedAtItsMoveAndStays) {
  const std::pair<const wchar_t*, const char*> rows[] = {
      {L"Game", "application"}, {L"Patch", "patch"}, {L"Backup", "backup"}};
  for (const auto& row : rows) {
    const std::wstring root = At(std::wstring(L"at") + row.first);
    PatchRun run;
    LayRun(run, root, L"Backup", {L"a.txt", L"data"});
    g_folder = root + L"\\" + row.first + L"\\data";
    g_seen = 0;
    SetJournalHook(MakeFolderAtFirstRecord);
    log_.Clear();
    EXPECT_EQ(PatchFiles(run), E_INVALIDARG) << row.second;
    EXPECT_PRED2(Has, log_.Text(),
                 "Refusing to patch \"data\": it is a folder in the " + std::string(row.second) +
                     " folder\r\n");
    EXPECT_EQ(Contents({g_folder + L"\\inner.bin", root + L"\\Game\\a.txt"}), "inner|old|");
  }
}

// A source folder goes once its last listed file has left it, a folder with a file of its own
// stays; a revert puts back every file and removes the backup folders it emptied.
TEST_F(PatchFilesTest, EmptiedFoldersGoWhenTheirLastListedFileHasLeftOnTheWayUpAndBack) {
  Pairs({L"d\\a.txt", L"d\\e\\b.txt", L"k\\c.txt", L"D\\E\\f.txt", L"x\\a.txt"});
  WriteFileBytes(Patch(L"k\\own.txt"), "own");
  // Its folder is not in the patch folder at all; the folder above it still goes.
  WriteFileBytes(Game(L"x\\y\\gone.txt"), "gone");
  run_.files.push_back(SharedWString(L"x\\y\\gone.txt"));
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Patch(L"d"), Patch(L"x"), Patch(L"k\\own.txt"), Game(L"D\\e\\F.txt")}),
            "-|-|own|new D\\E\\f.txt|");
  EXPECT_EQ(RevertPatches(run_), S_OK);
  EXPECT_EQ(Contents({Backup(L"d"), Backup(L"x"), Game(L"x\\y\\gone.txt"), Patch(L"d\\e\\f.txt"),
                      Game(L"d\\a.txt")}),
            "-|-|gone|new D\\E\\f.txt|old d\\a.txt|");
}

// A '?' cannot stand in a name: the query fails with 123, not "not found", so the game file
// must not be taken for one the patch deletes.
TEST_F(PatchFilesTest, AQueryThatFailsForAnotherReasonThanAMissingFileFailsTheFile) {
  Pairs({L"a.txt"});
  run_.patchDirectory = At(L"Pa?ch").c_str();
  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
  EXPECT_EQ(Contents({Game(L"a.txt"), Backup(L"a.txt")}), "old a.txt|-|");
}

}  // namespace
}  // namespace quorvel::test
