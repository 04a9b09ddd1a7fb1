#include "patch/run_driver.h"

#include <regex>
#include <string>
#include <utility>

#include "support/test_support.h"

namespace quorvel {
namespace {

// A command line that cannot be parsed ends the run with its reason and the Failed banner,
// before any other step.
TEST(RunDriverTest, ABadCommandLineEndsTheRunWithTheFailedBanner) {
  const std::string banner =
      "\r\n======= Quorvel Failed \\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d ============\r\n";
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"", "Argument List:\r\nNo arguments on the command line\r\n"},
      {nullptr,
       "Error: No command line given\r\n"
       "Could not parse the command line to get the argument list\r\n"},
      {L"4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 1 bin\\client.dll",
       "[\\s\\S]*\r\nThere is no post patch command\r\n\\.Failed to build post patch command\r\n"}};
  for (const auto& [commandLine, reason] : cases) {
    test::LogCapture log;
    EXPECT_EQ(RunPatch(commandLine), 0);
    EXPECT_TRUE(std::regex_match(log.Text(), std::regex(reason + banner))) << log.Text();
  }
}

}  // namespace
}  // namespace quorvel
