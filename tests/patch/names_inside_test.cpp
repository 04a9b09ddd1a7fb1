// Links below the run's folders, a link put in during a retry pause, the log as a link and an
// argument with line breaks: nothing outside the three folders changes, and the launcher is told.
#include "foundation/run_log.h"
#include "patch/run_driver.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

class NamesInsideTest : public PatchTest {
 protected:
  // The name the launcher was told of, and the run's result.
  void ExpectTold(const char* name) {
    EXPECT_EQ(Variable(L"QUORVEL_RESULT"), "0x80070057");
    EXPECT_EQ(Variable(L"QUORVEL_FILENAME"), name);
    EXPECT_TRUE(Has(log_.Text(), "Refusing to patch \"" + std::string(name) + "\": ")) << log_.Text();
  }
};

TEST_F(NamesInsideTest, AWayThroughALinkBelowAnyFolderIsRefusedWithNothingChanged) {
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    const wchar_t* target;
  } cases[] = {{L"Game", L"bin", L"../Outside"},
               {L"Patch", L"bin", L"../Outside"},
               {L"Backup", L"bin", L"../Outside"},
               {L"Game\\bin", L"version.dll", L"../../Outside/version.dll"},
               {L"Patch\\bin", L"version.dll", L"../../Outside/version.dll"}};
  for (const auto& c : cases) {
    const std::wstring root = At(L"case" + std::to_wstring(&c - cases));
    SCOPED_TRACE(Utf8(c.folder) + "\\" + Utf8(c.name));
    for (const wchar_t* folder : {L"\\Game", L"\\Patch", L"\\Backup"}) {
      WriteFileBytes(root + folder + L"\\a.txt", Utf8(folder));
      WriteFileBytes(root + folder + L"\\bin\\version.dll", Utf8(folder));
    }
    WriteFileBytes(root + L"\\Outside\\version.dll", "outside");
    const std::wstring link = root + L"\\" + c.folder + L"\\" + c.name;
    DeleteFileW((link + L"\\version.dll").c_str());
    RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str());
    ASSERT_TRUE(MakeHostLink(root + L"\\" + c.folder, c.name, c.target));
    ASSERT_EQ(ReadFileBytes(root + L"\\" + c.folder + L"\\bin\\version.dll"), "outside");
    PatchRun run;
    run.files = {L"a.txt", L"bin\\version.dll"};
    run.patchDirectory = (root + L"\\Patch").c_str();
    run.applicationDirectory = (root + L"\\Game").c_str();
    run.backupDirectory = (root + L"\\Backup").c_str();
    const std::string before = TreeFingerprint(root);
    log_.Clear();

    EXPECT_EQ(PatchFiles(run), E_INVALIDARG);

    ExpectTold("bin\\version.dll");
    EXPECT_EQ(TreeFingerprint(root), before);  // the outside folder is part of it
  }
}

TEST_F(NamesInsideTest, AFolderSwappedForALinkDuringARetryPauseStopsTheRun) {
  Pairs({L"bin\\a.txt", L"z.txt"});
  WriteFileBytes(At(L"Outside\\a.txt"), "outside");
  static FileLock* lock;
  FileLock held(Game(L"z.txt"));
  ASSERT_TRUE(held.Held());
  lock = &held;
  static std::wstring game;
  game = At(L"Game");
  betweenAttempts = [] {
    lock->Release();
    MoveFileW((game + L"\\bin").c_str(), (game + L"\\bin.away").c_str());
    MakeHostLink(game, L"bin", L"../Outside");
  };
  const std::string outside = TreeFingerprint(At(L"Outside"));

  EXPECT_EQ(PatchFiles(run_), E_INVALIDARG);

  EXPECT_EQ(pauses, 1);
  ExpectTold("bin\\a.txt");
  EXPECT_TRUE(Has(log_.Text(), "its way from the application folder")) << log_.Text();
  EXPECT_EQ(TreeFingerprint(At(L"Outside")), outside);
  // The revert left the file the link replaced alone; its old version waits in the backup.
  EXPECT_EQ(Contents({At(L"Game\\bin.away\\a.txt"), Backup(L"bin\\a.txt"), Game(L"z.txt")}),
            "new bin\\a.txt|old bin\\a.txt|old z.txt|");
}

TEST_F(NamesInsideTest, TheLogIsNeverWrittenThroughALinkAtItsName) {
  Pairs({L"a.txt"});
  const std::wstring log = RunLog::Path().Chars();
  const std::wstring folder = log.substr(0, log.rfind(L'\\'));
  const std::wstring outside = L"../" + Dir().substr(Dir().rfind(L'\\') + 1) + L"/Outside/";
  WriteFileBytes(At(L"Outside\\log.txt"), "outside log");
  for (const wchar_t* target : {L"log.txt", L"missing.txt"}) {
    SCOPED_TRACE(Utf8(target));
    DeleteFileW(log.c_str());
    ASSERT_TRUE(MakeHostLink(folder, L"Quorvel.log", outside + target));
    const std::string before = TreeFingerprint(At(L"Outside"));

    EXPECT_EQ(PatchFiles(run_), S_OK);  // the run goes on without its log

    EXPECT_EQ(TreeFingerprint(At(L"Outside")), before);
    EXPECT_EQ(ReadFileBytes(Game(L"a.txt")), "new a.txt");
    run_.files = {L"a.txt"};
    run_.appliedFiles.clear();
    WriteFileBytes(Patch(L"a.txt"), "newer a.txt");
  }
}

TEST_F(NamesInsideTest, AnArgumentsLineBreaksAreWrittenEscapedAndStartNoLine) {
  const std::string before = TreeFingerprint(Dir());

  EXPECT_EQ(RunPatch(L"-text \"x\r\n======= Quorvel Complete 12/07/26 08:00:00 ============\x1b\" 1"),
            0);

  const std::string text = log_.Text();
  EXPECT_TRUE(Has(text, "\tx\\r\\n======= Quorvel Complete 12/07/26 08:00:00 ============\\x1b\r\n"))
      << text;
  EXPECT_EQ(Count(text, "\n======="), 1u) << text;  // the run's own closing banner
  EXPECT_TRUE(Has(text, "\r\n======= Quorvel Failed ")) << text;
  EXPECT_EQ(TreeFingerprint(Dir()), before);
}

}  // namespace
}  // namespace quorvel::test
