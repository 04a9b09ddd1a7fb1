// Path strings and FilePath on real temporary folders.
#include "files/file_path.h"

#include <cwctype>
#include <string>
#include <tuple>
#include <utility>

#include "foundation/path_strings.h"
#include "foundation/scoped_handle.h"
#include "support/test_support.h"

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

using test::Contents;
using test::WriteFileBytes;

constexpr HRESULT Win32(DWORD code) { return static_cast<HRESULT>(0x80070000u | code); }
constexpr HRESULT kFileNotFound = Win32(2), kPathNotFound = Win32(3), kDenied = Win32(5),
                  kSharing = Win32(32), kFileExists = Win32(80), kNotEmpty = Win32(145),
                  kAlreadyExists = Win32(183);

FilePath PathOf(const std::wstring& text) { return FilePath(SharedWString(text.c_str())); }
std::wstring Text(const FilePath& path) { return path.Path().Chars(); }

class FilePathTest : public test::TempDirTest {
 protected:
  FilePath P(const std::wstring& relative) const { return PathOf(At(relative)); }
};

TEST_F(FilePathTest, PathsAreNormalisedTextWhoseFullPathResolvesUpTo259Characters) {
  EXPECT_EQ(Text(PathOf(L"C:/a//b/")) + L"|" + Text(PathOf(L"\\")) + L"|" + Text(FilePath()),
            L"C:\\a\\\\b||.");
  EXPECT_EQ(Text(PathOf(L"C:\\a\\b").Parent()) + L"|" + Text(PathOf(L"C:\\").Parent()) + L"|" +
                Text(PathOf(L"name").Parent()),
            L"C:\\a|C:|");
  FilePath base = PathOf(L"C:\\game");
  EXPECT_EQ(Text(base.Joined(SharedWString(L"bin/a.dll"))), L"C:\\game\\bin\\a.dll");
  EXPECT_EQ(Text(base.Join(SharedWString(L"\\data\\")).Join(SharedWString(L"D:\\x"))), L"D:\\x");
  const std::wstring fits = L"C:\\" + std::wstring(256, L'a');
  EXPECT_EQ(PathOf(fits).FullPath().Chars(), fits);
  EXPECT_TRUE(PathOf(fits + L"b").FullPath().IsEmpty());
  EXPECT_EQ(PathOf(Dir() + L"/sub/").FullPath().Chars(), At(L"sub"));
  // A drive's root, as a run's folder names it, has no trailing backslash either.
  EXPECT_EQ(PathOf(L"C:\\.").FullPath().Chars(), std::wstring(L"C:"));
}

