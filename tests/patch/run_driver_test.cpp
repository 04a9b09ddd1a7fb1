#include "patch/run_driver.h"

#include <regex>
#include <string>

#include "support/test_support.h"

namespace quorvel {
namespace {

// The reason is the last line before the Failed banner: no other step ran.
TEST(RunDriverTest, ACommandLineThatCannotBeParsedEndsTheRunWithTheFailedBanner) {
  const std::pair<const wchar_t*, const char*> cases[] = {
      {nullptr, "Could not parse the command line to get the argument list"},
      {L"4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 1 bin\\client.dll",
       "\\.Failed to build post patch command"}};
  for (const auto& [commandLine, reason] : cases) {
    test::LogCapture log;
    EXPECT_EQ(RunPatch(commandLine), 0);
    EXPECT_TRUE(std::regex_search(log.Text(),
                                  std::regex(std::string("\r\n") + reason +
                                             "\r\n\r\n======= Quorvel Failed \\d\\d/\\d\\d/\\d\\d "
                                             "\\d\\d:\\d\\d:\\d\\d ============\r\n$")))
        << log.Text();
  }
}

}  // namespace
}  // namespace quorvel
