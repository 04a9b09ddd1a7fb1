// Joining and splitting path strings.
#include "foundation/path_strings.h"

#include "gtest/gtest.h"

namespace quorvel {
namespace {

// A separator goes between the parts, one of two meeting separators is dropped, and a qualified
// part replaces the base.
TEST(PathStringsTest, JoinAddsOrDropsASeparatorAndAQualifiedPartReplacesTheBase) {
  const wchar_t* const joins[][3] = {
      {L"C:\\a", L"", L"C:\\a"},    {L"", L"b\\c", L"b\\c"},       {L"C:\\a", L"D:x", L"D:x"},
      {L"C:\\a", L"/\\x", L"/\\x"}, {L"C:\\a", L"b", L"C:\\a/b"},  {L"C:", L"b", L"C:b"},
      {L"a/", L"/b", L"a/b"},       {L"a\\\\", L"\\b", L"a\\\\b"}, {L"C:\\a", L"\\b", L"C:\\a\\b"}};
  for (const auto& [base, other, expected] : joins) {
    SharedWString path(base);
    JoinPath(path, SharedWString(other));
    EXPECT_STREQ(path.Chars(), expected) << base << " + " << other;
  }
}

// Bytes above 0x7F are ordinary characters, not separators.
TEST(PathStringsTest, PartsSplitAtTheLastSeparatorAndTheLastDot) {
  const char* const parts[][3] = {
      {"a\\b.c.x", "b.c.x", "a\\b.c"},          {"d.x/n", "n", "d.x/n"},    {"C:.x", ".x", "C:"},
      {"\xDC\xAF.x", "\xDC\xAF.x", "\xDC\xAF"}, {"C:\\a\\", "", "C:\\a\\"}, {"n.", "n.", "n"}};
  for (const auto& [input, fileName, stem] : parts) {
    SharedString name(input), withoutExtension(input);
    FileNamePart(name);
    RemoveExtension(withoutExtension);
    EXPECT_STREQ(name.Chars(), fileName) << input;
    EXPECT_STREQ(withoutExtension.Chars(), stem) << input;
  }
}

}  // namespace
}  // namespace quorvel
