#include "files/path_strings.h"

#include <string>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

std::wstring Joined(const wchar_t* base, const wchar_t* other) {
  SharedWString path(base);
  JoinPath(path, SharedWString(other));
  return path.Chars();
}

std::wstring Normalized(const wchar_t* text) {
  SharedWString path(text);
  NormalizePath(path);
  return path.Chars();
}

std::wstring JoinedAndNormalized(const wchar_t* base, const wchar_t* other) {
  SharedWString path(base);
  JoinPath(path, SharedWString(other));
  NormalizePath(path);
  return path.Chars();
}

std::wstring FileName(const wchar_t* text) {
  SharedWString path(text);
  FileNamePart(path);
  return path.Chars();
}

std::string FileName(const char* text) {
  SharedString path(text);
  FileNamePart(path);
  return path.Chars();
}

std::string WithoutExtension(const char* text) {
  SharedString path(text);
  RemoveExtension(path);
  return path.Chars();
}

TEST(PathStringsTest, SeparatorSetsAreFixed) {
  EXPECT_STREQ(kPathSeparators, L"\\/:");
  EXPECT_STREQ(kSlashes, L"\\/");
}

TEST(PathStringsTest, ToBackslashesTouchesOnlySlashes) {
  SharedWString path(L"C:/a\\b//c:d");
  ToBackslashes(path);
  EXPECT_STREQ(path.Chars(), L"C:\\a\\b\\\\c:d");
}

TEST(PathStringsTest, NormalizePathDropsOnlyTrailingBackslashes) {
  EXPECT_EQ(Normalized(L"C:/a//b/"), L"C:\\a\\\\b");
  EXPECT_EQ(Normalized(L"C:\\"), L"C:");
  EXPECT_EQ(Normalized(L"\\"), L"");
  EXPECT_EQ(Normalized(L"a\\/\\"), L"a");
  EXPECT_EQ(Normalized(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(Normalized(L""), L"");
  EXPECT_EQ(Normalized(L"C:\\A\\..\\b"), L"C:\\A\\..\\b");
}

TEST(PathStringsTest, NormalizePathDoesNotChangeOtherCopiesOfTheText) {
  const SharedWString original(L"a/b/");
  SharedWString path(original);
  NormalizePath(path);
  EXPECT_STREQ(path.Chars(), L"a\\b");
  EXPECT_STREQ(original.Chars(), L"a/b/");
}

TEST(PathStringsTest, JoinPathEmptySides) {
  EXPECT_EQ(Joined(L"C:\\a", L""), L"C:\\a");
  EXPECT_EQ(Joined(L"", L"b\\c"), L"b\\c");
  EXPECT_EQ(Joined(L"", L""), L"");
}

TEST(PathStringsTest, JoinPathDriveAndNetworkPartsReplaceTheBase) {
  EXPECT_EQ(Joined(L"C:\\a", L"D:\\x"), L"D:\\x");
  EXPECT_EQ(Joined(L"C:\\a", L"D:x"), L"D:x");
  EXPECT_EQ(Joined(L"C:\\a", L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(Joined(L"C:\\a", L"//server/share"), L"//server/share");
  EXPECT_EQ(Joined(L"C:\\a", L"/\\x"), L"/\\x");
}

TEST(PathStringsTest, JoinPathAddsOneSlashOnlyWhereNeeded) {
  EXPECT_EQ(Joined(L"C:\\a", L"b"), L"C:\\a/b");
  EXPECT_EQ(JoinedAndNormalized(L"C:\\a", L"b"), L"C:\\a\\b");
  EXPECT_EQ(Joined(L"C:", L"b"), L"C:b");
  EXPECT_EQ(Joined(L"C:\\a\\", L"b"), L"C:\\a\\b");
  EXPECT_EQ(Joined(L"a/", L"b"), L"a/b");
}

TEST(PathStringsTest, JoinPathKeepsOneOfTwoMeetingSlashes) {
  EXPECT_EQ(Joined(L"C:\\a\\", L"\\b"), L"C:\\a\\b");
  EXPECT_EQ(Joined(L"a/", L"/b"), L"a/b");
  EXPECT_EQ(Joined(L"/", L"\\b"), L"\\b");
  EXPECT_EQ(Joined(L"a\\\\", L"\\b"), L"a\\\\b");
}

TEST(PathStringsTest, JoinPathAppendsARootedPartWithoutDrive) {
  EXPECT_EQ(Joined(L"C:\\a", L"\\b"), L"C:\\a\\b");
  EXPECT_EQ(Joined(L"C:", L"\\b"), L"C:\\b");
  EXPECT_EQ(Joined(L"a", L"\\"), L"a\\");
  EXPECT_EQ(JoinedAndNormalized(L"a", L"\\"), L"a");
}

TEST(PathStringsTest, JoinPathLeavesOtherCopiesOfTheBaseAlone) {
  const SharedWString original(L"C:\\a\\");
  SharedWString base(original);
  JoinPath(base, SharedWString(L"\\b"));
  EXPECT_STREQ(base.Chars(), L"C:\\a\\b");
  EXPECT_STREQ(original.Chars(), L"C:\\a\\");
}

TEST(PathStringsTest, DirectoryPartKeepsTheLastSeparator) {
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:\\a\\b")).Chars(), L"C:\\a\\");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:\\a\\")).Chars(), L"C:\\a\\");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:")).Chars(), L"C:");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"C:b")).Chars(), L"C:");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"a/b")).Chars(), L"a/");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"name")).Chars(), L"");
  EXPECT_STREQ(DirectoryPart(SharedWString(L"")).Chars(), L"");
}

TEST(PathStringsTest, FileNamePartWide) {
  EXPECT_EQ(FileName(L"C:\\a\\b.txt"), L"b.txt");
  EXPECT_EQ(FileName(L"C:b"), L"b");
  EXPECT_EQ(FileName(L"C:\\a\\"), L"");
  EXPECT_EQ(FileName(L"a/b"), L"b");
  EXPECT_EQ(FileName(L"name"), L"name");
}

TEST(PathStringsTest, FileNamePartNarrow) {
  EXPECT_EQ(FileName("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(FileName("C:b"), "b");
  EXPECT_EQ(FileName("C:\\a\\"), "");
  EXPECT_EQ(FileName("name.exe"), "name.exe");
  // Bytes above 0x7F are ordinary characters, not separators.
  EXPECT_EQ(FileName("a\\\xDC\xAF.exe"), "\xDC\xAF.exe");
}

TEST(PathStringsTest, RemoveExtensionCutsAtTheLastDotOfTheFinalComponent) {
  EXPECT_EQ(WithoutExtension("a\\b.c.txt"), "a\\b.c");
  EXPECT_EQ(WithoutExtension("dir.x\\name"), "dir.x\\name");
  EXPECT_EQ(WithoutExtension("C:name.exe"), "C:name");
  EXPECT_EQ(WithoutExtension("C:.x"), "C:");
  EXPECT_EQ(WithoutExtension(".profile"), "");
  EXPECT_EQ(WithoutExtension("name"), "name");
  EXPECT_EQ(WithoutExtension("name."), "name");
  EXPECT_EQ(WithoutExtension(""), "");
}

}  // namespace
}  // namespace quorvel
