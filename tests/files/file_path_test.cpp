// FilePath on real temporary folders.
#include "files/file_path.h"

#include <iterator>

#include "foundation/scoped_handle.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

const HRESULT kFileNotFound = HRESULT_FROM_WIN32(2), kPathNotFound = HRESULT_FROM_WIN32(3),
              kSharing = HRESULT_FROM_WIN32(32), kFileExists = HRESULT_FROM_WIN32(80),
              kNotEmpty = HRESULT_FROM_WIN32(145), kAlreadyExists = HRESULT_FROM_WIN32(183);

FilePath PathOf(const std::wstring& text) { return FilePath(SharedWString(text.c_str())); }

class FilePathTest : public TempDirTest {
 protected:
  FilePath P(const std::wstring& relative) const { return PathOf(At(relative)); }
};

// Slashes become backslashes and trailing ones go, but not leading ones; full paths of up to the
// system's 32,767 characters resolve, without a trailing backslash even at a drive's root, as a
// run's folder names it.
TEST_F(FilePathTest, PathsAreNormalisedTextWhoseFullPathResolvesUpTo32767Characters) {
  const std::pair<FilePath, const wchar_t*> rows[] = {
      {PathOf(L"C:/a//b/"), L"C:\\a\\\\b"},
      {PathOf(L"a\\/\\"), L"a"},
      {PathOf(L"\\"), L""},
      {PathOf(L"\\\\server\\share"), L"\\\\server\\share"},
      {FilePath(), L"."},
      {PathOf(L"C:\\game").Joined(SharedWString(L"b/c/")), L"C:\\game\\b\\c"},
      {PathOf(L"C:\\a\\b").Parent(), L"C:\\a"},
      {PathOf(L"C:\\").Parent(), L"C:"},
      {PathOf(L"C:b").Parent(), L"C:"},
      {PathOf(L"name").Parent(), L""}};
  for (size_t row = 0; row < std::size(rows); ++row) {
    EXPECT_STREQ(rows[row].first.Path().Chars(), rows[row].second) << "row: " << row;
  }
  const std::wstring fits = L"C:\\" + std::wstring(32767 - 3, L'a');
  EXPECT_EQ(PathOf(fits).FullPath().Chars(), fits);
  EXPECT_TRUE(PathOf(fits + L"b").FullPath().IsEmpty());
  EXPECT_EQ(PathOf(L"C:\\.").FullPath().Chars(), std::wstring(L"C:"));
}

// Thread body: CreateDirectories of the FilePath, with only about 64 KB left of the thread's
// 1 MB stack.
DWORD WINAPI CreateDirectoriesOf(void* path) {
  volatile char ballast[960 * 1024];
  ballast[0] = 0;
  static_cast<FilePath*>(path)->CreateDirectories();
  return ballast[0];
}

TEST_F(FilePathTest, CreateDirectoriesCopyAndMoveMakeEveryMissingLevelAndStopAtAFileInTheWay) {
  EXPECT_TRUE(P(L"a\\b\\c").CreateDirectories() == S_OK && PathExists(At(L"a\\b\\c")));
  EXPECT_EQ(P(L"a\\b\\c").CreateDirectories(), S_OK);
  WriteFileBytes(At(L"a\\f"), "x");
  FilePath below = P(L"a\\f\\c\\d");
  EXPECT_EQ(below.CreateDirectories(), kAlreadyExists);
  EXPECT_EQ(below.LastResult(), kAlreadyExists);
  // A drive that does not exist is its own parent: the climb must end there, and missing levels
  // cost no stack: 64 KB are enough for two thousand.
  std::wstring drive = L"Y:", levels;
  while (drive[0] > L'D' && (GetLogicalDrives() & (1u << (drive[0] - L'A'))) != 0) {
    --drive[0];
  }
  for (int level = 0; level < 2000; ++level) {
    levels += L"\\a";
  }
  FilePath deep = PathOf(drive + levels);
  const ScopedHandle thread(CreateThread(nullptr, 1024 * 1024, CreateDirectoriesOf, &deep,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  WaitForSingleObject(thread.Get(), INFINITE);
  EXPECT_EQ(deep.LastResult(), kPathNotFound);
  // Copy and move create the destination's folders and report what stops them.
  WriteFileBytes(At(L"f.txt"), "new");
  WriteFileBytes(At(L"g.txt"), "old");
  CreateDirectoryW(At(L"dest").c_str(), nullptr);
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), true), kFileExists);
  EXPECT_EQ(source.LastResult(), kFileExists);
  EXPECT_EQ(source.MoveTo(P(L"g.txt")), kAlreadyExists);
  EXPECT_EQ(source.CopyTo(P(L"g.txt\\sub\\f.txt"), false), kAlreadyExists);
  EXPECT_EQ(source.MoveTo(P(L"dest")), S_OK);  // an existing folder takes the source's name
  // A source that is missing makes no folder for its destination.
  EXPECT_EQ(source.CopyTo(P(L"out\\f.txt"), false), kFileNotFound);
  EXPECT_EQ(P(L"none\\f.txt").MoveTo(P(L"out\\f.txt")), kPathNotFound);
  EXPECT_EQ(Contents({At(L"g.txt"), At(L"dest\\f.txt"), At(L"f.txt"), At(L"out")}), "old|new|-|-|");
}

