// Path strings and FilePath on real temporary folders.
#include "files/file_path.h"

#include <utility>

#include "foundation/path_strings.h"
#include "foundation/scoped_handle.h"
#include "support/test_support.h"

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

TEST(PathStringsTest, PartsSplitAtTheLastSeparatorAndTheLastDot) {
  const char* const parts[][3] = {{"C:\\a\\b.c.txt", "b.c.txt", "C:\\a\\b.c"},
                                  {"dir.x/name", "name", "dir.x/name"},
                                  {"C:.x", ".x", "C:"},
                                  {"C:\\a\\", "", "C:\\a\\"},
                                  {"name.", "name.", "name"},
                                  // Bytes above 0x7F are ordinary characters, not separators.
                                  {"a\\\xDC\xAF.exe", "\xDC\xAF.exe", "a\\\xDC\xAF"}};
  for (const auto& [input, fileName, stem] : parts) {
    SharedString name(input), withoutExtension(input);
    FileNamePart(name);
    RemoveExtension(withoutExtension);
    EXPECT_EQ(std::string(name.Chars()) + "|" + withoutExtension.Chars(),
              std::string(fileName) + "|" + stem);
  }
}

using test::Contents;
using test::WriteFileBytes;

constexpr HRESULT Win32(DWORD code) { return static_cast<HRESULT>(0x80070000u | code); }
constexpr HRESULT kFileNotFound = Win32(2), kPathNotFound = Win32(3), kSharing = Win32(32),
                  kFileExists = Win32(80), kNotEmpty = Win32(145), kAlreadyExists = Win32(183);

FilePath PathOf(const std::wstring& text) { return FilePath(SharedWString(text.c_str())); }
std::wstring Text(const FilePath& path) { return path.Path().Chars(); }

class FilePathTest : public test::TempDirTest {
 protected:
  FilePath P(const std::wstring& relative) const { return PathOf(At(relative)); }
};

// Slashes become backslashes and trailing ones go, but not leading ones; full paths of up to 259
// characters resolve, without a trailing backslash even at a drive's root, as a run's folder
// names it.
TEST_F(FilePathTest, PathsAreNormalisedTextWhoseFullPathResolvesUpTo259Characters) {
  EXPECT_EQ(Text(PathOf(L"C:/a//b/")) + L"|" + Text(PathOf(L"a\\/\\")) + L"|" +
                Text(PathOf(L"\\")) + L"|" + Text(PathOf(L"\\\\server\\share")) + L"|" +
                Text(FilePath()) + L"|" + Text(PathOf(L"C:\\game").Joined(SharedWString(L"b/c/"))),
            L"C:\\a\\\\b|a||\\\\server\\share|.|C:\\game\\b\\c");
  EXPECT_EQ(Text(PathOf(L"C:\\a\\b").Parent()) + L"|" + Text(PathOf(L"C:\\").Parent()) + L"|" +
                Text(PathOf(L"C:b").Parent()) + L"|" + Text(PathOf(L"name").Parent()),
            L"C:\\a|C:|C:|");
  const std::wstring fits = L"C:\\" + std::wstring(256, L'a');
  EXPECT_EQ(PathOf(fits).FullPath().Chars(), fits);
  EXPECT_TRUE(PathOf(fits + L"b").FullPath().IsEmpty());
  EXPECT_EQ(PathOf(L"C:\\.").FullPath().Chars(), std::wstring(L"C:"));
}

// Thread body: CreateDirectories of the pair's path, its result into the pair, with only about
// 64 KB left of the thread's 1 MB stack.
DWORD WINAPI CreateDirectoriesOf(void* pair) {
  volatile char ballast[960 * 1024];
  ballast[0] = 0;
  static_cast<void>(ballast);
  auto* created = static_cast<std::pair<FilePath, HRESULT>*>(pair);
  created->second = created->first.CreateDirectories();
  return 0;
}

TEST_F(FilePathTest, CreateDirectoriesCreatesEveryMissingLevelAndStopsAtAFileInTheWay) {
  EXPECT_TRUE(P(L"a\\b\\c").CreateDirectories() == S_OK && test::PathExists(At(L"a\\b\\c")));
  EXPECT_EQ(P(L"a\\b\\c").CreateDirectories(), S_OK);
  WriteFileBytes(At(L"a\\f"), "x");
  FilePath below = P(L"a\\f\\c\\d");
  EXPECT_EQ(below.CreateDirectories(), kAlreadyExists);
  EXPECT_EQ(below.LastResult(), kAlreadyExists);
  // A drive that does not exist is its own parent: the climb must end there, and missing levels
  // cost no stack: 64 KB are enough for two thousand.
  wchar_t letter = L'Y';
  while (letter > L'D' && (GetLogicalDrives() & (1u << (letter - L'A'))) != 0) {
    --letter;
  }
  const std::wstring drive(1, letter);
  std::wstring deep = drive + L":";
  for (int level = 0; level < 2000; ++level) {
    deep += L"\\a";
  }
  std::pair<FilePath, HRESULT> created(PathOf(deep), S_OK);
  const ScopedHandle thread(CreateThread(nullptr, 1024 * 1024, CreateDirectoriesOf, &created,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_TRUE(thread.IsValid());
  WaitForSingleObject(thread.Get(), INFINITE);
  EXPECT_TRUE(created.second < 0 && created.second == PathOf(drive + L":\\a").CreateDirectories());
}

TEST_F(FilePathTest, CopyAndMoveCreateTheDestinationsFoldersAndReportWhatStopsThem) {
  WriteFileBytes(At(L"f.txt"), "new");
  WriteFileBytes(At(L"g.txt"), "old");
  CreateDirectoryW(At(L"dest").c_str(), nullptr);
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), true), kFileExists);
  EXPECT_EQ(source.LastResult(), kFileExists);
  EXPECT_EQ(source.MoveTo(P(L"g.txt")), kAlreadyExists);
  EXPECT_EQ(source.CopyTo(P(L"g.txt\\sub\\f.txt"), false), kAlreadyExists);
  EXPECT_EQ(source.MoveTo(P(L"dest")), S_OK);  // an existing folder takes the source's name
  EXPECT_EQ(Contents({At(L"g.txt"), At(L"dest\\f.txt"), At(L"f.txt")}), "old|new|-|");
  // A source that is missing makes no folder for its destination.
  EXPECT_EQ(source.CopyTo(P(L"out\\f.txt"), false), kFileNotFound);
  EXPECT_EQ(P(L"none\\f.txt").MoveTo(P(L"out\\f.txt")), kPathNotFound);
  EXPECT_FALSE(test::PathExists(At(L"out")));
}

