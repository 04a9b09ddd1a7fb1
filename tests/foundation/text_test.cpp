// Formatting, code-page conversion, the run log and failure results.
#include <string>

#include "foundation/code_page.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// a, U+4E2D, b: the middle character has no form in code page 1252.
const wchar_t kWideHan[] = {L'a', 0x4E2D, L'b', 0};
const char kUtf8Han[] =
    "a\xE4\xB8\xAD"
    "b";

std::string Narrow(const wchar_t* text, UINT codePage) {
  SharedString narrow("old");
  ConvertToCodePage(text, narrow, codePage);
  return narrow.Chars();
}

TEST(FormatTest, ResultsHaveTheirExactSizeAndNothingIsTheSharedEmptyString) {
  SharedWString wide;
  EXPECT_EQ(Format(wide, L"%ls-%d", L"abc", 42), 6);
  EXPECT_TRUE(wide.Equals(L"abc-42") && wide.Header()->capacity == 7);
  EXPECT_EQ(Format(wide, L""), 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  SharedString narrow("a long text that fills a block of its own");
  Format(narrow, "<%s|%s>", narrow.Chars(), narrow.Chars());  // its own text as arguments
  EXPECT_STREQ(narrow.Chars(),
               "<a long text that fills a block of its own|a long text that "
               "fills a block of its own>");
  EXPECT_EQ(Format(narrow, "%s", ""), 0);
  EXPECT_EQ(narrow.Header(), SharedString::EmptyHeader());
  AppendFormat(narrow, "%d", 5);
  AppendUnsigned(narrow, 4294967295u);
  EXPECT_EQ(AppendFormat(wide, L"%hs", "x"), 1);
  EXPECT_EQ(narrow.Chars() + test::Utf8(Formatted(L"%ls0x%08x", wide.Chars(), 0x80070057u).Chars()),
            "54294967295x0x80070057");
  // A wide argument the narrow formatter cannot take goes through wide formatting and UTF-8.
  EXPECT_EQ(Format(narrow, "%ls %%s %s!", kWideHan, "narrow"), 16);
  EXPECT_EQ(narrow.Chars(), std::string(kUtf8Han) + " %s narrow!");
  // Every narrow text or character conversion stays narrow, whatever its flags, width or
  // precision, and %S stays wide.
  Format(narrow, "%ls|%%%s|%5s|%-3s|%.2s|%c|%S", kWideHan, "a", "b", "c", "def", '\xE9', L"wide");
  EXPECT_EQ(narrow.Chars(), std::string(kUtf8Han) + "|%a|    b|c  |de|\xC3\xA9|wide");
  EXPECT_EQ(test::Utf8(SystemErrorText(87).Chars()), test::Utf8(test::SystemMessage(87)));
  testing::internal::CaptureStdout();
  EXPECT_EQ(SystemErrorText(0x20001234).Header(), SharedWString::EmptyHeader());  // no message
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FormatMessage failed\n");
}

TEST(CodePageTest, ConversionsBothWaysWithTheirSubstitutesAndDiagnostics) {
  SharedWString wide(L"x");
  AppendFromCodePage(wide, "abc", 0);
  EXPECT_TRUE(wide.Equals(L"xabc") && FromCodePage(kUtf8Han, CP_UTF8).Equals(kWideHan));
  ConvertFromCodePage(nullptr, wide, 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  EXPECT_EQ(Narrow(L"\x00E9", 1252) + Narrow(kWideHan, 1252),
            "\xE9"
            "a<0x4E2D>b");
  EXPECT_EQ(Narrow(kWideHan, CP_UTF8), kUtf8Han);  // UTF-8 takes no default character
  EXPECT_EQ(Narrow(L"x\x00E9", 12345) + Narrow(L"", CP_UTF8), "x<0x00E9>");
  SharedString narrow("1");
  AppendToCodePage(narrow, L"2", CP_UTF8);
  EXPECT_STREQ(narrow.Chars(), "12");
  SetLastError(0);
  MultiByteToWideChar(12345, 0, "abc", 4, nullptr, 0);
  const DWORD error = GetLastError();
  EXPECT_EQ(test::Utf8(FromCodePage("abc", 12345).Chars()),
            "Could not determine number of bytes needed to convert from codepage 12345! "
            "GetLastError " +
                std::to_string(error) + " (" + test::Utf8(Formatted(L"0x%08x", error).Chars()) +
                ")\n");
}

TEST(RunLogTest, WritesAppendWholeLinesWithCrLfAndAnUnendedWriteJoinsTheNext) {
  test::LogCapture log;
  RunLog::Write("");
  RunLog::Write("Could not open, error: %d ", 87);
  RunLog::Write("%ls\n", L"next message");
  // A wide argument outside the ANSI code page reaches the file whole.
  RunLog::Write("File: \"%ls\" (%d)\n", L"C:\\Games\\\x4E2D\\client.dll", 7);
  EXPECT_EQ(log.Text(),
            "Could not open, error: 87 next message\r\n"
            "File: \"C:\\Games\\\xE4\xB8\xAD\\client.dll\" (7)\r\n");
}

TEST(RunLogTest, NothingIsWrittenWithoutAPathOrIntoAMissingFolder) {
  test::ScopedTempDir dir;
  const std::wstring previous = RunLog::Path().Chars();
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(dir.Path().c_str());
  for (const std::wstring& path : {std::wstring(), dir / L"missing\\Quorvel.log"}) {
    RunLog::SetPath(L"%ls", path.c_str());
    RunLog::Write("lost\n");
  }
  RunLog::SetPath(L"%ls", previous.c_str());
  SetCurrentDirectoryW(current);
  EXPECT_TRUE(RemoveDirectoryW(dir.Path().c_str())) << "only an empty folder can be removed";
}

TEST(Win32ResultTest, CodesMapToTheWin32FacilityAndAFailureWithoutCodeNeverReadsAsSuccess) {
  EXPECT_EQ(FailureResult(ERROR_ALREADY_EXISTS), static_cast<HRESULT>(0x800700B7));
  EXPECT_EQ(FailureResult(0x80004005u), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(FailureResult(ERROR_SUCCESS), E_FAIL);
  EXPECT_EQ(FailureResult(ERROR_SUCCESS, E_ACCESSDENIED), E_ACCESSDENIED);
}

}  // namespace
}  // namespace quorvel
