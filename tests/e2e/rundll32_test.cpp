// Runs Quorvel.dll the way launchers do: through rundll32.exe in a process of its own.
#include <regex>

#include "support/helper_process.h"
#include "support/test_support.h"
#include "support/tree_fingerprint.h"
#include "support/user_run_log.h"

namespace quorvel {
namespace {

// The exit code of rundll32.exe Quorvel.dll,Quorvel <arguments>.
DWORD RunRundll32(const std::wstring& arguments) {
  test::HelperProcess run;
  EXPECT_TRUE(run.Start(test::Rundll32Path(),
                        L"\"" + test::ProgramFolder() + L"\\Quorvel.dll\",Quorvel " + arguments))
      << GetLastError();
  EXPECT_TRUE(run.WaitForExit(60000)) << "the run did not end";
  return run.ExitCode();
}

TEST(Rundll32Test, AnEmptyCommandLineIsLoggedBetweenTheOpeningAndTheFailedBanner) {
  test::UserRunLog log;

  EXPECT_NE(RunRundll32(L""), STILL_ACTIVE);

  const std::string written = log.Added();
  const std::string stamp = "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d";
  EXPECT_TRUE(std::regex_match(
      written, std::regex("\r\n\r\n======= Starting Quorvel " + stamp + " ============\r\n" +
                          "Argument List:\r\nNo arguments on the command line\r\n" +
                          "\r\n======= Quorvel Failed " + stamp + " ============\r\n")))
      << written;
}

size_t FilesIn(const std::wstring& folder) {
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((folder + L"\\*.dat").c_str(), &found);
  size_t count = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      ++count;
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return count;
}

TEST(Rundll32Test, ARunKilledPartWayIsFinishedByTheSameCommandStartedAgain) {
  constexpr int kFiles = 300;
  test::ScopedTempDir dir;
  const std::wstring game = dir / L"Game";
  test::HelperProcess ended;  // its id names a launcher that has already exited
  ASSERT_TRUE(ended.Start(L"cut_short_run.exe", L""));
  ASSERT_TRUE(ended.WaitForExit(60000));
  std::wstring arguments = std::to_wstring(ended.Id()) + L" \"" + game + L"\\Patch\" \"" + game +
                           L"\" \"" + game + L"\\Backup\" " + std::to_wstring(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring name = L"f\\" + std::to_wstring(1000 + i) + L".dat";
    test::WriteFileBytes(game + L"\\" + name, "old " + std::to_string(i));
    test::WriteFileBytes(game + L"\\Patch\\" + name, "new " + std::to_string(i));
    test::WriteFileBytes(dir / L"Expected\\" + name, "new " + std::to_string(i));
    test::WriteFileBytes(dir / L"Expected\\Backup\\" + name, "old " + std::to_string(i));
    arguments += L" " + name;
  }
  CreateDirectoryW((dir / L"Expected\\Patch").c_str(), nullptr);
  // The command to start afterwards: the helper exits at once without arguments.
  arguments += L" \"" + test::ProgramFolder() + L"\\cut_short_run.exe\"";
  test::UserRunLog log;

  test::HelperProcess run;
  ASSERT_TRUE(run.Start(test::Rundll32Path(),
                        L"\"" + test::ProgramFolder() + L"\\Quorvel.dll\",Quorvel " + arguments));
  ASSERT_TRUE(test::Eventually([&] { return FilesIn(game + L"\\Backup\\f") >= kFiles / 3; }));
  ASSERT_FALSE(run.WaitForExit(0)) << "the run ended before it could be cut short";
  TerminateProcess(run.Handle(), 1);
  ASSERT_TRUE(run.WaitForExit(60000));
  ASSERT_NE(test::TreeFingerprint(game, L"Quorvel.journal"),
            test::TreeFingerprint(dir / L"Expected"));

  EXPECT_NE(RunRundll32(arguments), STILL_ACTIVE);

  EXPECT_EQ(test::TreeFingerprint(game, L"Quorvel.journal"),
            test::TreeFingerprint(dir / L"Expected"));
  const std::string written = log.Added();
  EXPECT_NE(written.find("A run was cut short: restoring its 300 files\r\n"), std::string::npos);
  EXPECT_NE(written.find("All Quorvel patches successful\r\n"), std::string::npos);
  EXPECT_NE(written.find("======= Quorvel Complete "), std::string::npos);
}

}  // namespace
}  // namespace quorvel
