// The character buffer, the growable array and the shared string, including allocations that
// fail.
#include <cstring>
#include <string>
#include <tuple>

#include "foundation/char_buffer.h"
#include "foundation/dyn_array.h"
#include "foundation/shared_string.h"
#include "gtest/gtest.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(CharBufferTest, GrowsByPolicyOrExactlyKeepsItsContentsAndSurvivesAFailedAllocation) {
  const uint32_t sizes[][2] = {
      {0, 16},        {4096, 4096},     {4097, 8192},     {8192, 11264},
      {11265, 19456}, {262144, 265216}, {262145, 524288}, {0xFFFFFFF0u, 0xFFFFFFF0u}};
  for (const auto& [request, size] : sizes) {
    EXPECT_EQ(CharBufferBlock::GrowthSize(request), size) << request;
  }
  CharBuffer buffer;
  ASSERT_TRUE(buffer.Resize(522, CharBuffer::GrowByPolicy | CharBuffer::SetSizeExactly));
  std::memcpy(buffer.Data(), "kept", 5);
  EXPECT_TRUE(buffer.Resize(10, 0) && buffer.Size() == 522) << "a smaller request keeps the size";
  EXPECT_TRUE(buffer.Resize(1000, CharBuffer::GrowByPolicy) && buffer.Capacity() == 1024);
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(buffer.Resize(1025, CharBuffer::GrowByPolicy));
    EXPECT_TRUE(buffer.Resize(8, CharBuffer::SetSizeExactly));  // shrinking needs no memory
  }
  EXPECT_TRUE(buffer.Size() == 8 && buffer.Resize(8193, 0) && buffer.Capacity() == 8193);
  EXPECT_STREQ(static_cast<const char*>(buffer.Data()), "kept");
  buffer.Reset();
  EXPECT_TRUE(buffer.Size() == 0 && buffer.Data() == nullptr) << "after Reset: " << buffer.Size();
}

TEST(DynArrayTest, GrowsByTheCapacityRuleRefusesWhatItCannotHaveAndLeavesStorageItDoesNotOwn) {
  const uint32_t capacities[][2] = {{0, 4}, {5, 8}, {16384, 16384}, {32769, 49152}};
  for (const auto& [wanted, capacity] : capacities) {
    EXPECT_EQ(GrowCapacity(wanted), capacity) << wanted;
  }
  DynArray<uintptr_t> array;
  for (uintptr_t i = 0; i < 32; ++i) {
    ASSERT_TRUE(array.Append(i));
  }
  EXPECT_FALSE(array.Reserve(31) || array.Reserve(0x7FFFFFFF) || array.Reserve(0x80000000u));
  EXPECT_TRUE(array.Reserve(32) && array.OwnsItems() && array[31] == 31 && array[3] == 3);
  uintptr_t* items = array.Items();
  {
    AllocationFailureAfter failure(0);
    EXPECT_FALSE(array.Append(99));
  }
  EXPECT_TRUE(array.Count() == 32 && array.Capacity() == 32 && array.Items() == items);
  EXPECT_TRUE(array.Append(32) && array.Capacity() == 64 && array[32] == 32 && array[31] == 31);
  EXPECT_TRUE(array.Remove(3) && !array.Remove(3) && array[3] == 32 && array.Count() == 32);
  array.Clear();
  EXPECT_TRUE(array.Count() == 0 && array.Items() == nullptr && !array.OwnsItems()) << "Clear";
  // Storage the array does not own is left behind by growth and zeroed by Clear.
  int storage[2] = {1, 2};
  DynArray<int> grown(storage, 2, 2);
  ASSERT_TRUE(grown.Append(3));
  EXPECT_TRUE(grown.OwnsItems() && grown.Items() != storage && grown[0] == 1 && grown[2] == 3);
  EXPECT_TRUE(storage[0] == 1 && storage[1] == 2) << "changed: " << storage[0] << storage[1];
  DynArray<int> cleared(storage, 2, 1);
  cleared.Clear();
  EXPECT_TRUE(cleared.Items() == storage && cleared.Capacity() == 2 && !cleared.OwnsItems() &&
              storage[0] == 0 && storage[1] == 0);
}

