// Links below the run's folders and a link put in during a retry pause: nothing outside the
// three folders changes, and the launcher is told.
#include "patch/checks/names_inside.h"

#include <memory>

#include "patch/journal/run_journal.h"
#include "patch/launcher/game_lock.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

class NamesInsideTest : public PatchTest {
 protected:
  void ExpectTold(const std::string& name) {
    EXPECT_EQ(Variable(L"QUORVEL_FILENAME"), name);
    EXPECT_EQ(Count(log_.Text(), "Refusing to patch \"" + name + "\": "), 1u) << log_.Text();
  }
  // Aims run at Game, Patch and Backup below root (which ends in a backslash) and lists each
  // name with an old file in the game and a new one in the patch; Outside\version.dll is the
  // file that links lead to.
  static void Lay(PatchRun& run, const std::wstring& root,
                  std::initializer_list<const wchar_t*> names) {
    run.patchDirectory = (root + L"Patch").c_str();
    run.applicationDirectory = (root + L"Game").c_str();
    run.backupDirectory = (root + L"Backup").c_str();
    for (const wchar_t* name : names) {
      run.files.push_back(SharedWString(name));
      WriteFileBytes(root + L"Game\\" + name, "old " + Utf8(name));
      WriteFileBytes(root + L"Patch\\" + name, "new " + Utf8(name));
    }
    WriteFileBytes(root + L"Outside\\version.dll", "outside");
  }
};

// A file with a second name in the game or patch folder is only moved, which leaves its other
// name alone: the run goes on. A link to a file, which Wine does not list as one, is found at its
// move: the run stops there and is reverted. The journal, its draft and the locks are opened as
// themselves, and none is made through a link to nothing.
TEST_F(NamesInsideTest, AWayThroughALinkBelowAnyFolderIsRefusedWithNothingOutsideChanged) {
  const struct {
    const wchar_t* folder;
    const wchar_t* at;
    const wchar_t* target;  // none: a hard link
    HRESULT result;
  } cases[] = {{L"Game", L"bin", L"../Outside", E_INVALIDARG},
               {L"Backup", L"bin", L"../Outside", E_INVALIDARG},
               {L"Backup", L"bin\\version.dll", L"../../Outside/version.dll", E_INVALIDARG},
               {L"Backup", L"bin\\version.dll", nullptr, E_INVALIDARG},
               {L"Patch", L"bin\\version.dll", L"../../Outside/version.dll", E_INVALIDARG},
               {L"Game", L"bin\\version.dll", L"../../Outside/version.dll", E_INVALIDARG},
               {L"Game", L"bin\\version.dll", nullptr, S_OK},
               {L"Patch", L"bin\\version.dll", nullptr, S_OK},
               {L"Game", kJournalName, L"../Outside/version.dll", kJournalIsLink},
               {L"Game", kJournalName, nullptr, kJournalIsLink},
               {L"Game", kJournalDraftName, L"../Outside/version.dll", kJournalIsLink},
               {L"Game", kJournalDraftName, L"../Outside", kJournalIsLink},
               // Links to nothing, through which a file would be made outside.
               {L"Game", kJournalDraftName, L"../Outside/made.txt", kJournalIsLink},
               {L"Backup", kBackupLockName, L"../Outside/made.txt", kJournalIsLink},
               {L"Game", kGameLockName, L"../Outside/made.txt", S_OK}};
  for (const auto& c : cases) {
    const std::wstring root = At(L"case" + std::to_wstring(&c - cases)) + L"\\";
    SCOPED_TRACE(Utf8(c.folder) + "\\" + Utf8(c.at) + (c.target == nullptr ? " hard" : ""));
    PatchRun run;
    Lay(run, root, {L"a.txt", L"bin\\version.dll"});
    WriteFileBytes(root + L"Backup\\bin\\version.dll", "backup");
    if (wcscmp(c.at, kJournalDraftName) == 0) {
      run.backupDirectory = (root + L"Made\\Below").c_str();  // made, gone once it is refused
    }
    const std::wstring linked = root + c.folder + L"\\bin\\version.dll";
    const bool own = wcsncmp(c.at, L"Quorvel.", 8) == 0;  // one of the run's own files
    if (!own) {
      DeleteFileW(linked.c_str());
    }
    ASSERT_TRUE(Link(root + c.folder + L"\\" + c.at, c.target, root + L"Outside\\version.dll"));
    ASSERT_TRUE(own || ReadFileBytes(linked) == "outside");
    const std::string before = TreeFingerprint(root);  // the outside folder is part of it
    const std::string outside = TreeFingerprint(root + L"Outside");
    log_.Clear();

    GameLock lock;  // taken first, as the run driver does
    EXPECT_EQ(lock.Take(run), S_OK);
    const HRESULT result = PatchFiles(run);
    lock.Release();

    EXPECT_EQ(TreeFingerprint(root + L"Outside"), outside);
    EXPECT_EQ(result, c.result);
    if (FAILED(c.result)) {
      EXPECT_EQ(TreeFingerprint(root, own ? L"" : kJournalName), before);  // a run reverted
    }
    if (c.result == E_INVALIDARG) {
      ExpectTold("bin\\version.dll");
      EXPECT_TRUE(Has(log_.Text(), "its way from the ")) << log_.Text();
    }
  }
}

