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

TEST(Rundll32Test, ARunKilledPartWayIsFinishedByTheSameCommandStartedAgain) {
  constexpr int kFiles = 300;
  ScopedTempDir dir;
  const std::wstring game = dir / L"Game";
  HelperProcess ended;  // its id names a launcher that has already exited
  ASSERT_TRUE(ended.Start(L"cut_short_run.exe", L""));
  ASSERT_TRUE(ended.WaitForExit(60000));
  std::wstring command = L"\"" + ProgramFolder() + L"\\Quorvel.dll\",Quorvel " +
                         std::to_wstring(ended.Id()) + L" \"" + game + L"\\Patch\" \"" + game +
                         L"\" \"" + game + L"\\Backup\" " + std::to_wstring(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring name = L"f\\" + std::to_wstring(1000 + i) + L".dat";
    WriteFileBytes(game + L"\\" + name, "old " + std::to_string(i));
    WriteFileBytes(game + L"\\Patch\\" + name, "new " + std::to_string(i));
    WriteFileBytes(dir / L"Expected\\" + name, "new " + std::to_string(i));
    WriteFileBytes(dir / L"Expected\\Backup\\" + name, "old " + std::to_string(i));
    command += L" " + name;
  }
  CreateDirectoryW((dir / L"Expected\\Patch").c_str(), nullptr);
  // The command to start afterwards: the helper exits at once without arguments.
  command += L" \"" + ProgramFolder() + L"\\cut_short_run.exe\"";

  HelperProcess run;
  ASSERT_TRUE(run.Start(L"rundll32.exe", command));
  // Files are backed up in the order listed.
  ASSERT_TRUE(Eventually([&] { return PathExists(game + L"\\Backup\\f\\1100.dat"); }));
  ASSERT_FALSE(run.WaitForExit(0)) << "the run ended before it could be cut short";
  TerminateProcess(run.Handle(), 1);
  ASSERT_TRUE(run.WaitForExit(60000));
  ASSERT_NE(TreeFingerprint(game, L"Quorvel.journal"), TreeFingerprint(dir / L"Expected"));

  HelperProcess again;
  ASSERT_TRUE(again.Start(L"rundll32.exe", command));
  ASSERT_TRUE(again.WaitForExit(60000));

  EXPECT_EQ(TreeFingerprint(game, L"Quorvel.journal"), TreeFingerprint(dir / L"Expected"));
}

}  // namespace
}  // namespace quorvel::test
