#include "foundation/shared_string.h"

#include <cwchar>
#include <string>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(SharedStringTest, EmptyStringsShareTheStaticBlockThatIsNeverFreed) {
  const long before = SharedWString::EmptyHeader()->refCount;
  {
    SharedWString a;
    SharedWString b(L"");
    SharedWString c(static_cast<const wchar_t*>(nullptr));
    for (const SharedWString* s : {&a, &b, &c}) {
      EXPECT_EQ(s->Header(), SharedWString::EmptyHeader());
    }
    EXPECT_EQ(SharedWString::EmptyHeader()->refCount, before + 3);
  }
  EXPECT_EQ(SharedWString::EmptyHeader()->refCount, before);
  EXPECT_GE(before, 2);
  EXPECT_EQ(SharedString().Header(), SharedString::EmptyHeader());
}

TEST(SharedStringTest, TextIsExactAndAppendGrowsByTheCapacityRule) {
  const uint32_t examples[][2] = {{1, 4},     {2, 8},        {3, 8},        {4, 16},
                                  {100, 256}, {8192, 32768}, {8193, 16384}, {16384, 24576}};
  for (const auto& [length, capacity] : examples) {
    SharedWString s;
    s.Append(std::wstring(length, L'x').c_str(), length);
    EXPECT_EQ(s.Header()->capacity, capacity) << length;
  }
  SharedWString s(L"abc");
  EXPECT_EQ(s.Header()->capacity, 4u);
  EXPECT_EQ(s.Header()->length, 4u);
  s.Append(L"d", 1);
  EXPECT_EQ(s.Header()->capacity, 16u);
  EXPECT_STREQ(s.Chars(), L"abcd");
}

TEST(SharedStringTest, AppendEdgeCases) {
  SharedWString s(L"ab");
  s.Append(L"", 5);
  s.Append(nullptr, 5);
  s.Append(L"xyz", 0);
  // A string's own text is read before its block moves.
  s.Append(s);
  EXPECT_STREQ(s.Chars(), L"abab");
  s.Append(s.Chars() + 1, 2);
  EXPECT_STREQ(s.Chars(), L"ababba");
  SharedWString empty;
  empty.Append(s);
  EXPECT_STREQ(empty.Chars(), L"ababba");
}

TEST(SharedStringTest, ChangingACopyLeavesTheOriginal) {
  SharedWString original(L"abcd");
  original.Assign(original);
  EXPECT_EQ(original.Header()->refCount, 1);
  SharedWString copy(original);
  EXPECT_EQ(copy.Chars(), original.Chars());
  copy.SetAt(0, L'z');
  SharedWString appended = original;
  appended.Append(L"e", 1);
  SharedWString replaced(original);
  replaced.ReplaceAll(L"a", L"y");
  SharedWString trimmed(original);
  trimmed.Trim(SharedWString(L"d"), false, true);
  EXPECT_STREQ(copy.Chars(), L"zbcd");
  EXPECT_STREQ(appended.Chars(), L"abcde");
  EXPECT_STREQ(replaced.Chars(), L"ybcd");
  EXPECT_STREQ(trimmed.Chars(), L"abc");
  EXPECT_STREQ(original.Chars(), L"abcd");
  EXPECT_EQ(original.Header()->refCount, 1);
}

TEST(SharedStringTest, MidTrimAndSetAtEdgeCases) {
  const SharedWString s(L"abcdef");
  EXPECT_STREQ(s.Mid(2, 100).Chars(), L"cdef");
  EXPECT_STREQ(s.Mid(6, 7).Chars(), L"");
  EXPECT_STREQ(s.Mid(3, 1).Chars(), L"");
  EXPECT_STREQ(s.Mid(0, 0).Chars(), L"a");

  SharedWString text(L" \t\fx \r\n");
  text.Trim(SharedWString::Whitespace, true, true);
  EXPECT_STREQ(text.Chars(), L"x");
  SharedWString path(L"\\dir\\\\");
  path.Trim(SharedWString(L"\\"), false, true);
  EXPECT_STREQ(path.Chars(), L"\\dir");
  SharedWString blanks(L"  ");
  blanks.Trim(SharedWString::Whitespace, true, true);
  EXPECT_EQ(blanks.Header(), SharedWString::EmptyHeader());

  SharedWString set(L"abcd");
  set.SetAt(set.Length(), L'y');
  EXPECT_STREQ(set.Chars(), L"abcdy");
  set.SetAt(2, L'\0');
  EXPECT_STREQ(set.Chars(), L"ab");
  EXPECT_EQ(set.Header()->length, 3u);
  set.SetAt(10, L'z');
  EXPECT_STREQ(set.Chars(), L"ab");
}

TEST(SharedStringTest, ReplaceAllCountsAndDoesNotOverlap) {
  const wchar_t* cases[][4] = {{L"%s and %s", L"%s", L"%hs", L"%hs and %hs"},
                               {L"aaaa", L"aa", L"b", L"bb"},
                               {L"x--y--z", L"--", L"", L"xyz"}};
  for (const auto& [text, pattern, replacement, expected] : cases) {
    SharedWString s(text);
    EXPECT_EQ(s.ReplaceAll(pattern, replacement), 2u);
    EXPECT_STREQ(s.Chars(), expected);
    EXPECT_EQ(s.Length(), wcslen(expected));
  }
  SharedWString none(L"nothing here");
  EXPECT_EQ(none.ReplaceAll(L"%s", L"x"), 0u);
  EXPECT_STREQ(none.Chars(), L"nothing here");
}

TEST(SharedStringTest, EqualsFindAndCharAtLookAtTheTextOnly) {
  SharedWString grown;
  grown.Append(L"same", 4);
  ASSERT_NE(grown.Header()->capacity, SharedWString(L"same").Header()->capacity);
  EXPECT_TRUE(SharedWString(L"same").Equals(grown));
  EXPECT_FALSE(SharedWString(L"a").Equals(SharedWString(L"A")));
  EXPECT_FALSE(SharedWString(L"ab").Equals(SharedWString(L"abc")));
  EXPECT_TRUE(SharedWString().Equals(SharedWString(L"")));
  const SharedWString s(L"abcb");
  EXPECT_EQ(s.Find(L'b'), 1);
  EXPECT_EQ(s.Find(L'z'), -1);
  EXPECT_EQ(s.Find(L'\0'), 4);
  EXPECT_EQ(s.CharAt(14), s.Chars() + 4);
}

TEST(SharedStringTest, ReserveExtraGivesAnUnsharedBlockAndRefusesOverflow) {
  const SharedWString share(L"abc");
  SharedWString extra(share);
  EXPECT_TRUE(extra.ReserveExtra(100));
  EXPECT_GE(extra.Header()->capacity, 104u);
  EXPECT_EQ(share.Header()->refCount, 1);
  EXPECT_FALSE(extra.ReserveExtra(0xFFFFFFFFu));
  EXPECT_STREQ(extra.Chars(), L"abc");
}

}  // namespace
}  // namespace quorvel
