#include "patch/run_driver.h"

#include <regex>
#include <string>

#include "support/test_support.h"

namespace quorvel {
namespace {

const std::string kFailedBanner =
    "\r\n======= Quorvel Failed \\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d ============\r\n";

TEST(RunDriverTest, AnEmptyCommandLineFailsBeforeAnyOtherStep) {
  test::LogCapture log;
  EXPECT_EQ(RunPatch(L""), 0);
  const std::string text = log.Text();
  EXPECT_TRUE(std::regex_match(
      text, std::regex("Argument List:\r\nNo arguments on the command line\r\n" + kFailedBanner)))
      << text;
}

TEST(RunDriverTest, ANullCommandLineFailsInTheTokenizer) {
  test::LogCapture log;
  EXPECT_EQ(RunPatch(nullptr), 0);
  const std::string text = log.Text();
  EXPECT_TRUE(std::regex_match(
      text, std::regex("Error: No command line given\r\n"
                       "Could not parse the command line to get the argument list\r\n" +
                       kFailedBanner)))
      << text;
}

TEST(RunDriverTest, AnIncompleteCommandLineEndsWithTheFailedBanner) {
  test::LogCapture log;
  EXPECT_EQ(RunPatch(L"4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 1 bin\\client.dll"), 0);
  const std::string text = log.Text();
  EXPECT_TRUE(std::regex_search(text, std::regex("\r\nThere is no post patch command\r\n"
                                                 "\\.Failed to build post patch command\r\n" +
                                                 kFailedBanner + "$")))
      << text;
}

}  // namespace
}  // namespace quorvel