// A case-sensitive folder (made so on the Linux side of Wine) may hold two names that differ only
// in case, at the file or on its way: either could be the one a listed name reaches.
TEST_F(NamesInsideTest, ANameThatMatchesTwoNamesOfAFolderIsRefusedWithNothingChanged) {
  const struct {
    const wchar_t* name;
    const wchar_t* script;  // makes the second name in the game folder
    const char* names[2];
  } cases[] = {{L"a.txt", L"printf A > A.txt", {"Game\\a.txt>", "Game\\A.txt>"}},
               {L"d\\x.txt", L"mkdir D && printf X > D/x.txt", {"Game\\d>", "Game\\D>"}}};
  for (const auto& c : cases) {
    const std::wstring root = At(L"case" + std::to_wstring(&c - cases)) + L"\\";
    SCOPED_TRACE(Utf8(c.name));
    PatchRun run;
    Lay(run, root, {c.name});
    ASSERT_TRUE(OnHost(root + L"Game", c.script));
    const std::string before = TreeFingerprint(root);

    EXPECT_EQ(PatchFiles(run), E_INVALIDARG);

    EXPECT_EQ(TreeFingerprint(root), before);
    ExpectTold(Utf8(c.name));
    EXPECT_TRUE(Has(log_.Text(), c.names[0]) && Has(log_.Text(), c.names[1])) << log_.Text();
  }
}

// The run stops, reverts what it can reach inside its folders, and the next run does not
// restore through the link either.
TEST_F(NamesInsideTest, AFolderSwappedForALinkDuringARetryPauseStopsTheRun) {
  for (const wchar_t* folder : {L"Game", L"Backup"}) {
    SCOPED_TRACE(Utf8(folder));
    const std::wstring root = At(folder) + L"Case\\";
    PatchRun run;
    Lay(run, root, {L"bin\\a.txt", L"z.txt"});
    static std::wstring swapped;
    swapped = root + folder + L"\\bin";
    static FileLock* lock;
    FileLock held(root + L"Game\\z.txt");
    ASSERT_TRUE((lock = &held)->Held());
    static bool unmovable;
    betweenAttempts = [] {
      lock->Release();
      // The run holds the folder: no Windows program can move it away...
      unmovable = !MoveFileW(swapped.c_str(), (swapped + L".away").c_str()) &&
                  GetLastError() == ERROR_SHARING_VIOLATION;
      // ...but the host can, past Windows' sharing rules.
      Link(swapped, L"../Outside", L"", true);
    };
    const std::string outside = TreeFingerprint(root + L"Outside");
    pauses = 0;
    log_.Clear();

    EXPECT_EQ(PatchFiles(run), E_INVALIDARG);

    EXPECT_TRUE(unmovable) << "the folder could be moved during the run";
    ExpectTold("bin\\a.txt");
    EXPECT_EQ(TreeFingerprint(root + L"Outside"), outside);
    EXPECT_EQ(Contents({root + L"Game\\z.txt", root + L"Patch\\z.txt"}), "old z.txt|new z.txt|");
    PatchRun next;
    Lay(next, root, {});
    next.files = {L"z.txt"};
    log_.Clear();

    // The journal's names no longer pass the checks: it is refused as one the disk disagrees with.
    EXPECT_EQ(PatchFiles(next), kJournalDisagrees);

    ExpectTold("bin\\a.txt");
    EXPECT_EQ(TreeFingerprint(root + L"Outside"), outside);
  }
}

