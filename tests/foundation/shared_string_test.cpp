#include "foundation/shared_string.h"

#include <string>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

using S = SharedWString;

TEST(SharedStringTest, EmptyStringsShareTheStaticBlockThatIsNeverFreed) {
  const long before = S::EmptyHeader()->refCount;
  {
    const S a, b(L""), c(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(a.Header() == S::EmptyHeader() && b.Header() == a.Header() &&
                c.Header() == a.Header() && S::EmptyHeader()->refCount == before + 3)
        << "references " << S::EmptyHeader()->refCount - before;
  }
  EXPECT_TRUE(S::EmptyHeader()->refCount == before && before >= 2)
      << "references " << S::EmptyHeader()->refCount << ", before " << before;
}

// Appending doubles the capacity up to 8192 characters, then grows in whole 8192-character steps.
TEST(SharedStringTest, TextGetsAnExactBlockAndAppendGrowsByTheCapacityRule) {
  const uint32_t capacities[][2] = {{2, 8}, {8192, 32768}, {8193, 16384}, {16384, 24576}};
  for (const auto& [length, capacity] : capacities) {
    S s;
    s.Append(std::wstring(length, L'x').c_str(), length);
    EXPECT_TRUE(s.Header()->capacity == capacity && s.Length() == length)
        << length << ": capacity " << s.Header()->capacity;
  }
  S s(L"abc");
  EXPECT_EQ(s.Header()->capacity, 4u);
  s.Append(L"", 5);
  s.Append(nullptr, 5);
  s.Append(s);  // its own text is read before its block moves
  s.Append(s.Chars() + 1, 2);
  EXPECT_STREQ(s.Chars(), L"abcabcbc");
  S empty;
  empty.Append(s);
  EXPECT_EQ(empty.Chars(), s.Chars()) << "appended to nothing, the text is shared";
}

TEST(SharedStringTest, ChangingACopyLeavesTheOriginal) {
  S original(L"abcd");
  original.Assign(original);
  S copy(original), appended = original, replaced(original), trimmed(original), assigned(original);
  EXPECT_EQ(original.Header()->refCount, 6);
  copy.SetAt(0, L'z');
  appended.Append(L"e", 1);
  EXPECT_EQ(replaced.ReplaceAll(L"a", L"y"), 1u);
  trimmed.Trim(S(L"d"), false, true);
  assigned = L"new";
  EXPECT_EQ(std::wstring(copy.Chars()) + appended.Chars() + replaced.Chars() + trimmed.Chars() +
                assigned.Chars() + original.Chars(),
            L"zbcdabcdeybcdabcnewabcd");
  EXPECT_EQ(original.Header()->refCount, 1);
}

TEST(SharedStringTest, MidTrimSetAtReplaceAllFindAndEqualsAtTheirEdges) {
  const S s(L"abcdef");
  EXPECT_EQ(std::wstring(s.Mid(2, 100).Chars()) + L"|" + s.Mid(0, 0).Chars() + L"|" +
                s.Mid(6, 7).Chars() + s.Mid(3, 1).Chars(),
            L"cdef|a|");
  S text(L" \t\fx \r\n"), blank(L"  "), set(L"abcd"), aaaa(L"aaaa");
  text.Trim(S::Whitespace, true, true);
  blank.Trim(S::Whitespace, true, true);
  set.SetAt(set.Length(), L'y');
  set.SetAt(10, L'z');
  EXPECT_EQ(std::wstring(text.Chars()) + blank.Chars() + set.Chars(), L"xabcdy");
  set.SetAt(2, L'\0');
  EXPECT_TRUE(set.Length() == 2 && aaaa.ReplaceAll(L"aa", L"b") == 2 && aaaa.Equals(S(L"bb")))
      << "set " << set.Length() << " characters, aaaa " << aaaa.Chars();
  S dashes(L"x--y--z");
  EXPECT_TRUE(dashes.ReplaceAll(L"--", L"") == 2 && dashes.Equals(S(L"xyz")))
      << "dashes " << dashes.Chars();
  EXPECT_EQ(dashes.ReplaceAll(L"%s", L"x") + dashes.ReplaceAll(L"xyz and more", L"x"), 0u);
  EXPECT_TRUE(s.Find(L'b') == 1 && s.Find(L'z') == -1 && s.Find(L'\0') == 6)
      << "b " << s.Find(L'b') << ", z " << s.Find(L'z') << ", end " << s.Find(L'\0');
  EXPECT_EQ(s.CharAt(14), s.Chars() + 6);
  EXPECT_TRUE(s.Equals(s.Mid(0, 5)) && S().Equals(S(L"")))
      << "an exact and a grown block";  // an exact and a grown block
  EXPECT_FALSE(S(L"a").Equals(S(L"A")) || S(L"ab").Equals(S(L"abc"))) << "case and length count";
  S extra(s);  // an unshared block with room, unless the room cannot be counted
  EXPECT_TRUE(extra.ReserveExtra(100) && extra.Header()->capacity >= 107 &&
              s.Header()->refCount == 1)
      << "capacity " << extra.Header()->capacity << ", references " << s.Header()->refCount;
  EXPECT_TRUE(!extra.ReserveExtra(0xFFFFFFFFu) && extra.Equals(s)) << "extra " << extra.Chars();
}

}  // namespace
}  // namespace quorvel
