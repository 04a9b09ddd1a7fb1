// Runs Quorvel.dll the way launchers do: through rundll32.exe in a process of its own.
#include <regex>

#include "support/test_support.h"
#include "support/user_run_log.h"

namespace quorvel {
namespace {

DWORD RunRundll32(const std::wstring& arguments) {
  std::wstring commandLine =
      L"rundll32.exe \"" + test::ProgramFolder() + L"\\Quorvel.dll\"," + L"Quorvel " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return ~0u;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = ~0u;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

TEST(Rundll32Test, AnEmptyCommandLineIsLoggedBetweenTheOpeningAndTheFailedBanner) {
  test::UserRunLog log;

  EXPECT_NE(RunRundll32(L""), ~0u);

  const std::string written = log.Added();
  const std::string stamp = "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d";
  EXPECT_TRUE(std::regex_match(
      written, std::regex("\r\n\r\n======= Starting Quorvel " + stamp + " ============\r\n" +
                          "Argument List:\r\nNo arguments on the command line\r\n" +
                          "\r\n======= Quorvel Failed " + stamp + " ============\r\n")))
      << written;
}

}  // namespace
}  // namespace quorvel