// Emptied folders go up to the root; a missing file still lets them go, a folder that is not
// empty stays, and a file that stays is a failure.
TEST_F(FilePathTest, RemoveWithEmptyParentsStopsAtAFolderThatIsNotEmptyAndNeverAtTheRoot) {
  for (const wchar_t* name : {L"R\\x\\y\\f.txt", L"R\\x\\other.txt", L"R\\busy\\sub\\keep.txt",
                              L"R\\held.txt", L"Rx\\f"}) {
    WriteFileBytes(At(name), "f");
  }
  CreateDirectoryW(At(L"R\\w").c_str(), nullptr);
  // The root is compared by its characters, case and all, up to a separator (Rx lies beside R);
  // outside it only the path goes.
  for (const wchar_t* name : {L"R\\x\\y\\f.txt", L"R\\w\\missing.txt", L"R\\busy",
                              L"r\\busy\\sub\\keep.txt", L"Rx\\f", L"R\\x\\other.txt"}) {
    EXPECT_EQ(P(name).RemoveWithEmptyParents(P(L"R")), S_OK) << Utf8(name);
  }
  // Folders that stay read as empty.
  EXPECT_EQ(Contents({At(L"R\\x"), At(L"R\\w"), At(L"R\\busy\\sub\\keep.txt"), At(L"Rx\\f"),
                      At(L"Rx"), At(L"R\\busy\\sub")}),
            "-|-|-|-|||");
  EXPECT_EQ(P(L"R\\busy").Delete(), kNotEmpty);
  const FileLock lock(At(L"R\\held.txt"));
  FilePath held = P(L"R\\held.txt");
  EXPECT_EQ(held.RemoveWithEmptyParents(P(L"R")), kSharing);
  EXPECT_EQ(held.LastResult(), kSharing);
  // A root longer than the system takes holds nothing either.
  const std::wstring tooLong = At(std::wstring(32767, L'd'));
  EXPECT_EQ(PathOf(tooLong + L"\\f").RemoveWithEmptyParents(PathOf(tooLong)),
            PathOf(tooLong + L"\\f").Delete());
  EXPECT_EQ(P(L"R\\gone").RemoveWithEmptyParents(P(L"other")), kFileNotFound);
}

// A bare drive is its own parent and resolves to that drive's current directory, which for a
// drive other than the process's own comes from the "=X:" environment entry.
TEST_F(FilePathTest, RemoveWithEmptyParentsEndsAtABareDriveWhoseDirectoryHasGone) {
  const std::wstring drive = Dir().substr(0, 2);
  if (_wcsnicmp(ProgramFolder().c_str(), drive.c_str(), 2) == 0) {
    GTEST_SKIP() << "the test programs live on the temporary folder's drive";
  }
  SetCurrentDirectoryW(ProgramFolder().c_str());
  SetEnvironmentVariableW((L"=" + drive).c_str(), At(L"cwd").c_str());
  WriteFileBytes(At(L"cwd\\x\\f.txt"), "f");
  EXPECT_EQ(PathOf(drive + L"x\\f.txt").RemoveWithEmptyParents(PathOf(Dir())), S_OK);
  SetEnvironmentVariableW((L"=" + drive).c_str(), nullptr);
  EXPECT_EQ(Contents({At(L"cwd"), Dir()}), "-||") << "cwd removed, the root kept";
}

}  // namespace
}  // namespace quorvel::test
