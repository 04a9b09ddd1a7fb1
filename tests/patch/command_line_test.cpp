#include "patch/command_line.h"

#include <cwchar>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/heap.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::LogCapture;

const char kParseFailure[] = "Could not parse the command line to get the argument list\r\n";

std::vector<std::wstring> Texts(const ArgumentList& arguments) {
  std::vector<std::wstring> texts;
  for (const SharedWString& argument : arguments) {
    texts.emplace_back(argument.Chars());
  }
  return texts;
}

// Splits and returns the arguments; a failure gives the single entry "<failed>".
std::vector<std::wstring> Split(const wchar_t* commandLine) {
  ArgumentList arguments;
  if (!BuildArgumentList(commandLine, arguments)) {
    return {L"<failed>"};
  }
  return Texts(arguments);
}

using Words = std::vector<std::wstring>;

TEST(CommandLineTest, AnEmptyCommandLineLogsTheHeaderOnly) {
  LogCapture log;
  ArgumentList arguments = {SharedWString(L"stale")};
  EXPECT_TRUE(BuildArgumentList(L"", arguments));
  EXPECT_TRUE(arguments.empty());
  EXPECT_TRUE(BuildArgumentList(L"   ", arguments));
  EXPECT_EQ(log.Text(), "Argument List:\r\nArgument List:\r\n");
}

TEST(CommandLineTest, QuotesGroupASpacedDirectoryAndEachArgumentIsLogged) {
  LogCapture log;
  ArgumentList arguments;
  ASSERT_TRUE(BuildArgumentList(L"12 \"C:\\Patch Dir\" x", arguments));
  EXPECT_EQ(Texts(arguments), (Words{L"12", L"C:\\Patch Dir", L"x"}));
  EXPECT_EQ(log.Text(), "Argument List:\r\n\t12\r\n\tC:\\Patch Dir\r\n\tx\r\n");
}

TEST(CommandLineTest, OnlyUnquotedSpacesSeparate) {
  EXPECT_EQ(Split(L"a\"b c\"d"), (Words{L"ab cd"}));
  EXPECT_EQ(Split(L"a\tb"), (Words{L"a\tb"}));
  EXPECT_EQ(Split(L"  a   b  "), (Words{L"a", L"b"}));
  EXPECT_EQ(Split(L"a\r\nb\x3000"
                  L"c"),
            (Words{L"a\r\nb\x3000"
                   L"c"}));
}

TEST(CommandLineTest, QuotesAreNeverPartOfAnArgumentAndNothingEscapes) {
  EXPECT_EQ(Split(L"a \"\" b"), (Words{L"a", L"b"}));
  EXPECT_EQ(Split(L"\"\""), Words{});
  EXPECT_EQ(Split(L"\" \""), (Words{L" "}));
  EXPECT_EQ(Split(L"x\"\"y"), (Words{L"xy"}));
  // A backslash before a quote does not escape it: the quote still switches.
  EXPECT_EQ(Split(L"C:\\dir\\\" x\" y"), (Words{L"C:\\dir\\ x", L"y"}));
  EXPECT_EQ(Split(L"\\\\server\\share\\"), (Words{L"\\\\server\\share\\"}));
}

TEST(CommandLineTest, AnOddNumberOfQuotesFailsAndKeepsTheList) {
  LogCapture log;
  ArgumentList arguments = {SharedWString(L"kept")};
  EXPECT_FALSE(BuildArgumentList(L"1 \"C:\\Game 2 3\" \"x", arguments));
  EXPECT_EQ(Texts(arguments), (Words{L"kept"}));
  EXPECT_EQ(log.Text(), std::string("Error: Mismatched quote (\")\r\n") + kParseFailure);
}

TEST(CommandLineTest, ANullCommandLineFails) {
  LogCapture log;
  ArgumentList arguments;
  EXPECT_FALSE(BuildArgumentList(nullptr, arguments));
  EXPECT_EQ(log.Text(), std::string("Error: No command line given\r\n") + kParseFailure);
}

TEST(CommandLineTest, TokenizeFillsTheBufferAndTheStarts) {
  LogCapture log;
  CharBuffer buffer;
  DynArray<wchar_t*> starts;
  const wchar_t* commandLine = L" ab \"c d\" e";
  ASSERT_TRUE(TokenizeCommandLine(commandLine, buffer, starts));
  EXPECT_EQ(buffer.Size(), 2 * (wcslen(commandLine) + 1));
  ASSERT_EQ(starts.Count(), 3u);
  const auto* text = static_cast<const wchar_t*>(buffer.Data());
  EXPECT_EQ(starts[0], text);
  EXPECT_EQ(std::wstring(text, 9), std::wstring(L"ab\0c d\0e\0", 9));
  EXPECT_EQ(starts[1], text + 3);
  EXPECT_EQ(starts[2], text + 7);
}

// Five arguments need the pointer array to grow twice (to 4, then 8); when it cannot, leaving
// the fifth argument out would shift the later fields of the run, so the split fails instead.
TEST(CommandLineTest, ScratchStorageThatCannotGrowFailsTheSplit) {
  const wchar_t* commandLine = L"4242 C:\\P C:\\A C:\\B 1";
  EXPECT_EQ(Split(commandLine).size(), 5u);
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
}

TEST(CommandLineTest, PopFrontMovesTheFirstArgument) {
  ArgumentList arguments = {SharedWString(L"first"), SharedWString(), SharedWString(L"third")};
  const StringHeader* block = arguments.front().Header();
  SharedWString destination(L"before");
  EXPECT_TRUE(PopFront(arguments, destination));
  EXPECT_STREQ(destination.Chars(), L"first");
  EXPECT_EQ(destination.Header(), block);
  EXPECT_FALSE(PopFront(arguments, destination));
  EXPECT_TRUE(destination.IsEmpty());
  EXPECT_EQ(Texts(arguments), (Words{L"third"}));
  EXPECT_TRUE(PopFront(arguments, destination));
  destination = L"untouched";
  EXPECT_FALSE(PopFront(arguments, destination));
  EXPECT_STREQ(destination.Chars(), L"untouched");
}

// The rules stated differently: a space separates when an even number of quotes precede it;
// quotes are removed from each piece, and pieces left empty are no arguments.
bool ModelSplit(const std::wstring& line, Words& words) {
  std::wstring piece;
  size_t quotes = 0;
  auto close = [&]() {
    std::wstring argument;
    for (wchar_t c : piece) {
      if (c != L'"') {
        argument += c;
      }
    }
    if (!argument.empty()) {
      words.push_back(argument);
    }
    piece.clear();
  };
  for (wchar_t c : line) {
    if (c == L' ' && quotes % 2 == 0) {
      close();
      continue;
    }
    quotes += c == L'"' ? 1 : 0;
    piece += c;
  }
  close();
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
    const size_t available = round % 3 == 0 ? asciiPieces : std::size(pieces);
    std::uniform_int_distribution<size_t> pick(0, available - 1);
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
      ASSERT_EQ(written, std::string("Error: Mismatched quote (\")\r\n") + kParseFailure);
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
