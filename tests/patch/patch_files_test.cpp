#include "patch/patch_files.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "patch/run_steps.h"
#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::FileLock;
using test::ReadFileBytes;
using test::Utf8;
using test::WriteFileBytes;

std::string Variable(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value == nullptr ? "(unset)" : Utf8(value);
}

// The bytes of each file, each followed by "|"; a file that does not exist reads as "-".
std::string Contents(std::initializer_list<std::wstring> paths) {
  std::string text;
  for (const std::wstring& path : paths) {
    text += (test::PathExists(path) ? ReadFileBytes(path) : "-") + "|";
  }
  return text;
}

bool Logged(const std::string& log, const std::string& piece) {
  return log.find(piece) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

// What the retry pause does in these tests: nothing but the current test's action.
void (*g_betweenAttempts)() = nullptr;
int g_pauses = 0;
void TestPause(DWORD milliseconds) {
  EXPECT_EQ(milliseconds, 2000u);
  ++g_pauses;
  if (g_betweenAttempts != nullptr) {
    g_betweenAttempts();
  }
}

// A lock that the retry pause can let go of.
std::unique_ptr<FileLock> g_lock;

class PatchFilesTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    previousPause_ = SetRetryPause(TestPause);
    g_pauses = 0;
    g_betweenAttempts = nullptr;
    _wputenv(L"QUORVEL_RESULT=");
    _wputenv(L"QUORVEL_FILENAME=");
    run_.patchDirectory = At(L"Patch").c_str();
    run_.applicationDirectory = At(L"Game").c_str();
    run_.backupDirectory = At(L"Backup").c_str();
    CreateDirectoryW(At(L"Patch").c_str(), nullptr);
    CreateDirectoryW(At(L"Game").c_str(), nullptr);
  }
  void TearDown() override {
    SetRetryPause(previousPause_);
    g_lock.reset();
  }

  void List(std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names) {
      run_.files.push_back(SharedWString(name));
    }
  }
  // Lists each name, with an old file in the application folder and a new one in the patch folder.
  void Pairs(std::initializer_list<const wchar_t*> names) {
    List(names);
    for (const wchar_t* name : names) {
      WriteFileBytes(Game(name), "old " + Utf8(name));
      WriteFileBytes(Patch(name), "new " + Utf8(name));
    }
  }
  std::wstring Game(const std::wstring& name) const { return At(L"Game\\" + name); }
  std::wstring Patch(const std::wstring& name) const { return At(L"Patch\\" + name); }
  std::wstring Backup(const std::wstring& name) const { return At(L"Backup\\" + name); }
  std::string Applied() const {
    std::string names;
    for (const SharedWString& name : run_.appliedFiles) {
      names += Utf8(name.Chars()) + ";";
    }
    return names;
  }

  PatchRun run_;
  test::LogCapture log_;
  RetryPause previousPause_ = nullptr;
};

TEST_F(PatchFilesTest, OneFileIsBackedUpAndReplacedAndTheEmptiedPatchFolderGoes) {
  Pairs({L"bin\\client.dll"});
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Game(L"bin\\client.dll"), Backup(L"bin\\client.dll"), Patch(L"bin")}),
            "new bin\\client.dll|old bin\\client.dll|-|");
  EXPECT_TRUE(test::IsDirectory(At(L"Patch")));
  EXPECT_EQ(log_.Text(), "Backing up \"" + Utf8(Game(L"bin\\client.dll")) + "\" to \"" +
                             Utf8(Backup(L"bin\\client.dll")) + "\"\r\nCopying up \"" +
                             Utf8(Patch(L"bin\\client.dll")) + "\" to \"" +
                             Utf8(Game(L"bin\\client.dll")) +
                             "\"\r\nAll Quorvel patches successful\r\n");
  EXPECT_EQ(Variable(L"QUORVEL_RESULT"), "0x00000000");
  EXPECT_EQ(Variable(L"QUORVEL_FILENAME"), "(unset)");
  EXPECT_TRUE(run_.files.empty());
  EXPECT_EQ(Applied(), "bin\\client.dll;");
}

