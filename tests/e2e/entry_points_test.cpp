// The exports as hosts call them: rundll32.exe in a process of its own, and the built
// Quorvel.dll loaded here with its exports looked up by name. The library writes to the user's
// log.
#include <cstring>
#include <regex>
#include <string>

#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(Rundll32Test, AnEmptyCommandLineIsLoggedBetweenTheOpeningAndTheFailedBanner) {
  test::UserRunLog log;
  test::HelperProcess run;
  ASSERT_TRUE(
      run.Start(test::Rundll32Path(), L"\"" + test::ProgramFolder() + L"\\Quorvel.dll\",Quorvel"));
  EXPECT_TRUE(run.WaitForExit(60000)) << "the run did not end";
  const std::string stamp = "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d ============\r\n";
  EXPECT_TRUE(
      std::regex_match(log.Added(true), std::regex("\r\n\r\n======= Starting Quorvel " + stamp +
                                                   "Argument List:\r\nNo arguments on the "
                                                   "command line\r\n\r\n======= Quorvel "
                                                   "Failed " +
                                                   stamp)))
      << log.Added(true);
}

const char kFailedBanner[] = "\r\n======= Quorvel Failed <stamp> ============\r\n";

TEST(NarrowEntryTest, AnAnsiCommandLineRunsAsTheSameTextInUtf16AndNullIsAnEmptyOne) {
  const HMODULE library = LoadLibraryW((test::ProgramFolder() + L"\\Quorvel.dll").c_str());
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
    std::strcpy(ansi, test::Utf8(text).c_str());
  }
  test::UserRunLog wideLog;
  EXPECT_EQ(wide(nullptr, nullptr, text.c_str(), SW_SHOWNORMAL), 0);
  const std::string wideRun = wideLog.Added();
  test::UserRunLog narrowLog;
  EXPECT_EQ(narrow(nullptr, nullptr, ansi, SW_SHOWNORMAL), 0);
  EXPECT_EQ(narrowLog.Added(), wideRun);
  EXPECT_TRUE(test::EndsWith(wideRun, std::string("File: \"a.dll\"\r\nThere is no post patch "
                                                  "command\r\n.Failed to build post patch "
                                                  "command\r\n") +
                                          kFailedBanner))
      << wideRun;
  test::UserRunLog nullLog;
  EXPECT_EQ(narrow(nullptr, nullptr, nullptr, SW_SHOWNORMAL), 0);
  EXPECT_EQ(wide(nullptr, nullptr, nullptr, SW_SHOWNORMAL), 0);
  EXPECT_EQ(nullLog.Added(), std::string("Argument List:\r\nNo arguments on the command line\r\n") +
                                 kFailedBanner +
                                 "Error: No command line given\r\nCould not parse the command line "
                                 "to get the argument list\r\n" +
                                 kFailedBanner);
  FreeLibrary(library);
}

}  // namespace
}  // namespace quorvel