// Emptied folders go up to the root; a missing file still lets them go, a folder that is not
// empty stays, and a file that stays is a failure.
TEST_F(FilePathTest, RemoveWithEmptyParentsStopsAtAFolderThatIsNotEmptyAndNeverAtTheRoot) {
  WriteFileBytes(At(L"R\\x\\y\\f.txt"), "f");
  WriteFileBytes(At(L"R\\x\\other.txt"), "o");
  WriteFileBytes(At(L"R\\busy\\sub\\keep.txt"), "k");
  WriteFileBytes(At(L"R\\held.txt"), "h");
  CreateDirectoryW(At(L"R\\w").c_str(), nullptr);
  for (const wchar_t* name : {L"R\\x\\y\\f.txt", L"R\\w\\missing.txt", L"R\\busy"}) {
    EXPECT_EQ(P(name).RemoveWithEmptyParents(P(L"R")), S_OK) << test::Utf8(name);
  }
  EXPECT_EQ(Contents({At(L"R\\x\\y"), At(L"R\\w"), At(L"R\\x\\other.txt"),
                      At(L"R\\busy\\sub\\keep.txt")}),
            "-|-|o|k|");
  EXPECT_EQ(P(L"R\\busy").Delete(), kNotEmpty);
  const ScopedFileHandle lock(
      CreateFileW(At(L"R\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  FilePath held = P(L"R\\held.txt");
  EXPECT_EQ(held.RemoveWithEmptyParents(P(L"R")), kSharing);
  EXPECT_EQ(held.LastResult(), kSharing);
  // The root is compared by its characters, case and all, up to a separator (Rx lies beside R);
  // outside it only the path goes, also when the root is too long to resolve.
  std::wstring upper = At(L"R");
  CharUpperW(upper.data());
  EXPECT_EQ(P(L"R\\busy\\sub\\keep.txt").RemoveWithEmptyParents(PathOf(upper)), S_OK);
  WriteFileBytes(At(L"Rx\\f"), "f");
  EXPECT_EQ(P(L"Rx\\f").RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_EQ(P(L"R\\x\\other.txt").RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_EQ(Contents({At(L"R\\busy\\sub\\keep.txt"), At(L"Rx\\f"), At(L"R\\x")}), "-|-|-|");
  EXPECT_TRUE(test::PathExists(At(L"Rx")) && test::PathExists(At(L"R\\busy\\sub")));
  const std::wstring tooLong = At(std::wstring(300, L'd'));
  EXPECT_EQ(PathOf(tooLong + L"\\f").RemoveWithEmptyParents(PathOf(tooLong)),
            PathOf(tooLong + L"\\f").Delete());
  EXPECT_EQ(P(L"R\\gone").RemoveWithEmptyParents(P(L"other")), kFileNotFound);
}

// A bare drive is its own parent and resolves to that drive's current directory, which for a
// drive other than the process's own comes from the "=X:" environment entry.
TEST_F(FilePathTest, RemoveWithEmptyParentsEndsAtABareDriveWhoseDirectoryHasGone) {
  const std::wstring drive = Dir().substr(0, 2);
  if (_wcsnicmp(test::ProgramFolder().c_str(), drive.c_str(), 2) == 0) {
    GTEST_SKIP() << "the test programs live on the temporary folder's drive";
  }
  SetCurrentDirectoryW(test::ProgramFolder().c_str());
  SetEnvironmentVariableW((L"=" + drive).c_str(), At(L"cwd").c_str());
  WriteFileBytes(At(L"cwd\\x\\f.txt"), "f");
  EXPECT_EQ(PathOf(drive + L"x\\f.txt").RemoveWithEmptyParents(PathOf(Dir())), S_OK);
  SetEnvironmentVariableW((L"=" + drive).c_str(), nullptr);
  EXPECT_TRUE(!test::PathExists(At(L"cwd")) && test::PathExists(Dir()));
}

}  // namespace
}  // namespace quorvel
