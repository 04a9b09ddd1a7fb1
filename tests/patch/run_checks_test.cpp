// Runs refused before anything on disk changes, for names and folders that could lose a file.
#include <cstdlib>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

std::wstring ShortName(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return buffer;
}

// The game folder holds its patch and backup folders, as launchers lay them out.
class RunChecksTest : public PatchTest {
 protected:
  void SetUp() override {
    LayGame(At(L"Game"));
    WriteFileBytes(At(L"Game\\long file name.txt"), "old long");
    CreateDirectoryW(At(L"Game\\Backup Folder").c_str(), nullptr);
    CreateDirectoryW(At(L"Outside").c_str(), nullptr);
  }
};

TEST_F(RunChecksTest, RunsThatCouldLoseAFileAreRefusedWithNothingChanged) {
  const std::wstring game = At(L"Game");
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
    std::wstring refusedName;  // "/" when a folder is at fault
    HRESULT result = E_INVALIDARG;
    std::wstring patch = L"", application = L"", backup = L"";  // empty: the layout's own
  } cases[] = {
      // Names that are not plain relative paths.
      {{L"a.txt", L""}, L""},  // QUORVEL_FILENAME= unsets
      {{L"a.txt", L"\\a.txt"}, L"\\a.txt"},
      {{L"C:a.txt"}, L"C:a.txt"},
      {{L"\\\\server\\share\\a.txt"}, L"\\\\server\\share\\a.txt"},
      {{L"\\\\?\\C:\\a.txt"}, L"\\\\?\\C:\\a.txt"},
      {{L"a.txt:alt"}, L"a.txt:alt"},
      {{L"d\\..\\a.txt"}, L"d\\..\\a.txt"},
      {{L".\\a.txt"}, L".\\a.txt"},
      {{L"d\\\\e.txt"}, L"d\\\\e.txt"},
      {{L"d/"}, L"d/"},
      {{L"a.txt "}, L"a.txt "},
      {{L"d.\\e.txt"}, L"d.\\e.txt"},
      {{L"d\\CON"}, L"d\\CON"},
      {{L"nul.txt"}, L"nul.txt"},
      {{L"Com1.dll"}, L"Com1.dll"},
      {{L"lpt9"}, L"lpt9"},
      {{L"a<b.txt"}, L"a<b.txt"},
      {{L"a\x1b.txt"}, L"a\x1b.txt"},
      {{L"Quorvel.journal"}, L"Quorvel.journal"},
      {{L"CONIN$"}, L"CONIN$"},
      {{L"d\\conout$.txt"}, L"d\\conout$.txt"},
      {{L"con .txt"}, L"con .txt"},
      {{L"NUL  .dat"}, L"NUL  .dat"},
      {{L"COM\u00B9"}, L"COM\u00B9"},
      {{L"lpt\u00B3.log"}, L"lpt\u00B3.log"},
      // Folders of the game or of the patch, named as files.
      {{L"d"}, L"d"},
      {{L"a.txt", L"n"}, L"n"},
      // Names that meet another name.
      {{L"a.txt", L"A.TXT"}, L"A.TXT"},
      {{L"d\\e.txt", L"D/e.txt"}, L"D/e.txt"},
      {{L"d", L"d\\e.txt"}, L"d"},
      {{L"D/e.txt", L"d"}, L"D/e.txt"},
      {{L"\u00C9tude.dat", L"\u00E9tude.dat"}, L"\u00E9tude.dat"},
      {{L"\u0414\u0430\u043D\u043D\u044B\u0435.pak", L"\u0434\u0430\u043D\u043D\u044B\u0435.pak"},
       L"\u0434\u0430\u043D\u043D\u044B\u0435.pak"},
      {{L"\u00C4\\x.dat", L"\u00E4/x.dat"}, L"\u00E4/x.dat"},
      {{L"\u00C4", L"\u00E4/x.dat"}, L"\u00C4"},
      {{L"long file name.txt", shortFileName}, shortFileName},
      // Names that lead from the game folder into its patch or backup folder.
      {{L"a.txt", L"Patch\\a.txt"}, L"Patch\\a.txt"},
      {{L"PATCH"}, L"PATCH"},
      {{shortBackupName + L"\\x.txt"}, shortBackupName + L"\\x.txt"},
      // Folders that are missing, files, the same folder, or that hold the game folder.
      {{L"a.txt"}, L"/", kNoFolder, game + L"\\Nowhere", game, backup},
      {{L"a.txt"}, L"/", kNoFolder, patch, At(L"Nowhere"), backup},
      {{L"a.txt"}, L"/", kNoFolder, game + L"\\a.txt", game, backup},
      {{L"a.txt"}, L"/", kNoFolder, patch, game, game + L"\\gone.txt"},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game, L"\\\\?\\" + game},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game, otherDrive},
      {{L"a.txt"}, L"/", E_INVALIDARG, shortBackup, game, backup},
      {{L"a.txt"}, L"/", E_INVALIDARG, otherDrive + L"\\Patch", game, otherDrive + L"\\Patch\\"},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game, Dir()},
      {{L"a.txt"}, L"/", E_INVALIDARG, Dir(), game, backup},
  };
  const std::string before = TreeFingerprint(Dir());
  for (const auto& c : cases) {
    const std::wstring& refused = c.refusedName;
    SCOPED_TRACE(
        Utf8(c.names.back() + L" | " + c.patch + L" | " + c.application + L" | " + c.backup));
    PatchRun run;
    for (const std::wstring& name : c.names) {
      run.files.push_back(SharedWString(name.c_str()));
    }
    run.patchDirectory = (c.patch.empty() ? patch : c.patch).c_str();
    run.applicationDirectory = (c.application.empty() ? game : c.application).c_str();
    run.backupDirectory = (c.backup.empty() ? backup : c.backup).c_str();
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
                               : "Refusing to patch \"" + Replaced(Utf8(refused), "\x1b", "\\x1b") +
                                     "\": "),
              0u)
        << text;
    EXPECT_NE(text.find("Could not patch file \""), std::string::npos) << text;
    EXPECT_EQ(text.find("Reverting"), std::string::npos) << text;
    EXPECT_EQ(TreeFingerprint(Dir()), before);
  }
}

}  // namespace
}  // namespace quorvel::test
