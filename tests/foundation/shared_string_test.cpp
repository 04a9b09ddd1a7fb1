#include "foundation/shared_string.h"

#include <cwchar>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

uint32_t CapacityAfterAppend(uint32_t n) {
  SharedWString s;
  std::wstring text(n, L'x');
  s.Append(text.c_str(), n);
  return s.Header()->capacity;
}

TEST(SharedStringTest, EmptyStringsShareTheStaticBlockThatIsNeverFreed) {
  const long before = SharedWString::EmptyHeader()->refCount;
  {
    SharedWString a;
    SharedWString b(L"");
    SharedWString c(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(a.Header(), SharedWString::EmptyHeader());
    EXPECT_EQ(b.Header(), SharedWString::EmptyHeader());
    EXPECT_EQ(c.Header(), SharedWString::EmptyHeader());
    EXPECT_EQ(SharedWString::EmptyHeader()->refCount, before + 3);
  }
  EXPECT_EQ(SharedWString::EmptyHeader()->refCount, before);
  EXPECT_GE(before, 2);
  SharedString narrow;
  EXPECT_EQ(narrow.Header(), SharedString::EmptyHeader());
  EXPECT_EQ(narrow.Length(), 0u);
  EXPECT_EQ(narrow.Chars()[0], '\0');
}

TEST(SharedStringTest, GrowthRuleGivesTheDocumentedCapacities) {
  EXPECT_EQ(CapacityAfterAppend(1), 4u);
  EXPECT_EQ(CapacityAfterAppend(2), 8u);
  EXPECT_EQ(CapacityAfterAppend(3), 8u);
  EXPECT_EQ(CapacityAfterAppend(4), 16u);
  EXPECT_EQ(CapacityAfterAppend(100), 256u);
  EXPECT_EQ(CapacityAfterAppend(8192), 32768u);
  EXPECT_EQ(CapacityAfterAppend(8193), 16384u);
  EXPECT_EQ(CapacityAfterAppend(16384), 24576u);
}

TEST(SharedStringTest, TextConstructionIsExactAndAppendGrowsByTheRule) {
  SharedWString s(L"abc");
  EXPECT_EQ(s.Header()->capacity, 4u);
  EXPECT_EQ(s.Header()->length, 4u);
  EXPECT_EQ(s.Header()->hash, kNoHash);
  s.Append(L"d", 1);
  EXPECT_EQ(s.Header()->capacity, 16u);
  EXPECT_EQ(s.Header()->length, 5u);
  EXPECT_STREQ(s.Chars(), L"abcd");
  const StringHeader* block = s.Header();
  s.Append(L"efg", 3);
  EXPECT_EQ(s.Header(), block);
  EXPECT_STREQ(s.Chars(), L"abcdefg");
}

TEST(SharedStringTest, AppendOfNothingLeavesTheBlockAlone) {
  SharedWString s(L"abc");
  const StringHeader* block = s.Header();
  s.Append(L"", 5);
  s.Append(nullptr, 5);
  s.Append(L"xyz", 0);
  EXPECT_EQ(s.Header(), block);
  EXPECT_STREQ(s.Chars(), L"abc");
}

TEST(SharedStringTest, AppendOfAStringOntoAnEmptyOneSharesItsBlock) {
  SharedWString other(L"shared");
  SharedWString s;
  s.Append(other);
  EXPECT_EQ(s.Chars(), other.Chars());
  EXPECT_EQ(other.Header()->refCount, 2);
}

TEST(SharedStringTest, AppendingAStringToItselfDoublesIt) {
  SharedWString s(L"ab");
  s.Append(s);
  EXPECT_STREQ(s.Chars(), L"abab");
  s.Append(s.Chars() + 1, 2);
  EXPECT_STREQ(s.Chars(), L"ababba");
}

TEST(SharedStringTest, ChangingACopyLeavesTheOriginal) {
  SharedWString original(L"abcd");
  SharedWString copy(original);
  EXPECT_EQ(copy.Chars(), original.Chars());
  copy.SetAt(0, L'z');
  EXPECT_STREQ(original.Chars(), L"abcd");
  EXPECT_STREQ(copy.Chars(), L"zbcd");
  EXPECT_NE(copy.Chars(), original.Chars());
  EXPECT_EQ(original.Header()->refCount, 1);

  SharedWString appended(original);
  appended.Append(L"e", 1);
  EXPECT_STREQ(original.Chars(), L"abcd");
  EXPECT_STREQ(appended.Chars(), L"abcde");
}

TEST(SharedStringTest, AssignmentSharesAndSelfAssignmentKeepsTheCount) {
  SharedWString a(L"text");
  a.Assign(a);
  EXPECT_EQ(a.Header()->refCount, 1);
  SharedWString b;
  b = a;
  EXPECT_EQ(a.Header()->refCount, 2);
  b = L"other";
  EXPECT_EQ(a.Header()->refCount, 1);
  EXPECT_STREQ(b.Chars(), L"other");
}

TEST(SharedStringTest, AssignFromTextReusesAnUnsharedBlockThatFits) {
  SharedWString s(L"longer text");
  const StringHeader* block = s.Header();
  s.Assign(L"short");
  EXPECT_EQ(s.Header(), block);
  EXPECT_STREQ(s.Chars(), L"short");
  EXPECT_EQ(s.Length(), 5u);
  s.Assign(L"a text that no longer fits");
  EXPECT_STREQ(s.Chars(), L"a text that no longer fits");
  s.Assign(L"");
  EXPECT_EQ(s.Header(), SharedWString::EmptyHeader());
}

TEST(SharedStringTest, MidClipsToTheText) {
  const SharedWString s(L"abcdef");
  EXPECT_STREQ(s.Mid(2, 100).Chars(), L"cdef");
  EXPECT_STREQ(s.Mid(6, 7).Chars(), L"");
  EXPECT_STREQ(s.Mid(3, 1).Chars(), L"");
  EXPECT_STREQ(s.Mid(0, 0).Chars(), L"a");
  EXPECT_STREQ(s.Chars(), L"abcdef");
}

TEST(SharedStringTest, TrimRemovesSetCharactersAtTheChosenEnds) {
  SharedWString s(L" \tx \r\n");
  s.Trim(SharedWString::Whitespace, true, true);
  EXPECT_STREQ(s.Chars(), L"x");

  SharedWString blanks(L"  ");
  blanks.Trim(SharedWString::Whitespace, true, true);
  EXPECT_EQ(blanks.Header(), SharedWString::EmptyHeader());

  SharedWString clean(L"clean");
  const StringHeader* block = clean.Header();
  clean.Trim(SharedWString::Whitespace, true, true);
  EXPECT_EQ(clean.Header(), block);

  SharedWString path(L"\\dir\\\\");
  path.Trim(SharedWString(L"\\"), false, true);
  EXPECT_STREQ(path.Chars(), L"\\dir");
}

TEST(SharedStringTest, SetAtAppendsCutsAndIgnoresOutOfRange) {
  SharedWString s(L"abcd");
  s.SetAt(s.Length(), L'y');
  EXPECT_STREQ(s.Chars(), L"abcdy");
  s.SetAt(2, L'\0');
  EXPECT_STREQ(s.Chars(), L"ab");
  EXPECT_EQ(s.Header()->length, 3u);
  s.SetAt(10, L'z');
  EXPECT_STREQ(s.Chars(), L"ab");
}

TEST(SharedStringTest, ReplaceAllDoesNotOverlapAndKeepsAShareWithoutMatches) {
  SharedWString format(L"%s and %s");
  EXPECT_EQ(format.ReplaceAll(L"%s", L"%hs"), 2u);
  EXPECT_STREQ(format.Chars(), L"%hs and %hs");

  SharedWString as(L"aaaa");
  EXPECT_EQ(as.ReplaceAll(L"aa", L"b"), 2u);
  EXPECT_STREQ(as.Chars(), L"bb");

  SharedWString original(L"nothing here");
  SharedWString copy(original);
  EXPECT_EQ(copy.ReplaceAll(L"%s", L"x"), 0u);
  EXPECT_EQ(copy.Chars(), original.Chars());

  SharedWString shrink(L"x--y--z");
  EXPECT_EQ(shrink.ReplaceAll(L"--", L""), 2u);
  EXPECT_STREQ(shrink.Chars(), L"xyz");
  EXPECT_EQ(shrink.Length(), 3u);
}

TEST(SharedStringTest, EqualsComparesExactly) {
  SharedWString a(L"same");
  SharedWString b;
  b.Append(L"same", 4);
  EXPECT_NE(a.Header()->capacity, b.Header()->capacity);
  EXPECT_TRUE(a.Equals(b));
  EXPECT_FALSE(SharedWString(L"a").Equals(SharedWString(L"A")));
  EXPECT_FALSE(SharedWString(L"ab").Equals(SharedWString(L"abc")));
  EXPECT_TRUE(SharedWString().Equals(SharedWString(L"")));
}

TEST(SharedStringTest, FindAndCharAt) {
  const SharedWString s(L"abcb");
  EXPECT_EQ(s.Find(L'b'), 1);
  EXPECT_EQ(s.Find(L'z'), -1);
  EXPECT_EQ(s.Find(L'\0'), 4);
  EXPECT_EQ(*s.CharAt(2), L'c');
  EXPECT_EQ(s.CharAt(4), s.Chars() + 4);
  EXPECT_EQ(s.CharAt(14), s.Chars() + 4);
}

TEST(SharedStringTest, PrepareBufferGivesAnEmptyUnsharedBlockOfTheSize) {
  SharedWString s(L"abc");
  SharedWString share(s);
  s.PrepareBuffer(10);
  EXPECT_STREQ(s.Chars(), L"");
  EXPECT_EQ(s.Header()->refCount, 1);
  EXPECT_GE(s.Header()->capacity, 11u);
  wcscpy(s.Buffer(), L"0123456789");
  s.SetLength(10);
  EXPECT_EQ(s.Length(), 10u);
  EXPECT_STREQ(share.Chars(), L"abc");
}

TEST(SharedStringTest, ReserveExtraKeepsTheTextAndRejectsOverflow) {
  SharedString s("ab");
  EXPECT_TRUE(s.ReserveExtra(100));
  EXPECT_STREQ(s.Chars(), "ab");
  EXPECT_GE(s.Header()->capacity, 103u);
  const StringHeader* block = s.Header();
  s.Append("cd", 2);
  EXPECT_EQ(s.Header(), block);
  EXPECT_FALSE(s.ReserveExtra(0xFFFFFFFFu));
  EXPECT_STREQ(s.Chars(), "abcd");
}

TEST(SharedStringTest, WhitespaceIsTheStaticSet) {
  EXPECT_STREQ(SharedWString::Whitespace.Chars(), L" \n\r\t\f");
  EXPECT_GE(SharedWString::Whitespace.Header()->refCount, 2);
}

}  // namespace
}  // namespace quorvel
