// Formatting, code-page conversion and failure results.

#include "foundation/code_page.h"
#include "foundation/format.h"
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

// A failure whose call left no code never reads as success.
TEST(Win32ResultTest, ResultsPassUnchangedAndAFailureWithoutCodeTakesItsFallback) {
  EXPECT_TRUE(FailureResult(0x80004001u) == E_NOTIMPL && FailureResult(ERROR_SUCCESS) == E_FAIL &&
              FailureResult(ERROR_SUCCESS, E_ACCESSDENIED) == E_ACCESSDENIED)
      << std::hex << FailureResult(0x80004001u) << " " << FailureResult(ERROR_SUCCESS) << " "
      << FailureResult(ERROR_SUCCESS, E_ACCESSDENIED);
}

}  // namespace
}  // namespace quorvel
