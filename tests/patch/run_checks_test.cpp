// Runs refused before anything on disk changes, for names and folders that could lose a file.
#include <cstdlib>
#include <string>
#include <vector>

#include "patch/run_steps.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::Utf8;
using test::WriteFileBytes;

std::string Variable(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value == nullptr ? "(unset)" : Utf8(value);
}

std::wstring ShortName(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return buffer;
}

// The game folder holds its patch and backup folders, as launchers lay them out.
class RunChecksTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    WriteFileBytes(At(L"Game\\a.txt"), "old a");
    WriteFileBytes(At(L"Game\\d\\e.txt"), "old e");
    WriteFileBytes(At(L"Game\\gone.txt"), "old gone");
    WriteFileBytes(At(L"Game\\long file name.txt"), "old long");
    WriteFileBytes(At(L"Game\\Patch\\a.txt"), "new a");
    WriteFileBytes(At(L"Game\\Patch\\d\\e.txt"), "new e");
    WriteFileBytes(At(L"Game\\Patch\\n\\new.txt"), "new n");
    CreateDirectoryW(At(L"Game\\Backup Folder").c_str(), nullptr);
    CreateDirectoryW(At(L"Outside").c_str(), nullptr);
  }
  std::wstring Game() const { return At(L"Game"); }

  test::LogCapture log_;
};

