#include "files/path_strings.h"

#include <string>
#include <tuple>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

// Another copy of the text never changes with it.
TEST(PathStringsTest, NormalizeAndJoinTurnSlashesAndLetAQualifiedPartReplaceTheBase) {
  for (const auto& [text, expected] :
       {std::pair<const wchar_t*, const wchar_t*>{L"C:/a//b/", L"C:\\a\\\\b"},
        {L"C:\\", L"C:"},
        {L"\\", L""},
        {L"a\\/\\", L"a"},
        {L"\\\\server\\share", L"\\\\server\\share"}}) {
    const SharedWString original(text);
    SharedWString path(original);
    NormalizePath(path);
    EXPECT_STREQ(path.Chars(), expected) << text;
    EXPECT_STREQ(original.Chars(), text);
  }
  for (const auto& [base, other, expected] :
       {std::tuple<const wchar_t*, const wchar_t*, const wchar_t*>{L"C:\\a", L"", L"C:\\a"},
        {L"", L"b\\c", L"b\\c"},
        {L"C:\\a", L"D:x", L"D:x"},
        {L"C:\\a", L"\\\\server\\share", L"\\\\server\\share"},
        {L"C:\\a", L"/\\x", L"/\\x"},
        {L"C:\\a", L"b", L"C:\\a/b"},
        {L"C:", L"b", L"C:b"},
        {L"a/", L"/b", L"a/b"},
        {L"a\\\\", L"\\b", L"a\\\\b"},
        {L"C:\\a", L"\\b", L"C:\\a\\b"},
        {L"a", L"\\", L"a\\"}}) {
    const SharedWString original(base);
    SharedWString path(original);
    JoinPath(path, SharedWString(other));
    EXPECT_STREQ(path.Chars(), expected) << base << " + " << other;
    EXPECT_STREQ(original.Chars(), base);
  }
}

TEST(PathStringsTest, PartsSplitAtTheLastSeparatorAndTheLastDot) {
  for (const auto& [text, directory, fileName] :
       {std::tuple<const wchar_t*, const wchar_t*, const wchar_t*>{L"C:\\a\\b.txt", L"C:\\a\\",
                                                                   L"b.txt"},
        {L"C:b", L"C:", L"b"},
        {L"a/b", L"a/", L"b"},
        {L"name", L"", L"name"}}) {
    SharedWString name(text);
    FileNamePart(name);
    EXPECT_EQ(std::wstring(DirectoryPart(SharedWString(text)).Chars()) + L"|" + name.Chars(),
              std::wstring(directory) + L"|" + fileName);
  }
  for (const auto& [input, fileName, stem] :
       {std::tuple<const char*, const char*, const char*>{"C:\\a\\b.c.txt", "b.c.txt",
                                                          "C:\\a\\b.c"},
        {"dir.x\\name", "name", "dir.x\\name"},
        {"C:.x", ".x", "C:"},
        {"C:\\a\\", "", "C:\\a\\"},
        {"name.", "name.", "name"},
        // Bytes above 0x7F are ordinary characters, not separators.
        {"a\\\xDC\xAF.exe", "\xDC\xAF.exe", "a\\\xDC\xAF"}}) {
    SharedString name(input), withoutExtension(input);
    FileNamePart(name);
    RemoveExtension(withoutExtension);
    EXPECT_EQ(std::string(name.Chars()) + "|" + withoutExtension.Chars(),
              std::string(fileName) + "|" + stem);
  }
}

}  // namespace
}  // namespace quorvel
