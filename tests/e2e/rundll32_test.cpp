// A run cut short: rundll32.exe Quorvel.dll,Quorvel with nothing to do, in a process of its own.
#include <regex>

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

}  // namespace
}  // namespace quorvel
