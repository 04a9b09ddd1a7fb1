#include "files/file_path.h"

#include <cwctype>
#include <string>
#include <utility>

#include "foundation/scoped_handle.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::IsDirectory;
using test::PathExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
constexpr HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);
constexpr HRESULT kSharingViolation = static_cast<HRESULT>(0x80070020);
constexpr HRESULT kFileExists = static_cast<HRESULT>(0x80070050);
constexpr HRESULT kDirNotEmpty = static_cast<HRESULT>(0x80070091);
constexpr HRESULT kAlreadyExists = static_cast<HRESULT>(0x800700B7);

FilePath PathOf(const std::wstring& text) { return FilePath(SharedWString(text.c_str())); }
std::wstring Text(const SharedWString& s) { return s.Chars(); }

// Sets the process's current directory for the length of a test.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::wstring& folder) {
    GetCurrentDirectoryW(MAX_PATH, saved_);
    SetCurrentDirectoryW(folder.c_str());
  }
  ~CurrentDirectory() { SetCurrentDirectoryW(saved_); }

 private:
  wchar_t saved_[MAX_PATH + 1] = {};
};

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

class FilePathTest : public test::TempDirTest {
 protected:
  FilePath P(const std::wstring& relative) const { return PathOf(At(relative)); }
  // Opens a file without sharing, as another program holding it would.
  ScopedFileHandle Lock(const std::wstring& relative) const {
    return ScopedFileHandle(CreateFileW(At(relative).c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
};

TEST(FilePathValueTest, ConstructionJoinAndParentAreTextual) {
  EXPECT_EQ(Text(PathOf(L"C:/a//b/").Path()), L"C:\\a\\\\b");
  EXPECT_EQ(Text(PathOf(L"\\").Path()), L"");
  EXPECT_EQ(Text(PathOf(L"C:\\a\\b").Parent().Path()), L"C:\\a");
  EXPECT_EQ(Text(PathOf(L"C:\\a").Parent().Path()), L"C:");
  EXPECT_EQ(Text(PathOf(L"C:\\").Parent().Path()), L"C:");
  EXPECT_EQ(Text(PathOf(L"name").Parent().Path()), L"");
  EXPECT_EQ(Text(PathOf(L"\\\\server\\share").Parent().Path()), L"\\\\server");
  FilePath base = PathOf(L"C:\\game");
  EXPECT_EQ(Text(base.Joined(SharedWString(L"bin/client.dll")).Path()),
            L"C:\\game\\bin\\client.dll");
  EXPECT_EQ(Text(base.Join(SharedWString(L"\\data\\")).Path()), L"C:\\game\\data");
  EXPECT_EQ(Text(base.Join(SharedWString(L"D:\\other")).Path()), L"D:\\other");
}

TEST_F(FilePathTest, FullPathResolvesRelativePathsAndABareDriveAndGivesUpBeyond259Characters) {
  const std::wstring fits = L"C:\\" + std::wstring(256, L'a');
  EXPECT_EQ(Text(PathOf(fits).FullPath()), fits);
  EXPECT_EQ(Text(PathOf(fits + L"b").FullPath()), L"");
  CurrentDirectory current(Dir());
  EXPECT_EQ(Text(PathOf(L"sub/f.txt").FullPath()), At(L"sub\\f.txt"));
  EXPECT_EQ(Text(PathOf(Dir().substr(0, 3)).FullPath()), Dir());
}

TEST_F(FilePathTest, ResultsAreKeptByCopiesAndAssignmentButNotByConstruction) {
  FilePath missingFolder = P(L"none\\g.txt");
  EXPECT_FALSE(missingFolder.Exists());
  EXPECT_EQ(missingFolder.LastResult(), kPathNotFound);
  FilePath missing = P(L"missing");
  EXPECT_FALSE(missing.Exists());
  EXPECT_EQ(FilePath(missing).LastResult(), kFileNotFound);
  EXPECT_EQ(missing.Joined(SharedWString(L"x")).LastResult(), kFileNotFound);
  EXPECT_EQ(missing.Parent().LastResult(), S_OK);
  missing = SharedWString(Dir().c_str());
  EXPECT_EQ(missing.LastResult(), kFileNotFound);
  EXPECT_TRUE(missing.Exists());
  EXPECT_EQ(missing.LastResult(), S_OK);
}

TEST_F(FilePathTest, DeleteRemovesFilesAndEmptyFoldersAndRecordsItsFailures) {
  WriteFileBytes(At(L"full\\f.txt"), "x");
  CreateDirectoryW(At(L"empty").c_str(), nullptr);
  WriteFileBytes(At(L"readonly.txt"), "keep");
  ASSERT_TRUE(SetFileAttributesW(At(L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  const std::pair<const wchar_t*, HRESULT> cases[] = {{L"full", kDirNotEmpty},
                                                      {L"missing.txt", kFileNotFound},
                                                      {L"readonly.txt", kAccessDenied},
                                                      {L"full\\f.txt", S_OK},
                                                      {L"empty", S_OK}};
  for (const auto& [name, result] : cases) {
    FilePath path = P(name);
    EXPECT_EQ(path.Delete(), result) << test::Utf8(name);
    EXPECT_EQ(path.LastResult(), result);
    EXPECT_EQ(PathExists(At(name)), result != S_OK && result != kFileNotFound);
  }
  // A read-only file moves as on Windows.
  EXPECT_EQ(P(L"readonly.txt").MoveTo(P(L"moved.txt")), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"moved.txt")), "keep");
}

TEST_F(FilePathTest, CreateDirectoriesCreatesEveryMissingLevelAndStopsAtAFileInTheWay) {
  EXPECT_EQ(P(L"a\\b\\c").CreateDirectories(), S_OK);
  EXPECT_TRUE(IsDirectory(At(L"a\\b\\c")));
  EXPECT_EQ(P(L"a\\b\\c").CreateDirectories(), S_OK);
  EXPECT_EQ(P(L"x\\y\\f.txt").CreateParentDirectories(), S_OK);
  EXPECT_TRUE(IsDirectory(At(L"x\\y")));
  EXPECT_FALSE(PathExists(At(L"x\\y\\f.txt")));
  WriteFileBytes(At(L"a\\f"), "x");
  EXPECT_EQ(P(L"a\\f").CreateDirectories(), kAlreadyExists);
  FilePath below = P(L"a\\f\\c\\d");
  EXPECT_EQ(below.CreateDirectories(), kAlreadyExists);
  EXPECT_EQ(below.LastResult(), kAlreadyExists);
}

TEST_F(FilePathTest, CreateDirectoriesOnADriveThatDoesNotExistFailsInsteadOfClimbingForever) {
  wchar_t letter = L'Y';
  while (letter >= L'D' && (GetLogicalDrives() & (1u << (letter - L'A'))) != 0) {
    --letter;
  }
  ASSERT_GE(letter, L'D') << "every drive letter is in use";
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

TEST_F(FilePathTest, CopyAndMoveOntoAnExistingDirectoryLandInsideUnderTheSourceName) {
  WriteFileBytes(At(L"src\\f.txt"), "new");
  CreateDirectoryW(At(L"dest").c_str(), nullptr);
  FilePath source = P(L"src\\f.txt");
  const FilePath destination = P(L"dest");
  EXPECT_EQ(source.CopyTo(destination, true), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"dest\\f.txt")), "new");
  EXPECT_EQ(Text(destination.Path()), At(L"dest"));
  ASSERT_TRUE(DeleteFileW(At(L"dest\\f.txt").c_str()));
  EXPECT_EQ(source.MoveTo(destination), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"dest\\f.txt")), "new");
  EXPECT_FALSE(PathExists(At(L"src\\f.txt")));
}

TEST_F(FilePathTest, ExistingFilesFailCopyOnlyWhenAskedAndAlwaysFailMove) {
  WriteFileBytes(At(L"f.txt"), "new");
  WriteFileBytes(At(L"g.txt"), "old");
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), true), kFileExists);
  EXPECT_EQ(source.LastResult(), kFileExists);
  EXPECT_EQ(source.MoveTo(P(L"g.txt")), kAlreadyExists);
  EXPECT_EQ(ReadFileBytes(At(L"g.txt")), "old");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), false), S_OK);
  EXPECT_EQ(source.LastResult(), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"g.txt")), "new");
}