TEST_F(PatchFilesTest, AnEmptyListSucceedsAtOnce) {
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(log_.Text(), "All Quorvel patches successful\r\n");
  EXPECT_EQ(Variable(L"QUORVEL_RESULT"), "0x00000000");
}

TEST_F(PatchFilesTest, NamesMissingFromThePatchDeleteTheGameFileAfterItsBackupOrChangeNothing) {
  WriteFileBytes(Game(L"data\\sub\\old.dat"), "obsolete");
  WriteFileBytes(Game(L"data\\keep.dat"), "kept");
  WriteFileBytes(Game(L"gone\\deep\\only.dat"), "only");
  WriteFileBytes(Patch(L"new\\nested\\file.txt"), "fresh");
  List({L"data\\sub\\old.dat", L"gone\\deep\\only.dat", L"new\\nested\\file.txt", L"nowhere.txt"});
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Backup(L"data\\sub\\old.dat"), Backup(L"gone\\deep\\only.dat"),
                      Game(L"data\\sub"), Game(L"data\\keep.dat"), Game(L"gone")}),
            "obsolete|only|-|kept|-|");
  EXPECT_TRUE(test::IsDirectory(At(L"Game")));
  // A new file gets its folders; a name in neither folder is applied as nothing.
  EXPECT_EQ(
      Contents({Game(L"new\\nested\\file.txt"), Patch(L"new"), Backup(L"new\\nested\\file.txt")}),
      "fresh|-|-|");
  EXPECT_EQ(Applied(),
            "data\\sub\\old.dat;gone\\deep\\only.dat;new\\nested\\file.txt;nowhere.txt;");
}

TEST_F(PatchFilesTest, AFileLockedByAnotherProcessFailsOnceAndSucceedsOnTheRetry) {
  Pairs({L"a.txt", L"b.txt"});
  g_lock = std::make_unique<FileLock>(Game(L"b.txt"));
  ASSERT_TRUE(g_lock->Held());
  g_betweenAttempts = [] { g_lock->Release(); };
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(g_pauses, 1);
  EXPECT_EQ(Contents({Game(L"a.txt"), Game(L"b.txt"), Backup(L"b.txt")}),
            "new a.txt|new b.txt|old b.txt|");
  const std::string text = log_.Text();
  EXPECT_TRUE(Logged(text, "Copy failed, HResult 0x80070020, error 32 " +
                               test::LoggedSystemMessage(32) + "\r\nPatch failed. Retry 1 ...\r\n"))
      << text;
  EXPECT_EQ(Count(text, "Copying up \"" + Utf8(Patch(L"a.txt"))), 1u)
      << "a file applied in the first attempt is not processed again";
  EXPECT_EQ(Applied(), "a.txt;b.txt;");
}

TEST_F(PatchFilesTest, AFileLockedForGoodIsRetriedFiveTimesThenEverythingIsReverted) {
  Pairs({L"a.txt"});
  WriteFileBytes(Patch(L"added\\b.txt"), "new b");
  List({L"added\\b.txt"});
  Pairs({L"c.txt"});
  WriteFileBytes(Game(L"d.txt"), "old d");
  List({L"d.txt"});
  FileLock lock(Game(L"c.txt"));
  ASSERT_TRUE(lock.Held());
  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(g_pauses, 4);
  const std::string text = log_.Text();
  EXPECT_EQ(Count(text, "Copy failed, HResult 0x80070020, error 32 "), 5u);
  EXPECT_EQ(Count(text, "Patch failed. Retry "), 4u);
  for (int retry = 1; retry <= 4; ++retry) {
    EXPECT_NE(text.find("Patch failed. Retry " + std::to_string(retry) + " ...\r\n"),
              std::string::npos);
  }
  const std::string game = Utf8(At(L"Game")), backup = Utf8(At(L"Backup"));
  const std::string tail =
      "Could not patch file \"c.txt\", error 0x80070020\r\nReverting all patches\r\n"
      "Copying \"" +
      backup + "\\a.txt\" to \"" + game +
      "\\a.txt\"\r\n"
      "Copying \"" +
      backup + "\\added\\b.txt\" to \"" + game + "\\added\\b.txt\"\r\n";
  EXPECT_TRUE(test::EndsWith(text, tail)) << text;
  EXPECT_EQ(Variable(L"QUORVEL_RESULT"), "0x80070020");
  EXPECT_EQ(Variable(L"QUORVEL_FILENAME"), "c.txt");

  lock.Release();
  EXPECT_EQ(
      Contents({Game(L"a.txt"), Game(L"c.txt"), Game(L"d.txt"), Game(L"added"), Backup(L"a.txt")}),
      "old a.txt|old c.txt|old d|-|-|");
  EXPECT_EQ(Contents({Patch(L"a.txt"), Patch(L"added\\b.txt"), Patch(L"c.txt")}),
            "new a.txt|new b|new c.txt|");
  EXPECT_EQ(Applied(), "a.txt;added\\b.txt;");
  EXPECT_STREQ(run_.files.front().Chars(), L"c.txt");
}