TEST_F(RunChecksTest, RunsThatCouldLoseAFileAreRefusedWithNothingChanged) {
  const std::wstring game = Game();
  const std::wstring shortBackup = ShortName(At(L"Game\\Backup Folder"));
  std::wstring otherDrive = game;
  otherDrive[0] = L'E';  // drive E is drive C again in the test prefix
  ASSERT_EQ(game[0], L'C');
  ASSERT_NE(shortBackup.find(L'~'), std::wstring::npos);
  const std::wstring shortBackupName = shortBackup.substr(shortBackup.rfind(L'\\') + 1);
  const std::wstring shortFile = ShortName(At(L"Game\\long file name.txt"));
  const std::wstring shortFileName = shortFile.substr(shortFile.rfind(L'\\') + 1);
  const HRESULT kNoFolder = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  const std::wstring patch = game + L"\\Patch";
  const std::wstring backup = game + L"\\Backup Folder";
  const struct {
    std::vector<std::wstring> names;
    std::wstring patch, application, backup;
    HRESULT result;
    std::wstring refusedName;  // "/" when a folder is at fault
  } cases[] = {
      // Names that are not plain relative paths.
      {{L"a.txt", L""}, patch, game, backup, E_INVALIDARG, L""},  // QUORVEL_FILENAME= unsets
      {{L"a.txt", L"\\a.txt"}, patch, game, backup, E_INVALIDARG, L"\\a.txt"},
      {{L"C:a.txt"}, patch, game, backup, E_INVALIDARG, L"C:a.txt"},
      {{L"\\\\server\\share\\a.txt"}, patch, game, backup, E_INVALIDARG, L"\\\\server\\share\\a.txt"},
      {{L"\\\\?\\C:\\a.txt"}, patch, game, backup, E_INVALIDARG, L"\\\\?\\C:\\a.txt"},
      {{L"a.txt:alt"}, patch, game, backup, E_INVALIDARG, L"a.txt:alt"},
      {{L"d\\..\\a.txt"}, patch, game, backup, E_INVALIDARG, L"d\\..\\a.txt"},
      {{L".\\a.txt"}, patch, game, backup, E_INVALIDARG, L".\\a.txt"},
      {{L"d\\\\e.txt"}, patch, game, backup, E_INVALIDARG, L"d\\\\e.txt"},
      {{L"d/"}, patch, game, backup, E_INVALIDARG, L"d/"},
      {{L"a.txt "}, patch, game, backup, E_INVALIDARG, L"a.txt "},
      {{L"d.\\e.txt"}, patch, game, backup, E_INVALIDARG, L"d.\\e.txt"},
      {{L"d\\CON"}, patch, game, backup, E_INVALIDARG, L"d\\CON"},
      {{L"nul.txt"}, patch, game, backup, E_INVALIDARG, L"nul.txt"},
      {{L"Com1.dll"}, patch, game, backup, E_INVALIDARG, L"Com1.dll"},
      {{L"lpt9"}, patch, game, backup, E_INVALIDARG, L"lpt9"},
      {{L"a<b.txt"}, patch, game, backup, E_INVALIDARG, L"a<b.txt"},
      {{L"a\x1b.txt"}, patch, game, backup, E_INVALIDARG, L"a\x1b.txt"},
      {{L"Quorvel.journal"}, patch, game, backup, E_INVALIDARG, L"Quorvel.journal"},
      // Names that meet another name.
      {{L"a.txt", L"A.TXT"}, patch, game, backup, E_INVALIDARG, L"A.TXT"},
      {{L"d\\e.txt", L"D/e.txt"}, patch, game, backup, E_INVALIDARG, L"D/e.txt"},
      {{L"d", L"d\\e.txt"}, patch, game, backup, E_INVALIDARG, L"d"},
      {{L"D/e.txt", L"d"}, patch, game, backup, E_INVALIDARG, L"D/e.txt"},
      {{L"long file name.txt", shortFileName}, patch, game, backup, E_INVALIDARG, shortFileName},
      // Names that lead from the game folder into its patch or backup folder.
      {{L"a.txt", L"Patch\\a.txt"}, patch, game, backup, E_INVALIDARG, L"Patch\\a.txt"},
      {{L"PATCH"}, patch, game, backup, E_INVALIDARG, L"PATCH"},
      {{shortBackupName + L"\\x.txt"}, patch, game, backup, E_INVALIDARG,
       shortBackupName + L"\\x.txt"},
      // Folders that are missing, files, the same folder, or that hold the game folder.
      {{L"a.txt"}, game + L"\\Nowhere", game, backup, kNoFolder, L"/"},
      {{L"a.txt"}, patch, At(L"Nowhere"), backup, kNoFolder, L"/"},
      {{L"a.txt"}, game + L"\\a.txt", game, backup, kNoFolder, L"/"},
      {{L"a.txt"}, patch, game, game + L"\\gone.txt", kNoFolder, L"/"},
      {{L"a.txt"}, patch, game, L"\\\\?\\" + game, E_INVALIDARG, L"/"},
      {{L"a.txt"}, patch, game, otherDrive, E_INVALIDARG, L"/"},
      {{L"a.txt"}, shortBackup, game, backup, E_INVALIDARG, L"/"},
      {{L"a.txt"}, otherDrive + L"\\Patch", game, otherDrive + L"\\Patch\\", E_INVALIDARG, L"/"},
      {{L"a.txt"}, patch, game, Dir(), E_INVALIDARG, L"/"},
      {{L"a.txt"}, Dir(), game, backup, E_INVALIDARG, L"/"},
  };
  const std::string before = test::TreeFingerprint(Dir());
  for (const auto& c : cases) {
    const std::wstring& refused = c.refusedName;
    SCOPED_TRACE(Utf8(c.names.back() + L" | " + c.patch + L" | " + c.application + L" | " +
                      c.backup));
    PatchRun run;
    for (const std::wstring& name : c.names) {
      run.files.push_back(SharedWString(name.c_str()));
    }
    run.patchDirectory = c.patch.c_str();
    run.applicationDirectory = c.application.c_str();
    run.backupDirectory = c.backup.c_str();
    _wputenv(L"QUORVEL_RESULT=");
    _wputenv(L"QUORVEL_FILENAME=");
    log_.Clear();

    EXPECT_EQ(PatchFiles(run), c.result);

    char result[16];
    snprintf(result, sizeof(result), "0x%08x", static_cast<unsigned>(c.result));
    EXPECT_EQ(Variable(L"QUORVEL_RESULT"), result);
    const bool folder = refused == L"/";
    EXPECT_EQ(Variable(L"QUORVEL_FILENAME"), folder || refused.empty() ? "(unset)" : Utf8(refused));
    const std::string text = log_.Text();
    EXPECT_EQ(text.find(folder ? "Refusing to patch: the "
                                        : "Refusing to patch \"" + Utf8(refused) + "\": "),
              0u)
        << text;
    EXPECT_NE(text.find("Could not patch file \""), std::string::npos) << text;
    EXPECT_EQ(text.find("Reverting"), std::string::npos) << text;
    EXPECT_EQ(test::TreeFingerprint(Dir()), before);
  }
}

}  // namespace
}  // namespace quorvel
