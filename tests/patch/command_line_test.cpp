#include "patch/command_line.h"

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/heap.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::LogCapture;
using Words = std::vector<std::wstring>;

const char kParseFailure[] = "Could not parse the command line to get the argument list\r\n";
const std::string kMismatchedQuote =
    std::string("Error: Mismatched quote (\")\r\n") + kParseFailure;

Words Texts(const ArgumentList& arguments) {
  Words texts;
  for (const SharedWString& argument : arguments) {
    texts.emplace_back(argument.Chars());
  }
  return texts;
}

TEST(CommandLineTest, OnlyUnquotedSpacesSeparateAndQuotesAreDroppedWithoutEscapes) {
  const struct {
    const wchar_t* line;
    Words words;
  } cases[] = {{L"", {}},
               {L"   ", {}},
               {L"  a   b  ", {L"a", L"b"}},
               {L"a\"b c\"d", {L"ab cd"}},
               {L"a\tb", {L"a\tb"}},
               {L"a\r\nb\x3000", {L"a\r\nb\x3000"}},
               {L"a \"\" b", {L"a", L"b"}},
               {L"\"\"", {}},
               {L"\" \"", {L" "}},
               {L"x\"\"y", {L"xy"}},
               // A backslash before a quote does not escape it: the quote still switches.
               {L"C:\\dir\\\" x\" y", {L"C:\\dir\\ x", L"y"}},
               {L"\\\\server\\share\\", {L"\\\\server\\share\\"}}};
  for (const auto& c : cases) {
    ArgumentList arguments = {SharedWString(L"stale")};
    ASSERT_TRUE(BuildArgumentList(c.line, arguments)) << test::Utf8(c.line);
    EXPECT_EQ(Texts(arguments), c.words) << test::Utf8(c.line);
  }
}

TEST(CommandLineTest, ANullLineOrAnOddNumberOfQuotesFailsAndKeepsTheList) {
  for (const wchar_t* line : {static_cast<const wchar_t*>(nullptr), L"1 \"C:\\Game 2 3\" \"x"}) {
    LogCapture log;
    ArgumentList arguments = {SharedWString(L"kept")};
    EXPECT_FALSE(BuildArgumentList(line, arguments));
    EXPECT_EQ(Texts(arguments), (Words{L"kept"}));
    EXPECT_EQ(log.Text(), line == nullptr
                              ? std::string("Error: No command line given\r\n") + kParseFailure
                              : kMismatchedQuote);
  }
}

// Five arguments need the pointer array to grow twice (to 4, then 8); when it cannot, leaving
// the fifth argument out would shift the later fields of the run, so the split fails instead.
TEST(CommandLineTest, ScratchStorageThatCannotGrowFailsTheSplit) {
  const wchar_t* commandLine = L"4242 C:\\P C:\\A C:\\B 1";
  for (uint32_t successes : {0u, 1u, 2u}) {
    LogCapture log;
    ArgumentList arguments = {SharedWString(L"kept")};
    {
      AllocationFailureAfter failure(successes);
      EXPECT_FALSE(BuildArgumentList(commandLine, arguments)) << successes;
    }
    EXPECT_EQ(Texts(arguments), (Words{L"kept"}));
    EXPECT_EQ(log.Text(), kParseFailure);
  }
  ArgumentList arguments;
  EXPECT_TRUE(BuildArgumentList(commandLine, arguments));
  EXPECT_EQ(arguments.size(), 5u);
}

// The rules stated differently: a space separates when an even number of quotes precede it;
// quotes are removed from each piece, and pieces left empty are no arguments.
bool ModelSplit(const std::wstring& line, Words& words) {
  std::wstring piece;
  size_t quotes = 0;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || (line[i] == L' ' && quotes % 2 == 0)) {
      std::wstring argument;
      for (wchar_t c : piece) {
        argument += c == L'"' ? L"" : std::wstring(1, c);
      }
      if (!argument.empty()) {
        words.push_back(argument);
      }
      piece.clear();
      continue;
    }
    quotes += line[i] == L'"' ? 1 : 0;
    piece += line[i];
  }
  return quotes % 2 == 0;
}

TEST(CommandLineTest, RandomCommandLinesSplitAsTheRulesSay) {
  // ASCII pieces first: every third line is drawn from them alone, so its log can be compared.
  const std::wstring pieces[] = {L" ",     L" ",    L" ",      L"\"",     L"\"",          L"\t",
                                 L"\\",    L"a",    L"b",      L"Z",      L"0",           L":",
                                 L"-text", L"\r\n", L"\x00E9", L"\x4E2D", L"\xD83D\xDE00"};
  const size_t asciiPieces = 14;
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> length(0, 60);
  LogCapture log;
  int failures = 0;
  int comparedLogs = 0;
  for (int round = 0; round < 1500; ++round) {
    std::uniform_int_distribution<size_t> pick(
        0, (round % 3 == 0 ? asciiPieces : std::size(pieces)) - 1);
    std::wstring line;
    for (int n = length(random); n > 0; --n) {
      line += pieces[pick(random)];
    }
    Words expected;
    const bool valid = ModelSplit(line, expected);
    ArgumentList arguments;
    const bool split = BuildArgumentList(line.c_str(), arguments);
    const std::string written = log.Text();
    DeleteFileW(log.FilePath().c_str());
    ASSERT_EQ(split, valid) << test::Utf8(line);
    if (!valid) {
      ++failures;
      ASSERT_EQ(written, kMismatchedQuote);
      continue;
    }
    ASSERT_EQ(Texts(arguments), expected) << test::Utf8(line);
    // The log's encoding of other characters is the formatter's; ASCII must arrive as it is,
    // with the log's text mode turning each line feed into CR LF.
    std::string lines = "Argument List:\r\n";
    bool ascii = true;
    for (const std::wstring& word : expected) {
      lines += "\t";
      for (wchar_t c : word) {
        ascii = ascii && c < 0x80;
        lines += c == L'\n' ? std::string("\r\n") : std::string(1, static_cast<char>(c));
      }
      lines += "\r\n";
    }
    if (ascii) {
      ++comparedLogs;
      ASSERT_EQ(written, lines) << test::Utf8(line);
    }
  }
  // Both outcomes, and logs, were exercised.
  EXPECT_GT(failures, 300);
  EXPECT_LT(failures, 1200);
  EXPECT_GT(comparedLogs, 150);
}

}  // namespace
}  // namespace quorvel
