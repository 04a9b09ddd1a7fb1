// Runs Quorvel.dll the way launchers do: through rundll32.exe in a process of its own.
#include <shlobj.h>

#include <regex>

#include "support/test_support.h"

namespace quorvel {
namespace {

std::wstring LogFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
  return std::wstring(folder) + L"\\Brinmoor";
}

DWORD RunRundll32(const std::wstring& arguments) {
  std::wstring commandLine = L"rundll32.exe \"" + test::ProgramFolder() + L"\\Quorvel.dll\"," +
                             L"Quorvel " + arguments;
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
  const std::wstring folder = LogFolder();
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring logFile = folder + L"\\Quorvel.log";
  const size_t before = test::ReadFileBytes(logFile).size();

  EXPECT_NE(RunRundll32(L""), ~0u);

  const std::string written = test::ReadFileBytes(logFile).substr(before);
  const std::string stamp = "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d";
  EXPECT_TRUE(std::regex_match(
      written, std::regex("\r\n\r\n======= Starting Quorvel " + stamp + " ============\r\n" +
                          "Argument List:\r\nNo arguments on the command line\r\n" +
                          "\r\n======= Quorvel Failed " + stamp + " ============\r\n")))
      << written;
}

}  // namespace
}  // namespace quorvel
