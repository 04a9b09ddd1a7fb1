#include "patch/command_line.h"

#include <regex>
#include <string>
#include <vector>

#include "foundation/heap.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using Words = std::vector<std::wstring>;

const char kParseFailure[] = "Could not parse the command line to get the argument list\r\n";

// Only an unquoted space separates; quotes switch, with no escape, and are dropped.
TEST(CommandLineTest, ArgumentsAreSplitAtUnquotedSpacesAndLogged) {
  const struct {
    const wchar_t* line;
    Words words;
  } cases[] = {{L"", {}},
               {L"  a   b  ", {L"a", L"b"}},
               {L"a\"b c\"d", {L"ab cd"}},
               {L"a\tb\r\n\x3000", {L"a\tb\r\n\x3000"}},
               {L"a \"\" b", {L"a", L"b"}},
               {L"\" \"", {L" "}},
               {L"C:\\dir\\\" x\" y", {L"C:\\dir\\ x", L"y"}}};
  for (const auto& c : cases) {
    test::LogCapture log;
    ArgumentList arguments = {SharedWString(L"stale")};
    ASSERT_TRUE(BuildArgumentList(c.line, arguments)) << test::Utf8(c.line);
    EXPECT_EQ(test::Texts(arguments), c.words) << test::Utf8(c.line);
    std::string lines = "Argument List:\r\n";
    for (const std::wstring& word : c.words) {
      // The log's text mode writes each line feed as CR LF, also one inside an argument.
      lines += "\t" + std::regex_replace(test::Utf8(word), std::regex("\n"), "\r\n") + "\r\n";
    }
    EXPECT_EQ(log.Text(), lines);
  }
}

// When scratch storage cannot grow (five arguments need the pointer array to grow twice),
// leaving an argument out would shift the later fields of the run: the split fails instead.
TEST(CommandLineTest, ANullLineAnOddNumberOfQuotesOrStorageThatCannotGrowFailsAndKeepsTheList) {
  const struct {
    const wchar_t* line;
    uint32_t allocations;
    std::string log;
  } cases[] = {{nullptr, 99, "Error: No command line given\r\n"},
               {L"1 \"C:\\Game 2 3\" \"x", 99, "Error: Mismatched quote (\")\r\n"},
               {L"4242 C:\\P C:\\A C:\\B 1", 0, ""},
               {L"4242 C:\\P C:\\A C:\\B 1", 1, ""},
               {L"4242 C:\\P C:\\A C:\\B 1", 2, ""}};
  for (const auto& c : cases) {
    test::LogCapture log;
    ArgumentList arguments = {SharedWString(L"kept")};
    {
      AllocationFailureAfter failure(c.allocations);
      EXPECT_FALSE(BuildArgumentList(c.line, arguments)) << c.allocations;
    }
    EXPECT_EQ(test::Texts(arguments), Words{L"kept"});
    EXPECT_EQ(log.Text(), c.log + kParseFailure);
  }
}

}  // namespace
}  // namespace quorvel