TEST_F(FilePathTest, DeleteRemovesFilesAndEmptyFoldersAndRecordsItsFailures) {
  WriteFileBytes(At(L"full\\f.txt"), "x");
  CreateDirectoryW(At(L"empty").c_str(), nullptr);
  WriteFileBytes(At(L"readonly.txt"), "keep");
  SetFileAttributesW(At(L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  for (const auto& [name, result] : {std::pair<const wchar_t*, HRESULT>{L"full", kNotEmpty},
                                     {L"missing.txt", kFileNotFound},
                                     {L"readonly.txt", kDenied},
                                     {L"full\\f.txt", S_OK},
                                     {L"empty", S_OK}}) {
    FilePath path = P(name);
    EXPECT_EQ(path.Delete(), result) << test::Utf8(name);
    EXPECT_EQ(path.LastResult(), result);
    EXPECT_EQ(test::PathExists(At(name)), result != S_OK && result != kFileNotFound);
  }
  EXPECT_EQ(P(L"readonly.txt").MoveTo(P(L"moved.txt")), S_OK) << "moves as on Windows";
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
  EXPECT_EQ(P(L"a\\b\\c").CreateDirectories(), S_OK);
  EXPECT_EQ(P(L"a\\b\\c").CreateDirectories(), S_OK);
  EXPECT_EQ(P(L"x\\y\\f.txt").CreateParentDirectories(), S_OK);
  EXPECT_EQ(Contents({At(L"a\\b\\c\\f"), At(L"x\\y\\f.txt")}), "-|-|");
  EXPECT_TRUE(test::PathExists(At(L"a\\b\\c")) && test::PathExists(At(L"x\\y")));
  WriteFileBytes(At(L"a\\f"), "x");
  FilePath below = P(L"a\\f\\c\\d");
  EXPECT_EQ(below.CreateDirectories(), kAlreadyExists);
  EXPECT_EQ(below.LastResult(), kAlreadyExists);
  // A drive that does not exist is its own parent: the climb must end there.
  wchar_t letter = L'Y';
  while (letter > L'D' && (GetLogicalDrives() & (1u << (letter - L'A'))) != 0) {
    --letter;
  }
  const std::wstring drive(1, letter);
  EXPECT_LT(PathOf(drive + L":\\backup\\sub").CreateDirectories(), 0);
  // Missing levels cost no stack: 64 KB are enough for two thousand.
  std::wstring deep = drive + L":";
  for (int level = 0; level < 2000; ++level) {
    deep += L"\\a";
  }
  std::pair<FilePath, HRESULT> created(PathOf(deep), S_OK);
  const ScopedHandle thread(CreateThread(nullptr, 1024 * 1024, CreateDirectoriesOf, &created,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_TRUE(thread.IsValid());
  WaitForSingleObject(thread.Get(), INFINITE);
  EXPECT_EQ(created.second, PathOf(drive + L":\\a").CreateDirectories());
}

TEST_F(FilePathTest, CopyAndMoveCreateTheDestinationsFoldersAndReportWhatStopsThem) {
  WriteFileBytes(At(L"f.txt"), "new");
  WriteFileBytes(At(L"g.txt"), "old");
  WriteFileBytes(At(L"blocker"), "b");
  CreateDirectoryW(At(L"dest").c_str(), nullptr);
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), true), kFileExists);
  EXPECT_EQ(source.LastResult(), kFileExists);
  EXPECT_EQ(source.MoveTo(P(L"g.txt")), kAlreadyExists);
  EXPECT_EQ(source.CopyTo(P(L"blocker\\sub\\f.txt"), false), kAlreadyExists);
  EXPECT_EQ(Contents({At(L"g.txt"), At(L"f.txt")}), "old|new|");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), false), S_OK);
  EXPECT_EQ(source.LastResult(), S_OK);
  EXPECT_EQ(source.CopyTo(P(L"c\\d\\f.txt"), true), S_OK);
  EXPECT_EQ(source.MoveTo(P(L"dest")), S_OK);  // an existing folder takes the source's name
  EXPECT_EQ(Contents({At(L"g.txt"), At(L"c\\d\\f.txt"), At(L"dest\\f.txt"), At(L"f.txt")}),
            "new|new|new|-|");
  for (const auto& [name, result] : {std::pair<const wchar_t*, HRESULT>{L"f.txt", kFileNotFound},
                                     {L"none\\f.txt", kPathNotFound}}) {
    FilePath missing = P(name);
    EXPECT_EQ(missing.CopyTo(P(L"out\\f.txt"), false), result);
    EXPECT_EQ(missing.MoveTo(P(L"out\\f.txt")), result);
  }
  EXPECT_FALSE(test::PathExists(At(L"out")));
  // A file held open without sharing can be neither moved, copied nor deleted.
  const ScopedFileHandle lock(
      CreateFileW(At(L"g.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  FilePath held = P(L"g.txt");
  EXPECT_EQ(held.MoveTo(P(L"moved.txt")), kSharing);
  EXPECT_EQ(held.CopyTo(P(L"copied.txt"), false), kSharing);
  EXPECT_EQ(held.RemoveWithEmptyParents(PathOf(Dir())), kSharing);
  EXPECT_EQ(held.LastResult(), kSharing);
  EXPECT_EQ(Contents({At(L"moved.txt"), At(L"copied.txt")}), "-|-|");
}

TEST_F(FilePathTest, RemoveWithEmptyParentsStopsAtAFolderThatIsNotEmptyAndNeverAtTheRoot) {
  WriteFileBytes(At(L"R\\x\\y\\f.txt"), "f");
  WriteFileBytes(At(L"R\\x\\other.txt"), "o");
  WriteFileBytes(At(L"R\\busy\\sub\\keep.txt"), "k");
  CreateDirectoryW(At(L"R\\w").c_str(), nullptr);
  // A missing file still lets the emptied folders go; a folder that is not empty stays.
  for (const wchar_t* name : {L"R\\x\\y\\f.txt", L"R\\w\\missing.txt", L"R\\busy"}) {
    EXPECT_EQ(P(name).RemoveWithEmptyParents(P(L"R")), S_OK) << test::Utf8(name);
  }
  EXPECT_EQ(Contents({At(L"R\\x\\y"), At(L"R\\w"), At(L"R\\x\\other.txt"),
                      At(L"R\\busy\\sub\\keep.txt")}),
            "-|-|o|k|");
  // The root is compared by its characters, case and all, up to a separator (Rx lies beside R);
  // outside it only the path goes, also when the root is too long to resolve.
  std::wstring upper = At(L"R");
  for (wchar_t& c : upper) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  EXPECT_EQ(P(L"R\\busy\\sub\\keep.txt").RemoveWithEmptyParents(PathOf(upper)), S_OK);
  WriteFileBytes(At(L"Rx\\f"), "f");
  EXPECT_EQ(P(L"Rx\\f").RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_EQ(P(L"R\\x\\other.txt").RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_EQ(Contents({At(L"R\\busy\\sub\\keep.txt"), At(L"Rx\\f"), At(L"R\\x")}), "-|-|-|");
  EXPECT_TRUE(test::PathExists(At(L"Rx")));
  const std::wstring tooLong = At(std::wstring(300, L'd'));
  EXPECT_EQ(PathOf(tooLong + L"\\f").RemoveWithEmptyParents(PathOf(tooLong)),
            PathOf(tooLong + L"\\f").Delete());
  EXPECT_TRUE(test::PathExists(At(L"R\\busy\\sub")));
  EXPECT_EQ(P(L"R\\gone").RemoveWithEmptyParents(P(L"other")), kFileNotFound);
}

// A bare drive is its own parent and resolves to that drive's current directory, which for a
// drive other than the process's own comes from the "=X:" environment entry.
TEST_F(FilePathTest, RemoveWithEmptyParentsEndsAtABareDriveWhoseDirectoryHasGone) {
  const std::wstring drive = Dir().substr(0, 2);
  if (_wcsnicmp(test::ProgramFolder().c_str(), drive.c_str(), 2) == 0) {
    GTEST_SKIP() << "the test programs live on the temporary folder's drive";
  }
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(test::ProgramFolder().c_str());
  SetEnvironmentVariableW((L"=" + drive).c_str(), At(L"cwd").c_str());
  WriteFileBytes(At(L"cwd\\x\\f.txt"), "f");
  EXPECT_EQ(PathOf(drive + L"x").FullPath().Chars(), At(L"cwd\\x"));
  EXPECT_EQ(PathOf(drive + L"x\\f.txt").RemoveWithEmptyParents(PathOf(Dir())), S_OK);
  SetEnvironmentVariableW((L"=" + drive).c_str(), nullptr);
  SetCurrentDirectoryW(current);
  EXPECT_FALSE(test::PathExists(At(L"cwd")));
  EXPECT_TRUE(test::PathExists(Dir()));
}

}  // namespace
}  // namespace quorvel