TEST_F(PatchFilesTest, ALockedNewFileLeavesTheOldFileInPlaceAndItsBackupIntact) {
  Pairs({L"a.txt"});
  FileLock lock(Patch(L"a.txt"));
  ASSERT_TRUE(lock.Held());
  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  lock.Release();
  EXPECT_EQ(Contents({Game(L"a.txt"), Backup(L"a.txt"), Patch(L"a.txt")}),
            "old a.txt|old a.txt|new a.txt|");
  const std::string game = Utf8(Game(L"a.txt")), backup = Utf8(Backup(L"a.txt"));
  const std::string text = log_.Text();
  EXPECT_TRUE(Logged(text, "Restored \"" + game + "\" from \"" + backup + "\"\r\n")) << text;
  EXPECT_TRUE(Logged(text, "Keeping \"" + backup + "\", backed up earlier in this run\r\n"))
      << text;
}

TEST_F(PatchFilesTest, ARetryKeepsTheBackupItWroteAndFinishesTheFile) {
  Pairs({L"a.txt"});
  g_lock = std::make_unique<FileLock>(Patch(L"a.txt"));
  ASSERT_TRUE(g_lock->Held());
  g_betweenAttempts = [] { g_lock->Release(); };
  EXPECT_EQ(PatchFiles(run_), S_OK);
  EXPECT_EQ(Contents({Game(L"a.txt"), Backup(L"a.txt"), Patch(L"a.txt")}),
            "new a.txt|old a.txt|-|");
}

TEST_F(PatchFilesTest, ARevertStopsAtItsFirstFailure) {
  Pairs({L"a.txt", L"b.txt", L"c.txt", L"d.txt"});
  FileLock lockD(Game(L"d.txt"));
  ASSERT_TRUE(lockD.Held());
  // Once b.txt is applied, hold its new file so that its revert cannot move it.
  static std::wstring newB;
  newB = Game(L"b.txt");
  g_betweenAttempts = [] {
    if (!g_lock) {
      g_lock = std::make_unique<FileLock>(newB);
    }
  };
  EXPECT_EQ(PatchFiles(run_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(g_lock && g_lock->Held());
  g_lock.reset();
  lockD.Release();
  const std::string text = log_.Text();
  EXPECT_TRUE(
      Logged(text, "Failed trying to revert patch file \"b.txt\", HResult 0x80070020, error 32 " +
                       test::LoggedSystemMessage(32)))
      << text;
  EXPECT_FALSE(Logged(text, "Copying \"" + Utf8(Backup(L"c.txt")))) << "c.txt is not reverted";
  EXPECT_EQ(Contents({Game(L"a.txt"), Game(L"b.txt"), Game(L"c.txt"), Game(L"d.txt")}),
            "old a.txt|new b.txt|new c.txt|old d.txt|");
}

// Each run below is refused before anything changes, so all of them can run over one layout.
}  // namespace
}  // namespace quorvel
