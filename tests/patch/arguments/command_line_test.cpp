#include "patch/arguments/command_line.h"

#include "foundation/heap.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

using Words = std::vector<std::wstring>;

const std::string kParseFailure = "Could not parse the command line to get the argument list\r\n";

// Only an unquoted space separates; quotes switch, with no escape, and are dropped; the log's
// text mode writes each line feed as CR LF, also one inside an argument. A null line, an odd
// number of quotes or scratch storage that cannot grow (five arguments need the pointer array to
// grow twice) fails and keeps the list: leaving an argument out would shift the run's fields.
TEST(CommandLineTest, ArgumentsAreSplitAtUnquotedSpacesAndLoggedOrTheSplitFailsWhole) {
  const std::string list = "Argument List:\r\n";
  const wchar_t* const five = L"4242 C:\\P C:\\A C:\\B 1";
  const struct {
    const wchar_t* line;
    Words words;
    std::string log;
    uint32_t allocations = 99;
  } cases[] = {
      {L"", {}, list},
      {L"  a   b  ", {L"a", L"b"}, list + "\ta\r\n\tb\r\n"},
      {L"a\"b c\"d", {L"ab cd"}, list + "\tab cd\r\n"},
      {L"a\tb\r\n\x3000", {L"a\tb\r\n\x3000"}, list + "\ta\tb\\r\\n\xE3\x80\x80\r\n"},
      {L"a \"\" b", {L"a", L"b"}, list + "\ta\r\n\tb\r\n"},
      {L"\" \"", {L" "}, list + "\t \r\n"},
      {L"C:\\dir\\\" x\" y", {L"C:\\dir\\ x", L"y"}, list + "\tC:\\dir\\ x\r\n\ty\r\n"},
      {nullptr, {L"kept"}, "Error: No command line given\r\n" + kParseFailure},
      {L"1 \"C:\\Game 2 3\" \"x", {L"kept"}, "Error: Mismatched quote (\")\r\n" + kParseFailure},
      {five, {L"kept"}, kParseFailure, 0},
      {five, {L"kept"}, kParseFailure, 1}};
  for (const auto& c : cases) {
    LogCapture log;
    ArgumentList arguments = {SharedWString(L"kept")};
    {
      AllocationFailureAfter failure(c.allocations);
      EXPECT_EQ(BuildArgumentList(c.line, arguments), c.words != Words{L"kept"}) << c.allocations;
    }
    EXPECT_EQ(Texts(arguments), c.words) << Utf8(c.line ? c.line : L"(null)");
    EXPECT_EQ(log.Text(), c.log);
  }
}

}  // namespace
}  // namespace quorvel::test
