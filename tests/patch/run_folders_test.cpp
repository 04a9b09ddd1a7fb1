// Folders at a drive's root, a backup folder shared by two games, and the journal of the largest
// list: nothing lost, and the same command afterwards completes.
#include <thread>

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
  // Two updated files, one in a folder; a file new in the patch; a file the patch deletes.
  static void Lay(const std::wstring& game, const std::wstring& patch, const std::string& tag) {
    for (const wchar_t* name : {L"a.txt", L"d\\e.txt", L"gone.txt"}) {
      WriteFileBytes(In(game, name), "old " + Utf8(name) + tag);
    }
    for (const wchar_t* name : {L"a.txt", L"d\\e.txt", L"n\\new.txt"}) {
      WriteFileBytes(In(patch, name), "new " + Utf8(name) + tag);
    }
  }
  static HRESULT Apply(const std::wstring& patch, const std::wstring& game,
                       const std::wstring& backup) {
    PatchRun run;
    run.patchDirectory = patch.c_str(), run.applicationDirectory = game.c_str();
    run.backupDirectory = backup.c_str();
    run.files = {L"a.txt", L"d\\e.txt", L"n\\new.txt", L"gone.txt"};
    return PatchFiles(run);
  }
  // Applied, every file where the patch puts it; the same command again then changes nothing.
  void ExpectApplied(const std::wstring& patch, const std::wstring& game,
                     const std::wstring& backup, const std::string& tag) {
    const std::string t = tag + "|";
    EXPECT_EQ(Contents({In(game, L"a.txt"), In(game, L"d\\e.txt"), In(game, L"n\\new.txt"),
                        In(game, L"gone.txt"), In(backup, L"a.txt"), In(backup, L"d\\e.txt"),
                        In(backup, L"gone.txt"), In(backup, L"n\\new.txt")}),
              "new a.txt" + t + "new d\\e.txt" + t + "new n\\new.txt" + t + "-|old a.txt" + t +
                  "old d\\e.txt" + t + "old gone.txt" + t + "-|");
    const std::string applied = TreeFingerprint(Dir());
    log_.Clear();
    EXPECT_EQ(Apply(patch, game, backup), S_OK);
    EXPECT_EQ(log_.Text(), "The patch of this list is already applied: nothing to do\r\n");
    EXPECT_EQ(TreeFingerprint(Dir()), applied);
  }
};

// A backup folder the run makes directly below a drive's root (also two levels deep), and a
// patch or game folder that is the root itself.
TEST_F(RunFoldersTest, FoldersAtADriveRootArePatchedAndTheSameRunAgainIsKnown) {
  CreateDirectoryW(At(L"rp").c_str(), nullptr);
  CreateDirectoryW(At(L"rg").c_str(), nullptr);
  const DriveLetter drive(Dir()), patchRoot(At(L"rp")), gameRoot(At(L"rg"));
  const std::wstring d = drive.Root(), p = patchRoot.Root(), g = gameRoot.Root();
  ASSERT_FALSE(d.empty() || p.empty() || g.empty());
  const std::wstring runs[][3] = {{d + L"g1\\Patch", d + L"g1", d + L"NewBackup"},
                                  {d + L"g2\\Patch", d + L"g2", d + L"A\\B"},
                                  {p, d + L"g3", d + L"g3\\Backup"},
                                  {d + L"rg\\Patch", g, g + L"Backup"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(Utf8(run[0] + L" " + run[1] + L" " + run[2]));
    Lay(run[1], run[0], "");
    ASSERT_EQ(Apply(run[0], run[1], run[2]), S_OK) << log_.Text();
    ExpectApplied(run[0], run[1], run[2], "");
  }
}

// Game 1's run is cut short with its old a.txt only in the shared backup folder: game 2's runs
// are refused, changing nothing, until game 1's command has finished it; then game 2's run waits
// while another run holds the folder, and goes on.
TEST_F(RunFoldersTest, ABackupFolderSharedByTwoGamesIsUsedByOneRunAtATime) {
  const std::wstring backup = At(L"Shared");
  Lay(At(L"g1"), At(L"g1\\Patch"), "1");
  Lay(At(L"g2"), At(L"g2\\Patch"), "2");
  HelperProcess cut;
  ASSERT_TRUE(cut.Start(L"cut_short_run.exe", L"3 \"" + At(L"g1\\Patch") + L"\" \"" + At(L"g1") +
                                                  L"\" \"" + backup +
                                                  L"\" a.txt d\\e.txt n\\new.txt gone.txt") &&
              cut.WaitForExit(60000));
  ASSERT_EQ(ReadFileBytes(In(backup, L"a.txt")), "old a.txt1");
  const std::string cutShort = TreeFingerprint(Dir());
  EXPECT_EQ(Apply(At(L"g2\\Patch"), At(L"g2"), backup), kJournalDisagrees);
  EXPECT_TRUE(Has(log_.Text(), "Refusing to patch: the backup folder <" + Utf8(backup) +
                                   "> holds files that a run cut short on the application"));
  EXPECT_EQ(TreeFingerprint(Dir()), cutShort);
  log_.Clear();
  EXPECT_EQ(Apply(At(L"g1\\Patch"), At(L"g1"), backup), S_OK) << log_.Text();
  ExpectApplied(At(L"g1\\Patch"), At(L"g1"), backup, "1");

  FileLock held(In(backup, kBackupLockName));
  ASSERT_TRUE(held.Held());
  std::thread release([&] { Sleep(1000), held.Release(); });
  EXPECT_EQ(Apply(At(L"g2\\Patch"), At(L"g2"), backup), S_OK);
  release.join();
  EXPECT_TRUE(Has(log_.Text(), "Waiting for the run that uses the backup folder <" + Utf8(backup) +
                                   "> to end\r\n"));
  ExpectApplied(At(L"g2\\Patch"), At(L"g2"), backup, "2");
  EXPECT_EQ(ReadFileBytes(At(L"g1\\a.txt")), "new a.txt1");
}

// A list file near the size a list may have makes a journal of more than 64 MiB, which the next
// run reads and goes on from: names of 32,600 characters that no file system holds, which the
// checks found nowhere (their journal lines are taken from the checks, as a run takes them).
TEST_F(RunFoldersTest, TheJournalOfALargeListIsReadByTheNextRun) {
  std::string list;
  for (int i = 0; i < 1040; ++i) {
    list += std::to_string(i) + std::string(32600, 'x') + "\r\n";
  }
  WriteFileBytes(At(L"list.txt"), list);
  WriteFileBytes(Game(L"a.txt"), "old a");
  CreateDirectoryW(At(L"Patch").c_str(), nullptr);
  ASSERT_EQ(ReadFileList(At(L"list.txt").c_str(), run_.files), S_OK);
  const std::vector<CheckedFile> nowhere(run_.files.size() * 3, CheckedFile{true, {}});
  RunRefusal refusal;
  {
    RunJournal first;
    ASSERT_EQ(first.Start(run_, refusal, &nowhere), S_OK);
    ASSERT_EQ(first.Finish(S_OK), S_OK);
  }
  ASSERT_GT(ReadFileBytes(Game(kJournalName)).size(), 64u << 20);
  const std::string before = TreeFingerprint(At(L"Game"), kJournalName);
  RunJournal next;
  EXPECT_EQ(next.Start(run_, refusal, &nowhere), S_OK) << log_.Text();
  EXPECT_EQ(TreeFingerprint(At(L"Game"), kJournalName), before);
  EXPECT_EQ(ReadFileBytes(Game(L"a.txt")), "old a");
}

}  // namespace
}  // namespace quorvel::test