TEST_F(FilePathTest, AMissingSourceFailsWithItsQueryErrorAndCreatesNothing) {
  FilePath missingFile = P(L"f.txt");
  EXPECT_EQ(missingFile.CopyTo(P(L"out\\f.txt"), false), kFileNotFound);
  EXPECT_EQ(missingFile.MoveTo(P(L"out\\f.txt")), kFileNotFound);
  FilePath missingFolder = P(L"none\\f.txt");
  EXPECT_EQ(missingFolder.CopyTo(P(L"out\\f.txt"), true), kPathNotFound);
  EXPECT_EQ(missingFolder.MoveTo(P(L"out\\f.txt")), kPathNotFound);
  EXPECT_EQ(missingFolder.LastResult(), kPathNotFound);
  EXPECT_FALSE(PathExists(At(L"out")));
}

TEST_F(FilePathTest, DestinationFoldersAreCreatedAndAFileInTheirWayStopsTheTransfer) {
  WriteFileBytes(At(L"f.txt"), "f");
  WriteFileBytes(At(L"blocker"), "b");
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"c\\d\\f.txt"), true), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"c\\d\\f.txt")), "f");
  EXPECT_EQ(source.CopyTo(P(L"blocker\\sub\\f.txt"), false), kAlreadyExists);
  EXPECT_EQ(source.MoveTo(P(L"blocker\\sub\\f.txt")), kAlreadyExists);
  EXPECT_EQ(source.LastResult(), kAlreadyExists);
  EXPECT_EQ(ReadFileBytes(At(L"f.txt")), "f");
}

