// Runs Quorvel.dll the way launchers do: through rundll32.exe in a process of its own.
#include <regex>

#include "support/helper_process.h"
#include "support/test_support.h"
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

}  // namespace
}  // namespace quorvel
