#include "files/path_strings.h"

#include <string>
#include <tuple>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(PathStringsTest, NormalizePathTurnsSlashesAndDropsOnlyTrailingBackslashes) {
  for (const auto& [text, expected] :
       {std::pair<const wchar_t*, const wchar_t*>{L"C:/a//b/", L"C:\\a\\\\b"},
        {L"C:\\", L"C:"},
        {L"\\", L""},
        {L"a\\/\\", L"a"},
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"C:\\A\\..\\b:c", L"C:\\A\\..\\b:c"}}) {
    SharedWString path(text);
    NormalizePath(path);
    EXPECT_STREQ(path.Chars(), expected) << text;
  }
  const SharedWString original(L"a/b/");
  SharedWString path(original);
  ToBackslashes(path);
  EXPECT_STREQ(path.Chars(), L"a\\b\\");
  EXPECT_STREQ(original.Chars(), L"a/b/") << "another copy of the text changed";
}

TEST(PathStringsTest, JoinPathAddsOneSlashWhereNeededAndLetsAQualifiedPartReplaceTheBase) {
  for (const auto& [base, other, expected] :
       {std::tuple<const wchar_t*, const wchar_t*, const wchar_t*>{L"C:\\a", L"", L"C:\\a"},
        {L"", L"b\\c", L"b\\c"},
        {L"C:\\a", L"D:\\x", L"D:\\x"},
        {L"C:\\a", L"D:x", L"D:x"},
        {L"C:\\a", L"\\\\server\\share", L"\\\\server\\share"},
        {L"C:\\a", L"//server/share", L"//server/share"},
        {L"C:\\a", L"/\\x", L"/\\x"},
        {L"C:\\a", L"b", L"C:\\a/b"},
        {L"C:", L"b", L"C:b"},
        {L"C:\\a\\", L"b", L"C:\\a\\b"},
        {L"a/", L"/b", L"a/b"},
        {L"/", L"\\b", L"\\b"},
        {L"a\\\\", L"\\b", L"a\\\\b"},
        {L"C:\\a", L"\\b", L"C:\\a\\b"},
        {L"C:", L"\\b", L"C:\\b"},
        {L"a", L"\\", L"a\\"}}) {
    const SharedWString original(base);
    SharedWString path(original);
    JoinPath(path, SharedWString(other));
    EXPECT_STREQ(path.Chars(), expected) << base << " + " << other;
    EXPECT_STREQ(original.Chars(), base) << "another copy of the base changed";
  }
}

TEST(PathStringsTest, PartsSplitAtTheLastSeparatorAndTheLastDot) {
  for (const auto& [text, directory, fileName] :
       {std::tuple<const wchar_t*, const wchar_t*, const wchar_t*>{L"C:\\a\\b.txt", L"C:\\a\\",
                                                                   L"b.txt"},
        {L"C:\\a\\", L"C:\\a\\", L""},
        {L"C:b", L"C:", L"b"},
        {L"a/b", L"a/", L"b"},
        {L"name", L"", L"name"}}) {
    SharedWString name(text);
    FileNamePart(name);
    EXPECT_STREQ(DirectoryPart(SharedWString(text)).Chars(), directory) << text;
    EXPECT_STREQ(name.Chars(), fileName) << text;
  }
  for (const auto& [input, fileName, stem] :
       {std::tuple<const char*, const char*, const char*>{"C:\\a\\b.c.txt", "b.c.txt",
                                                          "C:\\a\\b.c"},
        {"dir.x\\name", "name", "dir.x\\name"},
        {"C:name.exe", "name.exe", "C:name"},
        {"C:.x", ".x", "C:"},
        {"C:\\a\\", "", "C:\\a\\"},
        {".profile", ".profile", ""},
        {"name.", "name.", "name"},
        // Bytes above 0x7F are ordinary characters, not separators.
        {"a\\\xDC\xAF.exe", "\xDC\xAF.exe", "a\\\xDC\xAF"}}) {
    SharedString name(input), withoutExtension(input);
    FileNamePart(name);
    RemoveExtension(withoutExtension);
    EXPECT_STREQ(name.Chars(), fileName) << input;
    EXPECT_STREQ(withoutExtension.Chars(), stem) << input;
  }
}

}  // namespace
}  // namespace quorvel
