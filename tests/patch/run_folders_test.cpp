// The folders of a run as the journal knows them: a drive letter the prefix has never seen, a
// drive's root, a backup folder shared by two games, and the journal of the largest list.
#include <thread>

#include "cut_short_run.h"
#include "patch/file_list_file.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

// name inside folder, which may be a drive's root (D:\).
std::wstring In(const std::wstring& folder, const std::wstring& name) {
  return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

class RunFoldersTest : public PatchTest {
 protected:
  // Two updated files, one in a folder; a file new in the patch; and a file the patch deletes.
  static void Lay(const std::wstring& game, const std::wstring& patch, const std::string& tag = "") {
    WriteFileBytes(In(game, L"a.txt"), "old a" + tag);
    WriteFileBytes(In(game, L"d\\e.txt"), "old e" + tag);
    WriteFileBytes(In(game, L"gone.txt"), "old gone" + tag);
    WriteFileBytes(In(patch, L"a.txt"), "new a" + tag);
    WriteFileBytes(In(patch, L"d\\e.txt"), "new e" + tag);
    WriteFileBytes(In(patch, L"n\\new.txt"), "new n" + tag);
  }
  static HRESULT Apply(const std::wstring& patch, const std::wstring& game,
                       const std::wstring& backup,
                       const std::vector<std::wstring>& names = {L"a.txt", L"d\\e.txt",
                                                                 L"n\\new.txt", L"gone.txt"}) {
    PatchRun run;
    run.patchDirectory = patch.c_str();
    run.applicationDirectory = game.c_str();
    run.backupDirectory = backup.c_str();
    for (const std::wstring& name : names) {
      run.files.push_back(SharedWString(name.c_str()));
    }
    return PatchFiles(run);
  }
  // What the game and the backup folder hold once the patch is applied.
  static void ExpectApplied(const std::wstring& game, const std::wstring& backup,
                            const std::string& tag = "") {
    EXPECT_EQ(Contents({In(game, L"a.txt"), In(game, L"d\\e.txt"), In(game, L"n\\new.txt"),
                        In(game, L"gone.txt"), In(backup, L"a.txt"), In(backup, L"d\\e.txt"),
                        In(backup, L"gone.txt"), In(backup, L"n\\new.txt")}),
              "new a" + tag + "|new e" + tag + "|new n" + tag + "|-|old a" + tag + "|old e" + tag +
                  "|old gone" + tag + "|-|");
  }
  // The same command again is known for what it is and changes no byte below root.
  void ExpectRepeat(const std::wstring& root, const std::wstring& patch, const std::wstring& game,
                    const std::wstring& backup) {
    const std::string applied = TreeFingerprint(root);
    log_.Clear();
    EXPECT_EQ(Apply(patch, game, backup), S_OK);
    EXPECT_EQ(log_.Text(), "The patch of this list is already applied: nothing to do\r\n");
    EXPECT_EQ(TreeFingerprint(root), applied);
  }
};

TEST_F(RunFoldersTest, TheSameRunThroughADriveLetterNewToThePrefixIsAlreadyApplied) {
  Lay(At(L"game"), At(L"game\\Patch"));
  ASSERT_EQ(Apply(At(L"game\\Patch"), At(L"game"), At(L"game\\Backup")), S_OK);
  ExpectApplied(At(L"game"), At(L"game\\Backup"));
  const DriveLetter drive(Dir());
  ASSERT_FALSE(drive.Root().empty());
  ExpectRepeat(Dir(), drive.Root() + L"game\\Patch", drive.Root() + L"game",
               drive.Root() + L"game\\Backup");
}

// Folders at and directly below a drive's root: a backup folder the run makes there, also two
// levels deep, and a game or patch folder that is the root itself.
TEST_F(RunFoldersTest, FoldersAtADriveRootArePatchedAndTheSameRunAgainIsKnown) {
  CreateDirectoryW(At(L"root-patch").c_str(), nullptr);
  CreateDirectoryW(At(L"root-game").c_str(), nullptr);
  const DriveLetter drive(Dir());
  const DriveLetter patchDrive(At(L"root-patch"));
  const DriveLetter gameDrive(At(L"root-game"));
  ASSERT_FALSE(drive.Root().empty() || patchDrive.Root().empty() || gameDrive.Root().empty());
  const std::wstring d = drive.Root();
  const struct {
    std::wstring patch, game, backup;
  } runs[] = {{d + L"g1\\Patch", d + L"g1", d + L"NewBackup"},
              {d + L"g2\\Patch", d + L"g2", d + L"A\\B"},
              {patchDrive.Root(), d + L"g3", d + L"g3\\Backup"},
              {d + L"root-game\\Patch", gameDrive.Root(), gameDrive.Root() + L"Backup"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(Utf8(run.patch + L" " + run.game + L" " + run.backup));
    Lay(run.game, run.patch);
    log_.Clear();
    ASSERT_EQ(Apply(run.patch, run.game, run.backup), S_OK) << log_.Text();
    ExpectApplied(run.game, run.backup);
    ExpectRepeat(Dir(), run.patch, run.game, run.backup);
  }
}

// Two games share one backup folder: a run of one game cut short keeps the folder from the
// other's runs until the same command has finished it, and two runs at once take turns.
TEST_F(RunFoldersTest, ABackupFolderSharedByTwoGamesIsUsedByOneRunAtATime) {
  const std::wstring backup = At(L"Shared"), lock = In(backup, kJournalName) + L".lock";
  Lay(At(L"g1"), At(L"g1\\Patch"), "1");
  Lay(At(L"g2"), At(L"g2\\Patch"), "2");
  // Cut short just before game 1's a.txt is copied up: its old one is only in the backup folder.
  HelperProcess cut;
  ASSERT_TRUE(cut.Start(L"cut_short_run.exe", L"3 \"" + At(L"g1\\Patch") + L"\" \"" + At(L"g1") +
                                                  L"\" \"" + backup + L"\" a.txt d\\e.txt n\\new.txt gone.txt") &&
              cut.WaitForExit(60000));
  ASSERT_EQ(ReadFileBytes(In(backup, L"a.txt")), "old a1");
  const std::string cutShort = TreeFingerprint(Dir());
  log_.Clear();
  EXPECT_EQ(Apply(At(L"g2\\Patch"), At(L"g2"), backup), kJournalDisagrees);
  EXPECT_TRUE(Has(log_.Text(), "Refusing to patch: the backup folder <" + Utf8(backup) +
                                   "> holds files that a run cut short")) << log_.Text();
  EXPECT_EQ(TreeFingerprint(Dir()), cutShort);
  EXPECT_EQ(Apply(At(L"g1\\Patch"), At(L"g1"), backup), S_OK);
  ExpectApplied(At(L"g1"), backup, "1");
  // Game 2's run waits while another run holds the folder, then goes on.
  auto held = std::make_unique<FileLock>(lock);
  ASSERT_TRUE(held->Held());
  std::thread release([&] { Sleep(1500), held->Release(); });
  log_.Clear();
  EXPECT_EQ(Apply(At(L"g2\\Patch"), At(L"g2"), backup), S_OK);
  release.join();
  EXPECT_TRUE(Has(log_.Text(), "Waiting for the run that uses the backup folder <" +
                                   Utf8(backup) + "> to end\r\n")) << log_.Text();
  ExpectApplied(At(L"g2"), backup, "2");
  EXPECT_EQ(Contents({At(L"g1\\a.txt"), At(L"g1\\d\\e.txt"), At(L"g1\\n\\new.txt")}),
            "new a1|new e1|new n1|");
}

unsigned g_firstRecord = 0;
// Every record after a run's draft finds the disk full: the run stops before its first step.
DWORD FullAfterDraft(unsigned record) {
  g_firstRecord = g_firstRecord == 0 ? record : g_firstRecord;
  return record > g_firstRecord ? ERROR_DISK_FULL : ERROR_SUCCESS;
}

// A list file as large as a list may be makes a journal of more than 64 MiB, which the next
// run reads and restores: a file to patch, then names of 32,600 characters that no file system holds.
TEST_F(RunFoldersTest, TheJournalOfALargeListIsReadByTheNextRun) {
  std::string list = "a.txt\r\n";
  for (int i = 0; i < 1040; ++i) {
    list += std::to_string(i) + std::string(32600, 'x') + "\r\n";
  }
  WriteFileBytes(At(L"list.txt"), list);
  WriteFileBytes(Game(L"a.txt"), "old a");
  WriteFileBytes(Patch(L"a.txt"), "new a");
  const std::string before = TreeFingerprint(At(L"Game")) + TreeFingerprint(At(L"Patch"));
  ASSERT_EQ(ReadFileList(At(L"list.txt").c_str(), run_.files), S_OK);
  PatchRun again;
  again.patchDirectory = run_.patchDirectory;
  again.applicationDirectory = run_.applicationDirectory;
  again.backupDirectory = run_.backupDirectory;
  again.files = run_.files;
  SetJournalHook(FullAfterDraft);
  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  ASSERT_GT(ReadFileBytes(Game(kJournalName)).size(), 64u << 20);
  log_.Clear();
  g_firstRecord = 0;
  EXPECT_EQ(PatchFiles(again), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(log_.Text().find("A run was cut short: restoring its 1041 files\r\n"), 0u)
      << log_.Text().substr(0, 300);
  EXPECT_EQ(TreeFingerprint(At(L"Game"), kJournalName) + TreeFingerprint(At(L"Patch")), before);
  EXPECT_FALSE(PathExists(Backup(L"a.txt")));
}

}  // namespace
}  // namespace quorvel::test