// A host program swaps a held folder for a link to a folder outside between a file's checks and
// its step (at the step's journal record), or a folder the run made once the revert has emptied
// it: under Wine the step's handle would act through the link. Nothing outside changes.
std::wstring g_at;             // where the host script runs
const wchar_t* g_script;       // what it runs
unsigned g_record, g_records;  // at which record (0: once the made folder x is empty again)
DWORD SwapAtRecord(unsigned) {
  const bool emptied =
      g_record == 0 && PathExists(g_at + L"Game\\x") && !PathExists(g_at + L"Game\\x\\new.txt");
  if (++g_records == g_record || (emptied && g_script != nullptr)) {
    EXPECT_TRUE(OnHost(g_at, g_script));
    g_script = nullptr;
  }
  return ERROR_SUCCESS;
}

TEST_F(NamesInsideTest, AFolderSwappedForALinkBetweenAFilesCheckAndItsStepChangesNothingOutside) {
  const struct {
    const wchar_t* script;
    unsigned record;
  } cases[] = {{L"mv Game/d Game/d.away && ln -s ../Outside/d Game/d", 5},
               {L"mv Patch/d Patch/d.away && ln -s ../Outside/d Patch/d", 6},
               {L"rmdir Game/x && ln -s ../Outside/empty Game/x", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.script));
    g_at = At(L"case" + std::to_wstring(&c - cases)) + L"\\";
    PatchRun run;
    Lay(run, g_at, {L"a.txt", L"d\\f.txt"});
    WriteFileBytes(g_at + L"Patch\\x\\new.txt", "new x");
    run.files.push_back(SharedWString(L"x\\new.txt"));
    WriteFileBytes(g_at + L"Patch\\z.txt", "new z");
    run.files.push_back(SharedWString(L"z.txt"));
    WriteFileBytes(g_at + L"Outside\\d\\f.txt", "outside f");
    CreateDirectoryW((g_at + L"Outside\\empty").c_str(), nullptr);
    const std::string outside = TreeFingerprint(g_at + L"Outside");
    FileLock held(g_at + L"Patch\\z.txt");  // the last file fails: the run is reverted
    g_script = c.script, g_record = c.record, g_records = 0;
    SetJournalHook(SwapAtRecord);
    EXPECT_NE(PatchFiles(run), S_OK);
    SetJournalHook(nullptr);
    EXPECT_EQ(g_script, nullptr) << "the host did not run";
    EXPECT_EQ(TreeFingerprint(g_at + L"Outside"), outside) << log_.Text();
  }
}

// A drive letter mapped onto a folder above the run's during the pause changes how the system
// names the run's folders and files, not which they are: the run goes on.
TEST_F(NamesInsideTest, ALetterMappedDuringARetryPauseDoesNotStopTheRun) {
  const std::wstring root = Dir() + L"\\";
  PatchRun run;
  Lay(run, root, {L"a.txt", L"d\\b.txt"});
  static std::unique_ptr<DriveLetter> letter;
  static std::unique_ptr<FileLock> lock;
  static std::wstring above;
  above = Dir();
  lock = std::make_unique<FileLock>(root + L"Patch\\d\\b.txt");
  betweenAttempts = [] {
    letter = std::make_unique<DriveLetter>(above);
    lock.reset();
  };
  EXPECT_EQ(PatchFiles(run), S_OK) << log_.Text();
  ASSERT_FALSE(letter == nullptr || letter->Root().empty());
  letter.reset();
  EXPECT_EQ(Contents({root + L"Game\\a.txt", root + L"Game\\d\\b.txt", root + L"Backup\\d\\b.txt"}),
            "new a.txt|new d\\b.txt|old d\\b.txt|");
}