using S = SharedWString;
using test::HeaderOf;

// Empty strings share the static block, which is never freed. Appending doubles the capacity up
// to 8192 characters, then grows in whole 8192-character steps.
TEST(SharedStringTest, EmptyStringsShareTheStaticBlockTextGetsAnExactOneAndAppendGrowsByTheRule) {
  const StringHeader* shared = HeaderOf(S());
  const long before = shared->refCount;
  {
    const S a, b(L""), c(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(HeaderOf(a) == shared && HeaderOf(b) == shared && HeaderOf(c) == shared &&
                shared->refCount == before + 3);
  }
  EXPECT_TRUE(shared->refCount == before && before >= 2) << "references " << before;
  const uint32_t capacities[][2] = {{2, 8}, {8192, 32768}, {8193, 16384}, {16384, 24576}};
  for (const auto& [length, capacity] : capacities) {
    S s;
    s.Append(std::wstring(length, L'x').c_str(), length);
    EXPECT_EQ(std::make_tuple(s.Length(), HeaderOf(s)->capacity),
              std::make_tuple(length, capacity));
  }
  S s(L"abc");
  EXPECT_EQ(HeaderOf(s)->capacity, 4u);
  s.Append(L"", 5);
  s.Append(nullptr, 5);
  s.Append(s);  // its own text is read before its block moves
  s.Append(s.Chars() + 1, 2);
  EXPECT_STREQ(s.Chars(), L"abcabcbc");
  S empty;
  empty.Append(s);
  EXPECT_EQ(empty.Chars(), s.Chars()) << "appended to nothing, the text is shared";
}

TEST(SharedStringTest, ChangingACopyLeavesTheOriginalAndEditsHoldAtTheirEdges) {
  S original(L"abcd");
  original.Assign(original);
  S copy(original), appended = original, replaced(original), trimmed(original), assigned(original);
  EXPECT_EQ(HeaderOf(original)->refCount, 6);
  copy.SetAt(0, L'z');
  appended.Append(L"e", 1);
  EXPECT_EQ(replaced.ReplaceAll(L"a", L"y"), 1u);
  trimmed.Trim(S(L"d"), false, true);
  assigned = L"new";
  EXPECT_EQ(std::wstring(copy.Chars()) + appended.Chars() + replaced.Chars() + trimmed.Chars() +
                assigned.Chars() + original.Chars(),
            L"zbcdabcdeybcdabcnewabcd");
  EXPECT_EQ(HeaderOf(original)->refCount, 1);
  // Mid, Trim, SetAt, ReplaceAll, Find and Equals at their edges.
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
  EXPECT_TRUE(set.Length() == 2 && aaaa.ReplaceAll(L"aa", L"b") == 2 && aaaa.Equals(S(L"bb")));
  S dashes(L"x--y--z");
  EXPECT_TRUE(dashes.ReplaceAll(L"--", L"") == 2 && dashes.Equals(S(L"xyz"))) << dashes.Chars();
  EXPECT_EQ(dashes.ReplaceAll(L"%s", L"x") + dashes.ReplaceAll(L"xyz and more", L"x"), 0u);
  EXPECT_EQ(std::make_tuple(s.Find(L'b'), s.Find(L'z'), s.Find(L'\0')), std::make_tuple(1, -1, 6));
  EXPECT_EQ(s.CharAt(14), s.Chars() + 6);
  EXPECT_TRUE(s.Equals(s.Mid(0, 5)) && S().Equals(S(L""))) << "an exact and a grown block";
  EXPECT_FALSE(S(L"a").Equals(S(L"A")) || S(L"ab").Equals(S(L"abc"))) << "case and length count";
  S extra(s);  // an unshared block with room, unless the room cannot be counted
  EXPECT_TRUE(extra.ReserveExtra(100) && HeaderOf(extra)->capacity >= 107 &&
              HeaderOf(s)->refCount == 1);
  EXPECT_TRUE(!extra.ReserveExtra(0xFFFFFFFFu) && extra.Equals(s)) << extra.Chars();
}

}  // namespace
}  // namespace quorvel
