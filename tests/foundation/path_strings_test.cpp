#include "foundation/path_strings.h"

#include <string>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

std::wstring Normalized(const wchar_t* text) {
  SharedWString path(text);
  NormalizePath(path);
  return path.Chars();
}

std::wstring Joined(const wchar_t* base, const wchar_t* other) {
  SharedWString path(base);
  JoinPath(path, SharedWString(other));
  return path.Chars();
}

std::wstring FileName(const wchar_t* text) {
  SharedWString path(text);
  FileNamePart(path);
  return path.Chars();
}

TEST(PathStringsTest, NormalizePathTurnsSlashesAndDropsOnlyTrailingBackslashes) {
  EXPECT_EQ(Normalized(L"C:/a//b/"), L"C:\\a\\\\b");
  EXPECT_EQ(Normalized(L"C:\\"), L"C:");
  EXPECT_EQ(Normalized(L"\\"), L"");
  EXPECT_EQ(Normalized(L"a\\/\\"), L"a");
  EXPECT_EQ(Normalized(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(Normalized(L"C:\\A\\..\\b:c"), L"C:\\A\\..\\b:c");
  const SharedWString original(L"a/b/");
  SharedWString path(original);
  ToBackslashes(path);
  EXPECT_STREQ(path.Chars(), L"a\\b\\");
  EXPECT_STREQ(original.Chars(), L"a/b/") << "another copy of the text changed";
}

TEST(PathStringsTest, JoinPath) {
  // Empty sides.
  EXPECT_EQ(Joined(L"C:\\a", L""), L"C:\\a");
  EXPECT_EQ(Joined(L"", L"b\\c"), L"b\\c");
  // Drive-qualified and network parts replace the base.
  EXPECT_EQ(Joined(L"C:\\a", L"D:\\x"), L"D:\\x");
  EXPECT_EQ(Joined(L"C:\\a", L"D:x"), L"D:x");
  EXPECT_EQ(Joined(L"C:\\a", L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(Joined(L"C:\\a", L"//server/share"), L"//server/share");
  EXPECT_EQ(Joined(L"C:\\a", L"/\\x"), L"/\\x");
  // One slash only where needed; of two meeting slashes one is kept.
  EXPECT_EQ(Joined(L"C:\\a", L"b"), L"C:\\a/b");
  EXPECT_EQ(Joined(L"C:", L"b"), L"C:b");
  EXPECT_EQ(Joined(L"C:\\a\\", L"b"), L"C:\\a\\b");
  EXPECT_EQ(Joined(L"a/", L"b"), L"a/b");
  EXPECT_EQ(Joined(L"a/", L"/b"), L"a/b");
  EXPECT_EQ(Joined(L"/", L"\\b"), L"\\b");
  EXPECT_EQ(Joined(L"a\\\\", L"\\b"), L"a\\\\b");
  // A rooted part without drive is appended.
  EXPECT_EQ(Joined(L"C:\\a", L"\\b"), L"C:\\a\\b");
  EXPECT_EQ(Joined(L"C:", L"\\b"), L"C:\\b");
  EXPECT_EQ(Joined(L"a", L"\\"), L"a\\");
  const SharedWString original(L"C:\\a\\");
  SharedWString base(original);
  JoinPath(base, SharedWString(L"\\b"));
  EXPECT_STREQ(original.Chars(), L"C:\\a\\") << "another copy of the base changed";
}

TEST(PathStringsTest, DirectoryPartAndFileNamePartSplitAtTheLastSeparator) {
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:\\a\\b")).Chars(), L"C:\\a\\");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:\\a\\")).Chars(), L"C:\\a\\");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:b")).Chars(), L"C:");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"a/b")).Chars(), L"a/");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"name")).Chars(), L"");
  EXPECT_EQ(FileName(L"C:\\a\\b.txt"), L"b.txt");
  EXPECT_EQ(FileName(L"C:b"), L"b");
  EXPECT_EQ(FileName(L"C:\\a\\"), L"");
  EXPECT_EQ(FileName(L"a/b"), L"b");
  EXPECT_EQ(FileName(L"name"), L"name");
}

TEST(PathStringsTest, NarrowFileNamePartAndRemoveExtension) {
  const char* cases[][3] = {{"C:\\a\\b.c.txt", "b.c.txt", "C:\\a\\b.c"},
                            {"dir.x\\name", "name", "dir.x\\name"},
                            {"C:name.exe", "name.exe", "C:name"},
                            {"C:.x", ".x", "C:"},
                            {"C:\\a\\", "", "C:\\a\\"},
                            {".profile", ".profile", ""},
                            {"name.", "name.", "name"},
                            // Bytes above 0x7F are ordinary characters, not separators.
                            {"a\\\xDC\xAF.exe", "\xDC\xAF.exe", "a\\\xDC\xAF"}};
  for (const auto& [input, fileName, withoutExtension] : cases) {
    SharedString name(input);
    FileNamePart(name);
    EXPECT_STREQ(name.Chars(), fileName) << input;
    SharedString stem(input);
    RemoveExtension(stem);
    EXPECT_STREQ(stem.Chars(), withoutExtension) << input;
  }
}

}  // namespace
}  // namespace quorvel