// A file swapped for a link during the pause is not looked for then: it is found at its move, on
// the handle that would move it, and the run is reverted.
TEST_F(NamesInsideTest, AFileSwappedForALinkDuringARetryPauseIsFoundAtItsMove) {
  const std::wstring root = At(L"file") + L"\\";
  PatchRun run;
  Lay(run, root, {L"a.txt", L"z.txt"});
  static std::wstring planted;
  planted = root + L"Patch\\z.txt";
  static FileLock* lock;
  FileLock held(root + L"Game\\a.txt");
  ASSERT_TRUE((lock = &held)->Held());
  betweenAttempts = [] { lock->Release(), Link(planted, L"../Outside/version.dll", L"", true); };
  const std::string outside = TreeFingerprint(root + L"Outside");
  log_.Clear();

  EXPECT_EQ(PatchFiles(run), E_INVALIDARG);

  ExpectTold("z.txt");
  EXPECT_EQ(TreeFingerprint(root + L"Outside"), outside);
  EXPECT_EQ(Contents({root + L"Game\\a.txt", root + L"Patch\\a.txt", root + L"Game\\z.txt"}),
            "old a.txt|new a.txt|old z.txt|");
}

// Every folder on a file's way is checked and held just before the file moves through it, past
// the cap on held folders too (each held folder costs the Wine server a descriptor that the moves
// need as well): one swapped for a link while the files move stops the run before a file goes
// outside.
TEST_F(NamesInsideTest, EveryFolderIsCheckedAndHeldAsAFileMovesThroughIt) {
  const std::wstring root = At(L"many") + L"\\";
  PatchRun run;
  Lay(run, root, {});
  const std::wstring deep = L"\\1\\2\\3\\4\\5\\6\\7\\8\\9\\a.txt";  // 20 folders a name to hold
  for (int i = 0; i < 55; ++i) {
    const std::wstring name = L"d" + std::to_wstring(i) + deep;
    run.files.push_back(name.c_str());
    WriteFileBytes(root + L"Game\\" + name, "old"), WriteFileBytes(root + L"Patch\\" + name, "new");
  }
  CreateDirectoryW((root + L"Backup").c_str(), nullptr);
  static std::wstring folder;
  folder = root + L"Game\\d54";  // past the cap
  // A Windows program moves it, which it cannot do to the game folder, held first; then the host
  // puts a link in its place.
  SetJournalHook([](unsigned record) -> DWORD {
    const std::wstring game = folder.substr(0, folder.rfind(L'\\'));
    EXPECT_TRUE(record != 2 || (!MoveFileW(game.c_str(), (game + L"2").c_str()) &&
                                MoveFileW(folder.c_str(), (folder + L".away").c_str()) &&
                                Link(folder, L"../Outside", L"")));
    return ERROR_SUCCESS;
  });
  const std::string before = TreeFingerprint(root);  // the outside folder is part of it

  EXPECT_EQ(PatchFiles(run), E_INVALIDARG);

  ASSERT_TRUE(OnHost(root + L"Game", L"rm d54 && mv d54.away d54"));
  EXPECT_EQ(TreeFingerprint(root, kJournalName), before);
}

// Game\d loses the file the patch deletes and Patch\d its last listed file, but both keep a file
// of the player's: the run holds them again, so no program can swap them for the steps after.
// Backup\d, which the run makes, is held from the moment it exists.
TEST_F(NamesInsideTest, FoldersTheRunCouldNotRemoveAreHeldAgain) {
  Pairs({L"d\\a.txt", L"z.txt"});
  run_.files.push_front(L"d\\gone.txt");
  for (const std::wstring& file : {Game(L"d\\gone.txt"), Game(L"d\\keep"), Patch(L"d\\keep")}) {
    WriteFileBytes(file, "kept");
  }
  static std::wstring folders[3];
  folders[0] = Game(L"d"), folders[1] = Patch(L"d"), folders[2] = Backup(L"d");
  static int moved;
  moved = 0;
  SetJournalHook([](unsigned record) -> DWORD {
    for (const std::wstring& folder : folders) {  // held from the record after the draft
      moved += record > 1 && MoveFileW(folder.c_str(), (folder + L".away").c_str()) &&
               MoveFileW((folder + L".away").c_str(), folder.c_str());
    }
    return ERROR_SUCCESS;
  });

  EXPECT_EQ(PatchFiles(run_), S_OK);

  EXPECT_EQ(moved, 0);
  EXPECT_EQ(Contents({Game(L"d\\keep"), Patch(L"d\\keep"), Game(L"d\\gone.txt")}), "kept|kept|-|");
}

}  // namespace
}  // namespace quorvel::test
