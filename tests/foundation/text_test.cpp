// Formatting, code-page conversion, the run log and failure results.

#include "foundation/code_page.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// a, U+4E2D, z: the middle character has no form in code page 1252.
const wchar_t kWideHan[] = {L'a', 0x4E2D, L'z', 0};
const char kUtf8Han[] = "a\xE4\xB8\xADz";

std::string Narrow(const wchar_t* text, UINT codePage) {
  SharedString narrow("old");
  ConvertToCodePage(text, narrow, codePage);
  return narrow.Chars();
}

TEST(FormatTest, ResultsHaveTheirExactSizeAndNothingIsTheSharedEmptyString) {
  SharedWString wide;
  EXPECT_EQ(Format(wide, L"%ls-%d", L"abc", 42), 6);
  EXPECT_TRUE(wide.Equals(L"abc-42") && wide.Header()->capacity == 7)
      << wide.Chars() << ", capacity " << wide.Header()->capacity;
  EXPECT_TRUE(Format(wide, L"") == 0 && wide.Header() == SharedWString::EmptyHeader())
      << "empty result: " << wide.Chars();
  const std::string own = "a long text that fills a block of its own";
  SharedString narrow(own.c_str());
  // Its own text as arguments.
  EXPECT_EQ(Format(narrow, "<%s|%s>", narrow.Chars(), narrow.Chars()), 85);
  EXPECT_EQ(narrow.Chars(), "<" + own + "|" + own + ">");
  EXPECT_TRUE(Format(narrow, "%s", "") == 0 && narrow.Header() == SharedString::EmptyHeader())
      << "empty result: " << narrow.Chars();
  // A wide argument the narrow formatter cannot take goes through wide formatting and UTF-8,
  // where every narrow text or character conversion stays narrow, whatever its flags, width or
  // precision, and %S stays wide.
  EXPECT_TRUE(Format(narrow, "%ls|%%%s|%5s|%-3s|%.2s|%c|%S", kWideHan, "a", "b", "c", "def", '\xE9',
                     L"wide") == 29 &&
              narrow.Chars() == std::string(kUtf8Han) + "|%a|    b|c  |de|\xC3\xA9|wide")
      << narrow.Chars();
  testing::internal::CaptureStdout();
  EXPECT_EQ(SystemErrorText(0x20001234).Header(), SharedWString::EmptyHeader());  // no message
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FormatMessage failed\n");
}

TEST(CodePageTest, ConversionsBothWaysWithTheirSubstitutesAndDiagnostics) {
  SharedWString wide(L"x");
  AppendFromCodePage(wide, "abc", 0);
  EXPECT_TRUE(wide.Equals(L"xabc") && FromCodePage(kUtf8Han, CP_UTF8).Equals(kWideHan))
      << wide.Chars();
  ConvertFromCodePage(nullptr, wide, 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  EXPECT_EQ(Narrow(kWideHan, 1252) + Narrow(L"\x00E9", 1252), "a<0x4E2D>z\xE9");
  EXPECT_EQ(Narrow(L"x\x00E9", 12345) + Narrow(L"", CP_UTF8), "x<0x00E9>");
  EXPECT_EQ(test::Utf8(FromCodePage("abc", 12345).Chars()),
            "Could not determine number of bytes needed to convert from codepage 12345! "
            "GetLastError 87 (0x00000057)\n");
}

// A log whose folder is missing loses the line, and the folder is not made for it.
TEST(RunLogTest, NothingIsWrittenIntoAMissingFolder) {
  test::LogCapture log;
  test::ScopedTempDir dir;
  RunLog::SetPath(L"%ls\\missing\\Quorvel.log", dir.Path().c_str());
  RunLog::Write("lost\n");
  EXPECT_TRUE(RemoveDirectoryW(dir.Path().c_str())) << "only an empty folder can be removed";
}

// What the log writes: arguments escaped, the pattern's own line ends and a failure report's
// system text line end kept, every character beyond ASCII in UTF-8.
TEST(RunLogTest, ArgumentsCannotBreakALine) {
  test::LogCapture log;
  const auto write = [](const char* format, auto... args) { RunLog::Write(format, args...); };
  write("%ls|%s|%d%%s\n", L"a\r\nb\x1b\t%\x2028", "c\nd", 3);
  write("error %d %ls\n", 5, L"Two\r\nlines.\r\n");
  write("File: \"%ls\" %ls\n", L"x\r\n", kWideHan);
  write("%ls\n", L"\x00e9\x00b9");
  write("error: %d %ls", 2, L"Plain.\r\n");
  EXPECT_EQ(log.Text(),
            "a\\r\\nb\\x1b\t%\\u2028|c\\nd|3%s\r\nerror 5 Two\\r\\nlines.\r\r\n\r\n"
            "File: \"x\\r\\n\" " +
                std::string(kUtf8Han) + "\r\n\xC3\xA9\xC2\xB9\r\nerror: 2 Plain.\r\r\n");
}

// A failure whose call left no code never reads as success.
TEST(Win32ResultTest, ResultsPassUnchangedAndAFailureWithoutCodeTakesItsFallback) {
  EXPECT_TRUE(FailureResult(0x80004001u) == E_NOTIMPL && FailureResult(ERROR_SUCCESS) == E_FAIL &&
              FailureResult(ERROR_SUCCESS, E_ACCESSDENIED) == E_ACCESSDENIED)
      << std::hex << FailureResult(0x80004001u) << " " << FailureResult(ERROR_SUCCESS) << " "
      << FailureResult(ERROR_SUCCESS, E_ACCESSDENIED);
}

}  // namespace
}  // namespace quorvel