TEST_F(FilePathTest, AFileHeldOpenWithoutSharingGivesASharingViolation) {
  WriteFileBytes(At(L"held.txt"), "held");
  const ScopedFileHandle lock = Lock(L"held.txt");
  ASSERT_TRUE(lock.IsValid());
  FilePath held = P(L"held.txt");
  EXPECT_EQ(held.MoveTo(P(L"moved.txt")), kSharingViolation);
  EXPECT_EQ(held.CopyTo(P(L"copied.txt"), false), kSharingViolation);
  EXPECT_EQ(held.Delete(), kSharingViolation);
  EXPECT_FALSE(PathExists(At(L"moved.txt")));
  // Nor can it be removed with its folders, which therefore stay.
  EXPECT_EQ(held.RemoveWithEmptyParents(PathOf(Dir())), kSharingViolation);
  EXPECT_EQ(held.LastResult(), kSharingViolation);
  EXPECT_TRUE(PathExists(At(L"held.txt")));
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
  EXPECT_FALSE(PathExists(At(L"R\\x\\y")));
  EXPECT_FALSE(PathExists(At(L"R\\w")));
  EXPECT_EQ(ReadFileBytes(At(L"R\\x\\other.txt")), "o");
  EXPECT_TRUE(PathExists(At(L"R\\busy\\sub\\keep.txt")));
  ASSERT_TRUE(DeleteFileW(At(L"R\\busy\\sub\\keep.txt").c_str()));
  EXPECT_EQ(P(L"R\\busy\\sub").RemoveWithEmptyParents(P(L"R")), S_OK);
  // R becomes empty, yet the root stays.
  EXPECT_EQ(P(L"R\\x\\other.txt").RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_FALSE(PathExists(At(L"R\\x")));
  EXPECT_FALSE(PathExists(At(L"R\\busy")));
  EXPECT_TRUE(IsDirectory(At(L"R")));
}

TEST_F(FilePathTest, RemoveWithEmptyParentsDeletesOnlyThePathUnlessTheRootBeginsIt) {
  WriteFileBytes(At(L"R\\x\\f.txt"), "f");
  std::wstring upper = At(L"R");
  for (wchar_t& c : upper) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  ASSERT_NE(upper, At(L"R"));
  EXPECT_EQ(P(L"R\\x\\f.txt").RemoveWithEmptyParents(PathOf(upper)), S_OK);
  EXPECT_FALSE(PathExists(At(L"R\\x\\f.txt")));
  EXPECT_TRUE(IsDirectory(At(L"R\\x")));
  // The root ends at a separator: Rx lies beside R. Outside the root the delete's result is
  // reported, also for paths too long to resolve.
  WriteFileBytes(At(L"Rx\\f"), "f");
  EXPECT_EQ(P(L"Rx\\f").RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_FALSE(PathExists(At(L"Rx\\f")));
  EXPECT_TRUE(IsDirectory(At(L"Rx")));
  const std::wstring tooLong = At(std::wstring(300, L'd'));
  FilePath inside = PathOf(tooLong + L"\\f");
  EXPECT_EQ(inside.RemoveWithEmptyParents(PathOf(tooLong)), PathOf(tooLong + L"\\f").Delete());
  EXPECT_LT(inside.LastResult(), 0);
  FilePath outside = P(L"R\\x\\f.txt");
  EXPECT_EQ(outside.RemoveWithEmptyParents(P(L"other")), kFileNotFound);
  EXPECT_EQ(outside.LastResult(), kFileNotFound);
  EXPECT_TRUE(IsDirectory(At(L"R\\x")));
}

// A bare drive is its own parent and resolves to that drive's current directory, which
// for a drive other than the process's own comes from the "=X:" environment entry.
TEST_F(FilePathTest, RemoveWithEmptyParentsEndsAtABareDriveWhoseDirectoryHasGone) {
  const std::wstring drive = Dir().substr(0, 2);
  CurrentDirectory current(test::ProgramFolder());
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  if (_wcsnicmp(folder, drive.c_str(), 2) == 0) {
    GTEST_SKIP() << "the test programs live on the temporary folder's drive";
  }
  const std::wstring variable = L"=" + drive;
  SetEnvironmentVariableW(variable.c_str(), At(L"cwd").c_str());
  WriteFileBytes(At(L"cwd\\x\\f.txt"), "f");
  EXPECT_EQ(Text(PathOf(drive + L"x").FullPath()), At(L"cwd\\x"));
  EXPECT_EQ(PathOf(drive + L"x\\f.txt").RemoveWithEmptyParents(PathOf(Dir())), S_OK);
  SetEnvironmentVariableW(variable.c_str(), nullptr);
  EXPECT_FALSE(PathExists(At(L"cwd")));
  EXPECT_TRUE(IsDirectory(Dir()));
}

}  // namespace
}  // namespace quorvel
