// Formatting and code-page conversion.
#include <string>

#include "foundation/code_page.h"
#include "foundation/format.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

constexpr UINT kInvalidCodePage = 12345;
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
  EXPECT_STREQ(wide.Chars(), L"abc-42");
  EXPECT_EQ(wide.Header()->capacity, 7u);
  EXPECT_EQ(Format(wide, L""), 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  SharedString narrow("a fairly long text that fills a block of its own");
  Format(narrow, "<%s|%s>", narrow.Chars(), narrow.Chars());  // its own text as arguments
  EXPECT_EQ(std::string(narrow.Chars()),
            "<a fairly long text that fills a block of its own|"
            "a fairly long text that fills a block of its own>");
  EXPECT_EQ(Format(narrow, "%s", ""), 0);
  EXPECT_EQ(narrow.Header(), SharedString::EmptyHeader());
  AppendFormat(narrow, "%d", 5);
  AppendUnsigned(narrow, 4294967295u);
  EXPECT_STREQ(narrow.Chars(), "54294967295");
  EXPECT_EQ(AppendFormat(wide, L"%hs", "x"), 1);
  EXPECT_STREQ(Formatted(L"%ls0x%08x", wide.Chars(), 0x80070057u).Chars(), L"x0x80070057");
}

TEST(FormatTest, NarrowFallbackWritesUtf8AndKeepsAnEscapedPercentS) {
  SharedString text;
  EXPECT_EQ(Format(text, "%ls %%s %s!", kWideHan, "narrow"), 16);
  EXPECT_EQ(std::string(text.Chars()), std::string(kUtf8Han) + " %s narrow!");
}

TEST(FormatTest, SystemErrorTextIsTheSystemsMessageOrEmptyWithANote) {
  for (DWORD code : {2u, 87u}) {
    EXPECT_EQ(test::Utf8(SystemErrorText(code).Chars()), test::Utf8(test::SystemMessage(code)));
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(SystemErrorText(0x20001234).Header(), SharedWString::EmptyHeader());  // no message
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FormatMessage failed\n");
}

TEST(CodePageTest, ConversionsBothWaysWithTheirSubstitutes) {
  EXPECT_STREQ(FromCodePage("abc", 0).Chars(), L"abc");
  EXPECT_STREQ(FromCodePage(kUtf8Han, CP_UTF8).Chars(), kWideHan);
  SharedWString wide(L"x");
  AppendFromCodePage(wide, "abc", 0);
  EXPECT_STREQ(wide.Chars(), L"xabc");
  ConvertFromCodePage(nullptr, wide, 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  EXPECT_EQ(Narrow(L"\x00E9", 1252), "\xE9");
  EXPECT_EQ(Narrow(kWideHan, 1252), "a<0x4E2D>b");
  EXPECT_EQ(Narrow(kWideHan, CP_UTF8), kUtf8Han);  // UTF-8 takes no default character
  EXPECT_EQ(Narrow(L"x\x00E9", kInvalidCodePage), "x<0x00E9>");
  EXPECT_EQ(Narrow(L"", CP_UTF8), "");
  SharedString narrow("1");
  AppendToCodePage(narrow, L"2", CP_UTF8);
  EXPECT_STREQ(narrow.Chars(), "12");
}

TEST(CodePageTest, AnInvalidCodePageLeavesTheDiagnosticText) {
  SetLastError(0);
  ASSERT_EQ(MultiByteToWideChar(kInvalidCodePage, 0, "abc", 4, nullptr, 0), 0);
  const DWORD error = GetLastError();
  const std::string expected =
      "Could not determine number of bytes needed to convert from codepage 12345! GetLastError " +
      std::to_string(error) + " (" + test::Utf8(Formatted(L"0x%08x", error).Chars()) + ")\n";
  EXPECT_EQ(test::Utf8(FromCodePage("abc", kInvalidCodePage).Chars()), expected);
}

}  // namespace
}  // namespace quorvel
