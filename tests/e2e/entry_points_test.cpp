// The exports as hosts call them: rundll32.exe in a process of its own, and the built
// Quorvel.dll loaded here with its exports looked up by name. The library writes to the user's
// log.
#include <cstring>

#include "support/test_support.h"

namespace quorvel::test {
namespace {

TEST(NarrowEntryTest, AnAnsiCommandLineRunsAsTheSameTextInUtf16AndNullIsAnEmptyOne) {
  const HMODULE library = LoadLibraryW((ProgramFolder() + L"\\Quorvel.dll").c_str());
  // The generic function pointer type converts to any other without a warning.
  const auto narrow = reinterpret_cast<int(WINAPI*)(HWND, HINSTANCE, const char*, int)>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "Quorvel")));
  const auto wide = reinterpret_cast<int(WINAPI*)(HWND, HINSTANCE, const wchar_t*, int)>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "QuorvelW")));
  ASSERT_TRUE(narrow != nullptr && wide != nullptr);
  // Accented letters where the ANSI code page has them.
  std::wstring text = L"-text \"Mise \x00E0 jour\" 4242 P \"C:\\Jeu \x00E9t\x00E9\" B 1 a.dll";
  BOOL lossy = FALSE;
  char ansi[256] = {};
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, ansi, 256, nullptr, &lossy);
  if (lossy) {
    text = L"-text \"Mise a jour\" 4242 P \"C:\\Jeu ete\" B 1 a.dll";
    std::strcpy(ansi, Utf8(text).c_str());
  }
  UserRunLog wideLog;
  EXPECT_EQ(wide(nullptr, nullptr, text.c_str(), SW_SHOWNORMAL), 0);
  const std::string wideRun = wideLog.Added();
  UserRunLog narrowLog;
  EXPECT_EQ(narrow(nullptr, nullptr, ansi, SW_SHOWNORMAL), 0);
  EXPECT_EQ(narrowLog.Added(), wideRun);
  // The log is UTF-8 whatever the ANSI code page.
  EXPECT_TRUE(Has(wideRun, "<" + Utf8(text.substr(text.find(L"C:"), 10)) + ">")) << wideRun;
  UserRunLog nullLog;
  EXPECT_EQ(narrow(nullptr, nullptr, nullptr, SW_SHOWNORMAL), 0);
  EXPECT_EQ(nullLog.Added(),
            "Argument List:\r\nNo arguments on the command line\r\n\r\n"
            "======= Quorvel Failed <stamp> ============\r\n");
  FreeLibrary(library);
}

// A launcher that starts the same command twice at once (or spelt otherwise): the second run
// waits for the first and finds the patch applied; the launcher, which stays up, is started once.
// Runs on two games at once do not wait for each other.
TEST(Rundll32Test, TwoRunsStartedTogetherPatchTheGameOnceAndStartTheLauncherOnce) {
  for (int round = 0; round < 21; ++round) {
    ScopedTempDir dirs[2];
    WaitingProcess launcher;  // both runs go on at its end
    const NamedEvent stay(L"launcher_stay");
    UserRunLog log;
    HelperProcess runs[2];
    // The last round runs on two games, the others twice on one.
    const int games = round == 20 ? 2 : 1;
    for (int i = 0; i < 2; ++i) {
      // The runs wait for the launcher, so a game laid after a run has started is still new to it.
      std::wstring game = dirs[i % games] / L"Game";
      if (i == 1 && round % 2 == 1) {
        CharUpperW(&game[0]);  // the same game however spelt
      }
      if (i < games) {
        WriteFileBytes(game + L"\\a.txt", "old"), WriteFileBytes(game + L"\\Patch\\a.txt", "new");
        WriteFileBytes(game + L"\\Patch\\b\\c.txt", "new");
        CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(),
                  (game + L"\\DastryLauncher.exe").c_str(), TRUE);
      }
      ASSERT_TRUE(runs[i].Start(
          L"rundll32.exe",
          L"\"" + ProgramFolder() + L"\\Quorvel.dll\",Quorvel " + std::to_wstring(launcher.Id()) +
              L" \"" + game + L"\\Patch\" \"" + game + L"\" \"" + game +
              L"\\Backup\" 2 a.txt b\\c.txt \"" + game + L"\\DastryLauncher.exe\" --stay " +
              stay.Name(),
          // On the game's drive, where the launcher-running check looks for the launcher.
          dirs[0].Path().substr(0, dirs[0].Path().rfind(L'\\'))))
          << "round " << round << ", run " << i << ": error " << GetLastError();
    }
    launcher.Finish();
    EXPECT_TRUE(runs[0].WaitForExit(60000) && runs[1].WaitForExit(60000));
    const std::string added = log.Added();
    EXPECT_EQ(Count(added, "Quorvel Complete"), 2u) << added;
    EXPECT_EQ(Count(added, "Executing post patch command"), static_cast<size_t>(games)) << added;
    for (int i = 0; i < games; ++i) {
      const std::wstring game = dirs[i] / L"Game";
      EXPECT_EQ(Contents({game + L"\\a.txt", game + L"\\b\\c.txt"}), "new|new|") << added;
      const std::wstring record = game + L"\\DastryLauncher.record.txt";
      EXPECT_TRUE(Eventually([&] { return Has(ReadFileBytes(record), "RESULT=0x00000000"); }));
      stay.Set();
      WaitForRecordedLauncher(record);
    }
  }
}

}  // namespace
}  // namespace quorvel::test
