#include "foundation/code_page.h"

#include <string>

#include "foundation/format.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A code page number that no system knows.
constexpr UINT kInvalidCodePage = 12345;
// a, U+4E2D, b: the middle character has no form in code page 1252.
const wchar_t kWideHan[] = {L'a', 0x4E2D, L'b', 0};
const char kUtf8Han[] = {'a', '\xE4', '\xB8', '\xAD', 'b', 0};

std::string Narrow(const wchar_t* text, UINT codePage) {
  SharedString narrow("old");
  ConvertToCodePage(text, narrow, codePage);
  return narrow.Chars();
}

TEST(CodePageTest, NarrowTextToWideAndNullOrEmptyTextToTheSharedEmptyString) {
  EXPECT_STREQ(FromCodePage("abc", 0).Chars(), L"abc");
  EXPECT_STREQ(FromCodePage(kUtf8Han, CP_UTF8).Chars(), kWideHan);
  SharedWString appended(L"x");
  AppendFromCodePage(appended, "abc", 0);
  EXPECT_STREQ(appended.Chars(), L"xabc");
  SharedWString wide(L"old");
  ConvertFromCodePage(nullptr, wide, 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  EXPECT_EQ(FromCodePage("", kInvalidCodePage).Header(), SharedWString::EmptyHeader());
  SharedString narrow("old");
  ConvertToCodePage(L"", narrow, CP_UTF8);
  EXPECT_EQ(narrow.Header(), SharedString::EmptyHeader());
}

TEST(CodePageTest, WideTextToACodePageAndItsSubstitutes) {
  EXPECT_EQ(Narrow(L"\x00E9", 1252), "\xE9");
  EXPECT_EQ(Narrow(kWideHan, 1252), "a<0x4E2D>b");
  // UTF-8 takes no default character, so every character has its form.
  EXPECT_EQ(Narrow(kWideHan, CP_UTF8), kUtf8Han);
  // A code page the system cannot measure with spells out everything beyond ASCII.
  EXPECT_EQ(Narrow(L"x\x00E9", kInvalidCodePage), "x<0x00E9>");
  SharedString appended("1");
  AppendToCodePage(appended, L"2", CP_UTF8);
  EXPECT_STREQ(appended.Chars(), "12");
}

TEST(CodePageTest, AnInvalidCodePageLeavesTheDiagnosticText) {
  SetLastError(0);
  ASSERT_EQ(MultiByteToWideChar(kInvalidCodePage, 0, "abc", 4, nullptr, 0), 0);
  const DWORD error = GetLastError();
  ASSERT_NE(error, 0u);
  const std::wstring expected =
      L"Could not determine number of bytes needed to convert from codepage 12345! GetLastError " +
      std::to_wstring(error) + L" (" + Formatted(L"0x%08x", error).Chars() + L")\n";
  SharedWString wide(L"old");
  ConvertFromCodePage("abc", wide, kInvalidCodePage);
  EXPECT_EQ(test::Utf8(wide.Chars()), test::Utf8(expected));
  EXPECT_EQ(test::Utf8(FromCodePage("abc", kInvalidCodePage).Chars()), test::Utf8(expected));
}

}  // namespace
}  // namespace quorvel
