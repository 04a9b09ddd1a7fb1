// A run cut short at any step, or the same run started again, loses no file; a later run acts on
// the journal only where the disk agrees with it. Folders at a drive's root, a backup folder shared
// by two games, and the journal of the largest list: nothing lost either.
#include <algorithm>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "cut_short_run.h"
#include "files/folder_identity.h"
#include "patch/arguments/file_list_file.h"
#include "patch/checks/run_checks.h"
#include "patch/checks/run_plan.h"
#include "patch/journal/journal_text.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

// Counts the records; from the g_fullAt-th on, fails each as a full disk would.
unsigned g_records = 0, g_fullAt = ~0u;
DWORD CountRecord(unsigned) { return ++g_records >= g_fullAt ? ERROR_DISK_FULL : ERROR_SUCCESS; }

// Two updated files, one in a folder; a file new in the patch; a file the patch deletes; and a
// backup of an earlier patch.
const std::vector<std::wstring> kNames = {L"a.txt", L"d\\e.txt", L"n\\new.txt", L"gone.txt"};

class RunJournalTest : public PatchTest {
 protected:
  std::wstring Lay(const std::wstring& name) {
    const std::wstring root = At(name);
    LayGame(root);
    WriteFileBytes(root + L"\\Backup\\a.txt", "older a");
    // The player's empty folders on the new file's way, which no run removes.
    CreateDirectoryW((root + L"\\n").c_str(), nullptr);
    CreateDirectoryW((root + L"\\Backup\\n").c_str(), nullptr);
    return root;
  }
  // The run of names with its patch folder and backup folder in the game folder game.
  static HRESULT Apply(const std::wstring& game, const wchar_t* backup = L"Backup",
                       const std::vector<std::wstring>& names = kNames) {
    return ApplyIn(game + L"\\Patch", game, game + L"\\" + backup, names);
  }
  static HRESULT ApplyIn(const std::wstring& patch, const std::wstring& game,
                         const std::wstring& backup,
                         const std::vector<std::wstring>& names = kNames) {
    PatchRun run;
    run.patchDirectory = patch.c_str(), run.applicationDirectory = game.c_str();
    run.backupDirectory = backup.c_str();
    for (const std::wstring& name : names) {
      run.files.push_back(SharedWString(name.c_str()));
    }
    return PatchFiles(run);
  }
  // The fingerprint of a game the run has patched.
  std::string Applied() {
    EXPECT_EQ(Apply(Lay(L"reference")), S_OK);
    return TreeFingerprint(At(L"reference"), kJournalName);
  }
  // Runs cut_short_run.exe over names, cut at record (see cut_short_run.h); its exit code.
  static DWORD CutShort(const std::wstring& record, const std::wstring& patch,
                        const std::wstring& game, const std::wstring& backup,
                        const std::vector<std::wstring>& names = kNames) {
    std::wstring arguments = record + L" \"" + patch + L"\" \"" + game + L"\" \"" + backup + L"\"";
    for (const std::wstring& name : names) {
      arguments += L" " + name;
    }
    HelperProcess run;
    EXPECT_TRUE(run.Start(L"cut_short_run.exe", arguments) && run.WaitForExit(60000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(run.Handle(), &code);
    return code;
  }
  static DWORD CutShort(const std::wstring& root, unsigned record) {
    return CutShort(std::to_wstring(record), root + L"\\Patch", root, root + L"\\Backup");
  }
  // path in capitals with forward slashes: the same folder to the file system.
  static std::wstring Respelt(std::wstring path) {
    for (wchar_t& ch : path) {
      ch = ch == L'\\' ? L'/' : towupper(ch);
    }
    return path;
  }
  // The journal of the game at root with from replaced by to, or cut after from.
  static void EditJournal(const std::wstring& root, const std::wstring& from, const wchar_t* to) {
    const std::string bytes = ReadFileBytes(root + L"\\" + kJournalName);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    ASSERT_NE(text.find(from), std::wstring::npos);
    to != nullptr ? text.replace(text.find(from), from.size(), to)
                  : text.erase(text.find(from) + from.size());
    WriteFileBytes(root + L"\\" + kJournalName,
                   std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  }
};

TEST_F(RunJournalTest, ARunCutShortAtAnyStepIsFinishedByTheSameCommand) {
  const std::string applied = Applied();
  // Cut short: a run that applies every file; one that fails on the locked new file and
  // reverts the two files before it; and the restore of a run cut short just before its end.
  enum Scenario { kApplying, kReverting, kRestoring };
  for (Scenario scenario : {kApplying, kReverting, kRestoring}) {
    SCOPED_TRACE(scenario);
    const bool locked = scenario == kReverting;
    std::unique_ptr<FileLock> lock;
    // A game laid out, its new file held for the reverting run, cut short for the restoring one.
    const auto lay = [&](const std::wstring& name) {
      const std::wstring root = Lay(name);
      lock = locked ? std::make_unique<FileLock>(root + L"\\Patch\\n\\new.txt") : nullptr;
      EXPECT_TRUE(!locked || lock->Held());
      EXPECT_TRUE(scenario != kRestoring || CutShort(root, 14) == kCutShortExitCode);
      return root;
    };
    const std::wstring counted = lay(L"count" + std::to_wstring(scenario));
    g_records = 0;
    SetJournalHook(CountRecord);
    EXPECT_EQ(SUCCEEDED(Apply(counted)), !locked);
    SetJournalHook(nullptr);
    // The draft, each file's steps and the closing record; a restore records two steps of
    // each file it moves back, one when the file is done and its own closing record.
    const unsigned records[] = {14, 20, 24};
    ASSERT_EQ(g_records, records[scenario]);
    for (unsigned record = 1; record <= (scenario == kRestoring ? 11 : g_records); ++record) {
      SCOPED_TRACE(record);
      const std::wstring root = lay(L"cut" + std::to_wstring(scenario) + std::to_wstring(record));
      ASSERT_EQ(CutShort(root, record), kCutShortExitCode);
      lock.reset();
      // Restored, and cut before its own run began.
      EXPECT_TRUE(scenario != kRestoring || record < 11 ||
                  (PathExists(root + L"\\n") && PathExists(root + L"\\Backup\\n")));
      log_.Clear();

      EXPECT_EQ(Apply(root), S_OK);

      EXPECT_EQ(TreeFingerprint(root, kJournalName), applied);
      // Cut at its draft, a run has begun no journal and changed nothing.
      const bool begun = record > 1 || scenario == kRestoring;
      EXPECT_EQ(log_.Text().find("A run was cut short: restoring its 4 files\r\n"),
                begun ? 0u : std::string::npos);
      EXPECT_EQ(Has(log_.Text(), "Restored the run that was cut short\r\n"), begun) << log_.Text();
    }
  }
}

// Names whose game paths pass 260 characters, one of them near 1,000: a run cut short between
// the two moves of the longer is restored by the next run, which then applies the patch.
TEST_F(RunJournalTest, ARunCutShortOnPathsPast260CharactersIsRestoredByTheNextRun) {
  const std::vector<std::wstring> names = {LongName(At(L"Game"), 300), LongName(At(L"Game"), 1000)};
  Pairs({names[0].c_str(), names[1].c_str()});
  ASSERT_EQ(CutShort(L"6", At(L"Patch"), At(L"Game"), At(L"Backup"), names), kCutShortExitCode);

  EXPECT_EQ(PatchFiles(run_), S_OK);

  EXPECT_EQ(Contents({Backup(names[1]), Patch(names[1])}), "old " + Utf8(names[1]) + "|-|");
  EXPECT_EQ(log_.Text().find("A run was cut short: restoring its 2 files\r\n"), 0u) << log_.Text();
}

// Cut short with a.txt and d\e.txt applied and the new file moved in: whatever happens to the
// folders before the next run, that run either finishes the cut run or changes nothing at all.
TEST_F(RunJournalTest, ALaterRunFindsTheCutRunThroughTheGameAndActsOnlyWhereTheDiskAgrees) {
  const std::string applied = Applied();
  WriteFileBytes(At(L"victim.txt"), "elsewhere");
  const struct {
    const wchar_t* what;
    const wchar_t* backup;
    HRESULT result;
    void (*upset)(std::wstring& root);
  } cases[] = {
      {L"dated backup folder", L"Backup2", kJournalDisagrees, [](std::wstring&) {}},
      {L"backup emptied", L"Backup", kJournalDisagrees,
       [](std::wstring& r) { DeleteFileW((r + L"\\Backup\\a.txt").c_str()); }},
      {L"game moved", L"Backup", kJournalDisagrees,
       [](std::wstring& r) {
         ASSERT_TRUE(MoveFileW(r.c_str(), (r + L"moved").c_str()));
         r += L"moved";
       }},
      {L"same folders spelt otherwise", L"BACKUP\\", S_OK, [](std::wstring&) {}},
      {L"newer download", L"Backup", kJournalDisagrees,
       [](std::wstring& r) { WriteFileBytes(r + L"\\Patch\\a.txt", "newer a"); }},
      {L"file of the game", L"Backup", kJournalDisagrees,
       [](std::wstring& r) { WriteFileBytes(r + L"\\n\\new.txt", "game's"); }},
      {L"planted name", L"Backup", kJournalDisagrees,
       [](std::wstring& r) { EditJournal(r, L"\tgone.txt\n", L"\t..\\victim.txt\n"); }},
      {L"planted folder", L"Backup", kJournalDisagrees,
       [](std::wstring& r) { EditJournal(r, L"\\Patch\n", L"\\Elsewhere\n"); }},
      {L"journal cut back to its start", L"Backup", kJournalDisagrees,
       [](std::wstring& r) { EditJournal(r, L"begun\n", nullptr); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.what));
    std::wstring root = Lay(c.what);
    ASSERT_EQ(CutShort(root, 10), kCutShortExitCode);
    c.upset(root);
    const std::string before = TreeFingerprint(Dir());

    EXPECT_EQ(Apply(SUCCEEDED(c.result) ? Respelt(root) : root, c.backup), c.result);

    // Finished, or nothing anywhere changed.
    EXPECT_EQ(SUCCEEDED(c.result) ? TreeFingerprint(root, kJournalName) : TreeFingerprint(Dir()),
              SUCCEEDED(c.result) ? applied : before);
  }
}

// A record that cannot be written (the test seam fails it as a full disk would) stops the run
// before its step and reverts it; the same command once there is room applies the patch.
TEST_F(RunJournalTest, ARecordThatCannotBeWrittenStopsAndRevertsTheRun) {
  const std::string applied = Applied();
  // The draft; a copy-up, an applied file, a removal; the closing record. As after any failed
  // run, the backup of an earlier patch is gone once the run has cleared it.
  for (unsigned record : {1u, 4u, 5u, 12u, 14u}) {
    SCOPED_TRACE(record);
    const std::wstring root = Lay(L"full" + std::to_wstring(record));
    const std::string laid = TreeFingerprint(root, kJournalName);
    g_records = 0;
    g_fullAt = record;
    SetJournalHook(CountRecord);
    EXPECT_EQ(Apply(root), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    SetJournalHook(nullptr), g_fullAt = ~0u;
    EXPECT_EQ(TreeFingerprint(root, kJournalName),
              record < 3 ? laid : Replaced(laid, "Backup\\a.txt=older a\n", ""));

    EXPECT_EQ(Apply(root), S_OK);
    EXPECT_EQ(TreeFingerprint(root, kJournalName), applied);
  }
}

// A damaged journal is kept aside and every run refused that could lose a file, the launcher's
// plain retry included; the guide's way out (the whole patch again, a new backup folder) patches
// the game and keeps every old file. A journal that cannot be opened or replaced refuses too.
TEST_F(RunJournalTest, ADamagedJournalIsKeptAsideAndTheWayOutLosesNothing) {
  const std::wstring root = Lay(L"game");
  ASSERT_EQ(CutShort(root, 10), kCutShortExitCode);
  const std::string cut = TreeFingerprint(root, kJournalName);
  const std::string bytes = ReadFileBytes(root + L"\\" + kJournalName);
  WriteFileBytes(root + L"\\" + kJournalName, bytes.substr(0, 40));

  EXPECT_EQ(Apply(root), kJournalDamaged);
  EXPECT_EQ(TreeFingerprint(root, kJournalDamagedName), cut);
  EXPECT_EQ(ReadFileBytes(root + L"\\" + kJournalDamagedName), bytes.substr(0, 40));
  const std::string aside = TreeFingerprint(root);
  EXPECT_EQ(Apply(root), kJournalDamaged);
  EXPECT_EQ(TreeFingerprint(root), aside);

  LayGame(root);
  WriteFileBytes(root + L"\\Patch\\gone.txt", "new gone");
  EXPECT_EQ(Apply(root, L"Backup2"), S_OK);
  EXPECT_EQ(Contents({root + L"\\a.txt", root + L"\\d\\e.txt", root + L"\\Backup\\a.txt",
                      root + L"\\Backup\\d\\e.txt", root + L"\\Backup2\\gone.txt"}),
            "new a|new e|old a|old e|old gone|");

  // Read-only: not replaced; a folder: kept aside like a damaged journal.
  const std::wstring journal = root + L"\\" + kJournalName;
  WriteFileBytes(root + L"\\Patch\\a.txt", "newer a");
  SetFileAttributesW(journal.c_str(), FILE_ATTRIBUTE_READONLY);
  std::string before = TreeFingerprint(root);
  EXPECT_EQ(Apply(root, L"Backup3"), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(TreeFingerprint(root), before);
  SetFileAttributesW(journal.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(DeleteFileW(journal.c_str()));
  before = TreeFingerprint(root);
  ASSERT_TRUE(CreateDirectoryW(journal.c_str(), nullptr));
  EXPECT_EQ(Apply(root, L"Backup3"), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(RemoveDirectoryW((journal + L".damaged-2").c_str()));
  EXPECT_EQ(TreeFingerprint(root), before);
}

// The last successful run again, in any spelling or order or only in part, changes nothing; a
// later patch applies the files it brings and deletes a listed name that has none, whatever the
// journal says.
TEST_F(RunJournalTest, TheSameRunAgainInAnyFormIsKnownFromTheDisk) {
  const std::wstring root = Lay(L"game");
  WriteFileBytes(root + L"\\Patch\\d\\\u00E9t\u00E9.dat", "new \u00E9t\u00E9");
  std::vector<std::wstring> names = kNames;
  names.push_back(L"d\\\u00E9t\u00E9.dat");
  ASSERT_EQ(Apply(root, L"Backup", names), S_OK);
  const std::string applied = TreeFingerprint(root);
  // A letter defined after the run, which final paths then carry, the first time it is used.
  const DriveLetter newDrive(Dir());
  ASSERT_FALSE(newDrive.Root().empty());
  const std::vector<std::wstring> reversed(names.rbegin(), names.rend());
  const std::vector<std::wstring> half(names.begin(), names.begin() + 2);
  std::vector<std::wstring> respelt;  // capitals and forward slashes
  for (const std::wstring& name : names) {
    respelt.push_back(Respelt(name));
  }
  const struct {
    std::wstring game;
    const std::vector<std::wstring>& files;
  } repeats[] = {
      {newDrive.Root() + L"game", names}, {root, reversed},         {root, half}, {root, respelt},
      {L"\\\\?\\" + root, names},         {Respelt(root), reversed}};
  for (const auto& repeat : repeats) {
    SCOPED_TRACE(Utf8(repeat.game + L" | " + repeat.files.front()));
    log_.Clear();
    EXPECT_EQ(Apply(repeat.game, L"Backup", repeat.files), S_OK);
    EXPECT_EQ(TreeFingerprint(root), applied);
    EXPECT_EQ(log_.Text(), "The patch of this list is already applied: nothing to do\r\n");
  }
  WriteFileBytes(root + L"\\Patch\\a.txt", "fixed a");
  EXPECT_EQ(Apply(root, L"Backup", {L"a.txt", L"n\\new.txt"}), S_OK);
  EXPECT_EQ(Contents({root + L"\\a.txt", root + L"\\Backup\\a.txt", root + L"\\n\\new.txt",
                      root + L"\\Backup\\n\\new.txt"}),
            "fixed a|new a|-|new n|");
}

// A folder's number names it only within its volume (every NTFS root has one and the same): a
// journal's folder with the run's folder's number is the run's only when it is the folder held.
TEST_F(RunJournalTest, AFolderIsTheJournalsByItsNumberOnlyWhereItIsTheFolderHeld) {
  CreateDirectoryW(At(L"Mine").c_str(), nullptr);
  CreateDirectoryW(At(L"Other").c_str(), nullptr);
  PlanFolder mine;
  mine.full = At(L"Mine").c_str();
  HoldPlanFolder(mine);
  EXPECT_TRUE(IsJournalFolder(mine, (L"\\\\?\\" + At(L"Mine")).c_str(), mine.identity));
  mine.identity = FileIndexOf(At(L"Other").c_str());  // as if two volumes numbered them alike
  EXPECT_FALSE(IsJournalFolder(mine, At(L"Other").c_str(), mine.identity));
}

// The same command through the path finishes a run cut short through a drive letter removed
// since, and one cut short after it waited for the backup folder while the game rewrote a file
// and made a folder on a new file's way (which the restore leaves).
TEST_F(RunJournalTest, ARunCutShortThroughALetterGoneSinceOrAfterAWaitIsFinished) {
  for (const bool wait : {false, true}) {
    SCOPED_TRACE(wait ? "wait" : "letter");
    const std::wstring root = Lay(wait ? L"wait" : L"letter");
    DWORD code = STILL_ACTIVE;
    if (!wait) {
      const DriveLetter letter(Dir());
      ASSERT_FALSE(letter.Root().empty());
      code = CutShort(letter.Root() + L"letter", 4);
    } else {
      RemoveDirectoryW((root + L"\\n").c_str());
      WriteFileBytes(root + L"\\Backup\\" + kBackupLockName, "");
      auto held = std::make_unique<FileLock>(root + L"\\Backup\\" + kBackupLockName);
      HelperProcess cut;
      ASSERT_TRUE(cut.Start(L"cut_short_run.exe", L"3 \"" + root + L"\\Patch\" \"" + root +
                                                      L"\" \"" + root +
                                                      L"\\Backup\" a.txt n\\new.txt"));
      EXPECT_FALSE(cut.WaitForExit(1500));  // waiting for the backup folder
      WriteFileBytes(root + L"\\a.txt", "the player's a");
      CreateDirectoryW((root + L"\\n").c_str(), nullptr);
      held.reset();
      ASSERT_TRUE(cut.WaitForExit(60000));
      GetExitCodeProcess(cut.Handle(), &code);
    }
    ASSERT_EQ(code, kCutShortExitCode);

    EXPECT_EQ(Apply(root, L"Backup", wait ? std::vector<std::wstring>{L"a.txt"} : kNames), S_OK)
        << log_.Text();

    EXPECT_EQ(Contents({root + L"\\a.txt", root + L"\\Backup\\a.txt", root + L"\\n\\new.txt"}),
              wait ? "new a|the player's a|-|" : "new a|old a|new n|");
    EXPECT_TRUE(PathExists(root + L"\\n"));  // the game's own, in the wait
  }
}

// Between volumes (a folder on another file system, as another drive letter) a file is copied:
// a copy cut short part-way, in the backup folder or in the game, or once complete but before
// the game's file went, is cleaned up by the same command, which then completes.
TEST_F(RunJournalTest, ACopyToAnotherVolumeCutShortIsFinishedByTheSameCommand) {
  const ScopedTempDir other(L"Z:\\dev\\shm");  // tmpfs, not the disk of the temporary folder
  const std::string big(kLargeFileBytes, 'x');
  const struct {
    bool patchElsewhere;  // else the backup folder is on the other volume
    const wchar_t* cut;   // the record; with @, cut when the copy to the big file is part-way
  } cases[] = {{false, L"2@"}, {true, L"3@"}, {false, L"3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const std::wstring row = std::to_wstring(&c - cases), game = At(row) + L"\\Game";
    const std::wstring patch = (c.patchElsewhere ? other / row : At(row)) + L"\\Patch";
    const std::wstring backup = (c.patchElsewhere ? At(row) : other / row) + L"\\Backup";
    WriteFileBytes(game + L"\\big.bin", c.patchElsewhere ? "old" : big);
    WriteFileBytes(patch + L"\\big.bin", c.patchElsewhere ? big : "new");
    const std::wstring watched = wcschr(c.cut, L'@') ? (c.patchElsewhere ? game : backup) : L"";
    ASSERT_EQ(CutShort(c.cut + watched + (watched.empty() ? L"" : L"\\big.bin"), patch, game,
                       backup, {L"big.bin"}),
              kCutShortExitCode);

    EXPECT_EQ(ApplyIn(patch, game, backup, {L"big.bin"}), S_OK);

    const std::string shown = Replaced(TreeFingerprint(game, kJournalName) + "|" +
                                           TreeFingerprint(patch) + "|" + TreeFingerprint(backup),
                                       big, "<big>");
    EXPECT_TRUE(shown == (c.patchElsewhere ? "big.bin=<big>\n||big.bin=old\n"
                                           : "big.bin=new\n||big.bin=<big>\n"))
        << shown.substr(0, 300);
  }
}

// name inside folder, which may be a drive's root (D:\).
std::wstring In(const std::wstring& folder, const std::wstring& name) {
  return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

class RunFoldersTest : public RunJournalTest {
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
    EXPECT_EQ(ApplyIn(patch, game, backup), S_OK);
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
    ASSERT_EQ(ApplyIn(run[0], run[1], run[2]), S_OK) << log_.Text();
    ExpectApplied(run[0], run[1], run[2], "");
  }
}

// Game 1's run is cut short with its old a.txt only in the shared backup folder: game 2's runs
// are refused, changing nothing, until game 1's command has finished it; then game 2's run waits
// while another run holds the folder, and goes on.
TEST_F(RunFoldersTest, ABackupFolderSharedByTwoGamesIsUsedByOneRunAtATime) {
  const std::wstring backup = At(L"Shared"), g1 = At(L"g1"), g2 = At(L"g2");
  Lay(g1, g1 + L"\\Patch", "1");
  Lay(g2, g2 + L"\\Patch", "2");
  ASSERT_EQ(CutShort(L"3", g1 + L"\\Patch", g1, backup), kCutShortExitCode);
  ASSERT_EQ(ReadFileBytes(In(backup, L"a.txt")), "old a.txt1");
  const std::string cutShort = TreeFingerprint(Dir());
  EXPECT_EQ(ApplyIn(g2 + L"\\Patch", g2, backup), kJournalDisagrees);
  EXPECT_TRUE(Has(log_.Text(), "Refusing to patch: the backup folder <" + Utf8(backup) +
                                   "> holds files that a run cut short on the application"));
  EXPECT_EQ(TreeFingerprint(Dir()), cutShort);
  log_.Clear();
  EXPECT_EQ(ApplyIn(g1 + L"\\Patch", g1, backup), S_OK) << log_.Text();
  ExpectApplied(g1 + L"\\Patch", g1, backup, "1");

  FileLock held(In(backup, kBackupLockName));
  ASSERT_TRUE(held.Held());
  std::thread release([&] { Sleep(1000), held.Release(); });
  EXPECT_EQ(ApplyIn(g2 + L"\\Patch", g2, backup), S_OK);
  release.join();
  EXPECT_TRUE(Has(log_.Text(), "Waiting for the run that uses the backup folder <" + Utf8(backup) +
                                   "> to end\r\n"));
  ExpectApplied(g2 + L"\\Patch", g2, backup, "2");
  EXPECT_EQ(ReadFileBytes(In(g1, L"a.txt")), "new a.txt1");
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
  RunPlan plan;
  plan.Describe(run_.patchDirectory, run_.applicationDirectory, run_.backupDirectory, run_.files);
  RunRefusal refusal;
  ASSERT_EQ(LocateRunFolders(plan, refusal), S_OK);
  for (PlannedName& planned : plan.Names()) {
    std::fill(std::begin(planned.found), std::end(planned.found), CheckedFile{true, {}});
  }
  {
    RunJournal first;
    ASSERT_EQ(first.Start(run_, plan, refusal), S_OK);
    ASSERT_EQ(first.Finish(S_OK), S_OK);
  }
  ASSERT_GT(ReadFileBytes(Game(kJournalName)).size(), 64u << 20);
  const std::string before = TreeFingerprint(At(L"Game"), kJournalName);
  RunJournal next;
  EXPECT_EQ(next.Start(run_, plan, refusal), S_OK) << log_.Text();
  EXPECT_EQ(TreeFingerprint(At(L"Game"), kJournalName), before);
  EXPECT_EQ(ReadFileBytes(Game(L"a.txt")), "old a");
}

}  // namespace
}  // namespace quorvel::test
