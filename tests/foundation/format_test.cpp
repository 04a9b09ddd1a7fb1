#include "foundation/format.h"

#include <string>

#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(FormatTest, TheResultBlockHasExactlyTheFormattedSizeAndNothingIsTheSharedEmptyString) {
  SharedWString wide;
  EXPECT_EQ(Format(wide, L"%ls-%d", L"abc", 42), 6);
  EXPECT_STREQ(wide.Chars(), L"abc-42");
  EXPECT_EQ(wide.Header()->capacity, 7u);
  EXPECT_STREQ(Formatted(L"0x%08x", 0x80070057u).Chars(), L"0x80070057");
  EXPECT_EQ(Format(wide, L""), 0);
  EXPECT_EQ(wide.Header(), SharedWString::EmptyHeader());
  SharedString narrow("old");
  EXPECT_EQ(Format(narrow, "%s", ""), 0);
  EXPECT_EQ(narrow.Header(), SharedString::EmptyHeader());
}

TEST(FormatTest, AStringsOwnTextMayBeAnArgument) {
  SharedString narrow("a fairly long text that fills a block of its own");
  Format(narrow, "<%s|%s>", narrow.Chars(), narrow.Chars());
  EXPECT_STREQ(narrow.Chars(),
               "<a fairly long text that fills a block of its own|"
               "a fairly long text that fills a block of its own>");
  SharedWString wide(L"wide text");
  Format(wide, L"[%ls][%ls]", wide.Chars(), wide.Chars());
  EXPECT_STREQ(wide.Chars(), L"[wide text][wide text]");
}

TEST(FormatTest, AppendFormatAndAppendUnsigned) {
  SharedString narrow("ab");
  AppendFormat(narrow, "%d", 5);
  EXPECT_STREQ(narrow.Chars(), "ab5");
  AppendUnsigned(narrow, 4294967295u);
  EXPECT_STREQ(narrow.Chars(), "ab54294967295");
  SharedWString wide;
  EXPECT_EQ(AppendFormat(wide, L"%hs", "x"), 1);
  EXPECT_STREQ(wide.Chars(), L"x");
}

TEST(FormatTest, NarrowFallbackWritesUtf8AndKeepsAnEscapedPercentS) {
  const wchar_t wideHan[] = {L'a', 0x4E2D, L'b', 0};
  SharedString text;
  const int32_t n = Format(text, "%ls %%s %s!", wideHan, "narrow");
  EXPECT_EQ(std::string(text.Chars()), std::string("a\xE4\xB8\xAD") + "b %s narrow!");
  EXPECT_EQ(n, 16);
  // Every narrow text or character conversion stays narrow, whatever its flags, width or
  // precision, and %S stays wide.
  Format(text, "%ls|%%%s|%5s|%-3s|%.2s|%c|%S", wideHan, "a", "b", "c", "def", '\xE9', L"wide");
  EXPECT_EQ(std::string(text.Chars()),
            std::string("a\xE4\xB8\xAD") + "b|%a|    b|c  |de|\xC3\xA9|wide");
}

TEST(FormatTest, SystemErrorTextIsTheSystemsMessageUntrimmedOrEmptyWithANote) {
  for (DWORD code : {2u, 5u, 87u}) {
    const std::wstring expected = test::SystemMessage(code);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(test::Utf8(SystemErrorText(code).Chars()), test::Utf8(expected)) << code;
  }
  // Customer-defined codes have no system message.
  ASSERT_TRUE(test::SystemMessage(0x20001234).empty());
  testing::internal::CaptureStdout();
  EXPECT_EQ(SystemErrorText(0x20001234).Header(), SharedWString::EmptyHeader());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FormatMessage failed\n");
}

}  // namespace
}  // namespace quorvel
