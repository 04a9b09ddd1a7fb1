// Runs refused before anything on disk changes, for names and folders that could lose a file.
#include "patch/checks/run_checks.h"

#include <cstdlib>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

// path's short name, or only its last part.
std::wstring ShortName(const std::wstring& path, bool lastPart = false) {
  wchar_t buffer[MAX_PATH] = {};
  GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  const std::wstring name = buffer;
  return lastPart ? name.substr(name.rfind(L'\\') + 1) : name;
}

// A run that is refused: its names, the one refused (empty: the last; "/": a folder is at fault)
// and its folders (empty: the layout's own).
struct Refused {
  std::vector<std::wstring> names;
  std::wstring refused = L"";
  HRESULT result = E_INVALIDARG;
  std::wstring patch = L"", application = L"", backup = L"";
};

// The game folder holds its patch and backup folders, as launchers lay them out.
class RunChecksTest : public PatchTest {
 protected:
  void SetUp() override {
    LayGame(game_);
    WriteFileBytes(At(L"Game\\long file name.txt"), "old long");
    CreateDirectoryW(backup_.c_str(), nullptr);
  }
  // Each run fails with its result and logs, sets the variables the launcher reads and changes
  // nothing on disk.
  void ExpectRefused(const std::vector<Refused>& cases) {
    const std::string before = TreeFingerprint(Dir());
    for (size_t row = 0; row < cases.size(); ++row) {
      const Refused& c = cases[row];
      const std::wstring refused = c.refused.empty() ? c.names.back() : c.refused;
      SCOPED_TRACE("row " + std::to_string(row) + ": " + Utf8(refused));
      PatchRun run;
      for (const std::wstring& name : c.names) {
        run.files.push_back(SharedWString(name.c_str()));
      }
      run.patchDirectory = (c.patch.empty() ? game_ + L"\\Patch" : c.patch).c_str();
      run.applicationDirectory = (c.application.empty() ? game_ : c.application).c_str();
      run.backupDirectory = (c.backup.empty() ? backup_ : c.backup).c_str();
      _wputenv(L"QUORVEL_RESULT=");
      _wputenv(L"QUORVEL_FILENAME=");
      log_.Clear();

      EXPECT_EQ(PatchFiles(run), c.result);

      char result[16];
      snprintf(result, sizeof(result), "0x%08x", static_cast<unsigned>(c.result));
      EXPECT_EQ(Variable(L"QUORVEL_RESULT"), result);
      const bool folder = refused == L"/";
      EXPECT_EQ(Variable(L"QUORVEL_FILENAME"),
                folder || refused.empty() ? "(unset)" : Utf8(refused));
      const std::string text = log_.Text();
      EXPECT_EQ(text.find(folder ? "Refusing to patch: the "
                                 : "Refusing to patch \"" +
                                       Replaced(Utf8(refused), "\x1b", "\\x1b") + "\": "),
                0u)
          << text;
      EXPECT_EQ(text.find("Reverting"), std::string::npos) << text;
      EXPECT_EQ(TreeFingerprint(Dir()), before);
    }
  }
  // Each name alone is refused.
  void ExpectEachRefused(std::initializer_list<const wchar_t*> names) {
    std::vector<Refused> cases;
    for (const wchar_t* name : names) {
      cases.push_back({{name}});
    }
    ExpectRefused(cases);
  }

  const std::wstring game_ = At(L"Game"), backup_ = At(L"Game\\Backup Folder");
};

// The empty name unsets QUORVEL_FILENAME; folders of the game or of the patch are no files.
TEST_F(RunChecksTest, NamesThatAreNotPlainRelativeFileNames) {
  ExpectRefused({{{L"a.txt", L""}}, {{L"a.txt", L"\\a.txt"}}, {{L"a.txt", L"n"}}});
  ExpectEachRefused({L"d",          L"C:a.txt",  L"a.txt:alt", L"d\\..\\a.txt", L".\\a.txt",
                     L"d\\\\e.txt", L"d/",       L"a.txt ",    L"d.\\e.txt",    L"d\\CON",
                     L"nul.txt",    L"Com1.dll", L"lpt9",      L"a<b.txt",      L"a\x1b.txt",
                     L"CONIN$",     L"con .txt", L"NUL  .dat", L"COM\u00B9",    L"lpt\u00B3.log"});
  ExpectEachRefused({L"\\\\server\\share\\a.txt", L"\\\\?\\C:\\a.txt", L"Quorvel.journal",
                     L"d\\conout$.txt", std::wstring(32767 - 9, L'a').c_str()});
}

// Names that are the same name to the file system, or a file below a name listed as a file.
TEST_F(RunChecksTest, NamesThatMeetAnotherName) {
  const std::wstring shortFile = ShortName(At(L"Game\\long file name.txt"), true);
  ExpectRefused(
      {{{L"a.txt", L"A.TXT"}},
       {{L"d\\e.txt", L"D/e.txt"}},
       {{L"d", L"d\\e.txt"}, L"d"},
       {{L"D/e.txt", L"d"}, L"D/e.txt"},
       {{L"\u00C9tude.dat", L"\u00E9tude.dat"}},
       {{L"\u0414\u0430\u043D\u043D\u044B\u0435.pak", L"\u0434\u0430\u043D\u043D\u044B\u0435.pak"}},
       {{L"\u00C4\\x.dat", L"\u00E4/x.dat"}},
       {{L"\u00C4", L"\u00E4/x.dat"}, L"\u00C4"},
       {{L"long file name.txt", shortFile}}});
}

TEST_F(RunChecksTest, NamesThatLeadIntoThePatchOrBackupFolder) {
  const std::wstring shortBackup = ShortName(backup_, true);
  ASSERT_NE(shortBackup.find(L'~'), std::wstring::npos);
  ExpectRefused({{{L"a.txt", L"Patch\\a.txt"}}, {{L"PATCH"}}, {{shortBackup + L"\\x.txt"}}});
}

// Folders that are missing, files, the same folder, that hold the game folder, or that end in
// a space or a dot, which Windows drops at the end of a path but not inside one.
TEST_F(RunChecksTest, FoldersThatCouldLoseAFile) {
  const HRESULT kNoFolder = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  const std::wstring patch = game_ + L"\\Patch";
  std::wstring otherDrive = game_;
  otherDrive[0] = L'E';  // drive E is drive C again in the test prefix
  ASSERT_EQ(game_[0], L'C');
  ExpectRefused({
      {{L"a.txt"}, L"/", kNoFolder, game_ + L"\\Nowhere", game_, backup_},
      {{L"a.txt"}, L"/", kNoFolder, patch, At(L"Nowhere"), backup_},
      {{L"a.txt"}, L"/", kNoFolder, patch, game_, game_ + L"\\gone.txt"},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game_, L"\\\\?\\" + game_},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game_, otherDrive},
      {{L"a.txt"}, L"/", E_INVALIDARG, ShortName(backup_), game_, backup_},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game_, Dir()},
      {{L"a.txt"}, L"/", E_INVALIDARG, Dir(), game_, backup_},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch, game_, backup_ + L" "},
      {{L"a.txt"}, L"/", E_INVALIDARG, patch + L".", game_, backup_},
  });
}

}  // namespace
}  // namespace quorvel::test
