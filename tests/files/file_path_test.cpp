#include "files/file_path.h"

#include <cwctype>
#include <string>

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

std::wstring Text(const SharedWString& s) { return s.Chars(); }

FilePath PathOf(const std::wstring& text) { return FilePath(SharedWString(text.c_str())); }

// Puts the process's current directory back at the end of a test.
class CurrentDirectoryRestorer {
 public:
  CurrentDirectoryRestorer() {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, buffer);
    saved_ = buffer;
  }
  ~CurrentDirectoryRestorer() { SetCurrentDirectoryW(saved_.c_str()); }

 private:
  std::wstring saved_;
};

// Sets an environment variable for the length of a test.
class ScopedVariable {
 public:
  ScopedVariable(const std::wstring& name, const std::wstring& value) : name_(name) {
    SetEnvironmentVariableW(name_.c_str(), value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), nullptr); }

 private:
  std::wstring name_;
};

class FilePathTest : public test::TempDirTest {
 protected:
  FilePath P(const std::wstring& relative) const { return PathOf(At(relative)); }
  // Opens a file for reading without sharing, as another program holding it would.
  ScopedFileHandle Lock(const std::wstring& relative) const {
    return ScopedFileHandle(CreateFileW(At(relative).c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
};

TEST(FilePathValueTest, ConstructionNormalisesAndStartsWithoutResult) {
  EXPECT_EQ(Text(FilePath().Path()), L".");
  EXPECT_EQ(Text(PathOf(L"C:\\").Path()), L"C:");
  EXPECT_EQ(Text(PathOf(L"C:/a//b/").Path()), L"C:\\a\\\\b");
  EXPECT_EQ(Text(PathOf(L"\\").Path()), L"");
  EXPECT_EQ(PathOf(L"C:\\a").LastResult(), S_OK);
}

TEST(FilePathValueTest, JoiningNormalisesAndKeepsTheOriginal) {
  FilePath base = PathOf(L"C:\\game");
  const FilePath joined = base.Joined(SharedWString(L"bin/client.dll"));
  EXPECT_EQ(Text(joined.Path()), L"C:\\game\\bin\\client.dll");
  EXPECT_EQ(Text(base.Path()), L"C:\\game");
  base.Join(SharedWString(L"\\data\\"));
  EXPECT_EQ(Text(base.Path()), L"C:\\game\\data");
  base.Join(SharedWString(L"D:\\other"));
  EXPECT_EQ(Text(base.Path()), L"D:\\other");
}

TEST(FilePathValueTest, ParentIsTextual) {
  EXPECT_EQ(Text(PathOf(L"C:\\a\\b").Parent().Path()), L"C:\\a");
  EXPECT_EQ(Text(PathOf(L"C:\\a").Parent().Path()), L"C:");
  EXPECT_EQ(Text(PathOf(L"C:").Parent().Path()), L"C:");
  EXPECT_EQ(Text(PathOf(L"name").Parent().Path()), L"");
  EXPECT_EQ(Text(PathOf(L"\\\\server\\share").Parent().Path()), L"\\\\server");
}

TEST(FilePathValueTest, FullPathGivesEmptyTextBeyond259Characters) {
  const std::wstring fits = L"C:\\" + std::wstring(256, L'a');
  const std::wstring tooLong = fits + L"b";
  EXPECT_EQ(Text(PathOf(fits).FullPath()), fits);
  EXPECT_EQ(Text(PathOf(tooLong).FullPath()), L"");
  EXPECT_EQ(Text(PathOf(L"").FullPath()), L"");
}

TEST_F(FilePathTest, ResultsAreKeptByCopiesAndAssignmentButNotByConstruction) {
  FilePath missing = P(L"missing");
  EXPECT_FALSE(missing.Exists());
  EXPECT_EQ(missing.LastResult(), kFileNotFound);
  const FilePath copy(missing);
  EXPECT_EQ(copy.LastResult(), kFileNotFound);
  EXPECT_EQ(missing.Joined(SharedWString(L"x")).LastResult(), kFileNotFound);
  EXPECT_EQ(missing.Parent().LastResult(), S_OK);
  missing = SharedWString(Dir().c_str());
  EXPECT_EQ(missing.LastResult(), kFileNotFound);
  EXPECT_TRUE(missing.Exists());
  EXPECT_EQ(missing.LastResult(), S_OK);
}

TEST_F(FilePathTest, FullPathResolvesRelativePathsAndABareDriveAgainstTheCurrentDirectory) {
  CurrentDirectoryRestorer restore;
  ASSERT_TRUE(SetCurrentDirectoryW(Dir().c_str()));
  EXPECT_EQ(Text(PathOf(L"sub/f.txt").FullPath()), At(L"sub\\f.txt"));
  const FilePath drive = PathOf(Dir().substr(0, 3));
  EXPECT_EQ(Text(drive.Path()), Dir().substr(0, 2));
  EXPECT_EQ(Text(drive.FullPath()), Dir());
}

TEST_F(FilePathTest, ExistsRecordsTheQueryError) {
  WriteFileBytes(At(L"f.txt"), "x");
  FilePath file = P(L"f.txt");
  EXPECT_TRUE(file.Exists());
  EXPECT_EQ(file.LastResult(), S_OK);
  FilePath missingFile = P(L"g.txt");
  EXPECT_FALSE(missingFile.Exists());
  EXPECT_EQ(missingFile.LastResult(), kFileNotFound);
  FilePath missingFolder = P(L"none\\g.txt");
  EXPECT_FALSE(missingFolder.Exists());
  EXPECT_EQ(missingFolder.LastResult(), kPathNotFound);
}

TEST_F(FilePathTest, DeleteRemovesFilesAndEmptyDirectories) {
  WriteFileBytes(At(L"f.txt"), "x");
  CreateDirectoryW(At(L"empty").c_str(), nullptr);
  FilePath file = P(L"f.txt");
  FilePath empty = P(L"empty");
  EXPECT_EQ(file.Delete(), S_OK);
  EXPECT_EQ(empty.Delete(), S_OK);
  EXPECT_FALSE(PathExists(At(L"f.txt")));
  EXPECT_FALSE(PathExists(At(L"empty")));
}

TEST_F(FilePathTest, DeleteFailuresAreRecorded) {
  WriteFileBytes(At(L"full\\f.txt"), "x");
  FilePath full = P(L"full");
  EXPECT_EQ(full.Delete(), kDirNotEmpty);
  EXPECT_EQ(full.LastResult(), kDirNotEmpty);
  EXPECT_TRUE(PathExists(At(L"full\\f.txt")));

  FilePath missing = P(L"missing.txt");
  EXPECT_EQ(missing.Delete(), kFileNotFound);
  EXPECT_EQ(missing.LastResult(), kFileNotFound);

  WriteFileBytes(At(L"readonly.txt"), "keep");
  ASSERT_TRUE(SetFileAttributesW(At(L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FilePath readOnly = P(L"readonly.txt");
  EXPECT_EQ(readOnly.Delete(), kAccessDenied);
  EXPECT_EQ(readOnly.LastResult(), kAccessDenied);
  EXPECT_EQ(ReadFileBytes(At(L"readonly.txt")), "keep");
}

TEST_F(FilePathTest, CreateDirectoriesCreatesEveryMissingLevel) {
  CreateDirectoryW(At(L"a").c_str(), nullptr);
  FilePath deep = P(L"a\\b\\c");
  EXPECT_EQ(deep.CreateDirectories(), S_OK);
  EXPECT_EQ(deep.LastResult(), S_OK);
  EXPECT_TRUE(IsDirectory(At(L"a\\b")));
  EXPECT_TRUE(IsDirectory(At(L"a\\b\\c")));
  EXPECT_EQ(deep.CreateDirectories(), S_OK);
}

TEST_F(FilePathTest, CreateDirectoriesFailsOnAFileInTheWay) {
  WriteFileBytes(At(L"a\\f"), "x");
  FilePath file = P(L"a\\f");
  EXPECT_EQ(file.CreateDirectories(), kAlreadyExists);
  FilePath below = P(L"a\\f\\c\\d");
  EXPECT_EQ(below.CreateDirectories(), kAlreadyExists);
  EXPECT_EQ(below.LastResult(), kAlreadyExists);
  EXPECT_EQ(ReadFileBytes(At(L"a\\f")), "x");
}

TEST_F(FilePathTest, CreateDirectoriesOnADriveThatDoesNotExistFailsInsteadOfClimbingForever) {
  const DWORD drives = GetLogicalDrives();
  wchar_t letter = 0;
  for (wchar_t c = L'Y'; c >= L'D'; --c) {
    if ((drives & (1u << (c - L'A'))) == 0) {
      letter = c;
      break;
    }
  }
  ASSERT_NE(letter, 0) << "every drive letter is in use";
  FilePath path = PathOf(std::wstring(1, letter) + L":\\backup\\sub");
  EXPECT_LT(path.CreateDirectories(), 0);
  EXPECT_LT(path.LastResult(), 0);
}

TEST_F(FilePathTest, CreateParentDirectoriesLeavesThePathItself) {
  FilePath file = P(L"x\\y\\f.txt");
  EXPECT_EQ(file.CreateParentDirectories(), S_OK);
  EXPECT_TRUE(IsDirectory(At(L"x\\y")));
  EXPECT_FALSE(PathExists(At(L"x\\y\\f.txt")));
}

TEST_F(FilePathTest, CopyOntoAnExistingDirectoryLandsInsideUnderTheSourceName) {
  WriteFileBytes(At(L"src\\f.txt"), "new");
  CreateDirectoryW(At(L"dest").c_str(), nullptr);
  FilePath source = P(L"src\\f.txt");
  const FilePath destination = P(L"dest");
  EXPECT_EQ(source.CopyTo(destination, true), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"dest\\f.txt")), "new");
  EXPECT_EQ(ReadFileBytes(At(L"src\\f.txt")), "new");
  EXPECT_EQ(Text(destination.Path()), At(L"dest"));
}

TEST_F(FilePathTest, CopyFailsOntoAnExistingFileOnlyWhenAsked) {
  WriteFileBytes(At(L"f.txt"), "new");
  WriteFileBytes(At(L"g.txt"), "old");
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), true), kFileExists);
  EXPECT_EQ(source.LastResult(), kFileExists);
  EXPECT_EQ(ReadFileBytes(At(L"g.txt")), "old");
  EXPECT_EQ(source.CopyTo(P(L"g.txt"), false), S_OK);
  EXPECT_EQ(source.LastResult(), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"g.txt")), "new");
}

TEST_F(FilePathTest, CopyAndMoveCreateTheDestinationFolders) {
  WriteFileBytes(At(L"f.txt"), "f");
  WriteFileBytes(At(L"g.txt"), "g");
  FilePath copied = P(L"f.txt");
  FilePath moved = P(L"g.txt");
  EXPECT_EQ(copied.CopyTo(P(L"c\\d\\f.txt"), true), S_OK);
  EXPECT_EQ(moved.MoveTo(P(L"m\\n\\g.txt")), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"c\\d\\f.txt")), "f");
  EXPECT_EQ(ReadFileBytes(At(L"m\\n\\g.txt")), "g");
  EXPECT_FALSE(PathExists(At(L"g.txt")));
}

TEST_F(FilePathTest, MoveOntoAnExistingFileFailsAndMoveIntoADirectoryWorks) {
  WriteFileBytes(At(L"f.txt"), "new");
  WriteFileBytes(At(L"g.txt"), "old");
  CreateDirectoryW(At(L"dest").c_str(), nullptr);
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.MoveTo(P(L"g.txt")), kAlreadyExists);
  EXPECT_EQ(source.LastResult(), kAlreadyExists);
  EXPECT_EQ(ReadFileBytes(At(L"f.txt")), "new");
  EXPECT_EQ(ReadFileBytes(At(L"g.txt")), "old");
  EXPECT_EQ(source.MoveTo(P(L"dest")), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"dest\\f.txt")), "new");
  EXPECT_FALSE(PathExists(At(L"f.txt")));
}

TEST_F(FilePathTest, AMissingSourceFailsWithItsQueryErrorAndCreatesNothing) {
  FilePath missingFile = P(L"f.txt");
  EXPECT_EQ(missingFile.CopyTo(P(L"out\\f.txt"), false), kFileNotFound);
  EXPECT_EQ(missingFile.LastResult(), kFileNotFound);
  EXPECT_EQ(missingFile.MoveTo(P(L"out\\f.txt")), kFileNotFound);
  FilePath missingFolder = P(L"none\\f.txt");
  EXPECT_EQ(missingFolder.CopyTo(P(L"out\\f.txt"), true), kPathNotFound);
  EXPECT_EQ(missingFolder.MoveTo(P(L"out\\f.txt")), kPathNotFound);
  EXPECT_EQ(missingFolder.LastResult(), kPathNotFound);
  EXPECT_FALSE(PathExists(At(L"out")));
}

TEST_F(FilePathTest, ADestinationFolderThatCannotBeCreatedStopsTheCopy) {
  WriteFileBytes(At(L"f.txt"), "f");
  WriteFileBytes(At(L"blocker"), "b");
  FilePath source = P(L"f.txt");
  EXPECT_EQ(source.CopyTo(P(L"blocker\\sub\\f.txt"), false), kAlreadyExists);
  EXPECT_EQ(source.LastResult(), kAlreadyExists);
  EXPECT_EQ(source.MoveTo(P(L"blocker\\sub\\f.txt")), kAlreadyExists);
  EXPECT_EQ(ReadFileBytes(At(L"f.txt")), "f");
  EXPECT_EQ(ReadFileBytes(At(L"blocker")), "b");
}

TEST_F(FilePathTest, PrepareDestinationRecordsTheDestinationQueryInTheDestination) {
  WriteFileBytes(At(L"f.txt"), "f");
  FilePath source = P(L"f.txt");
  FilePath destination = P(L"out\\f.txt");
  EXPECT_EQ(source.PrepareDestination(destination), S_OK);
  EXPECT_EQ(destination.LastResult(), S_OK);
  EXPECT_TRUE(IsDirectory(At(L"out")));
  EXPECT_EQ(Text(destination.Path()), At(L"out\\f.txt"));

  FilePath folder = P(L"out");
  EXPECT_EQ(source.PrepareDestination(folder), S_OK);
  EXPECT_EQ(Text(folder.Path()), At(L"out\\f.txt"));
}

TEST_F(FilePathTest, AFileHeldOpenWithoutSharingGivesASharingViolation) {
  WriteFileBytes(At(L"held.txt"), "held");
  const ScopedFileHandle lock = Lock(L"held.txt");
  ASSERT_TRUE(lock.IsValid());
  FilePath held = P(L"held.txt");
  EXPECT_EQ(held.MoveTo(P(L"moved.txt")), kSharingViolation);
  EXPECT_EQ(held.LastResult(), kSharingViolation);
  EXPECT_EQ(held.CopyTo(P(L"copied.txt"), false), kSharingViolation);
  EXPECT_EQ(held.Delete(), kSharingViolation);
  EXPECT_EQ(held.LastResult(), kSharingViolation);
  EXPECT_FALSE(PathExists(At(L"moved.txt")));
  EXPECT_TRUE(PathExists(At(L"held.txt")));
}

TEST_F(FilePathTest, AReadOnlyFileCanBeMovedButNotDeleted) {
  WriteFileBytes(At(L"r.txt"), "r");
  ASSERT_TRUE(SetFileAttributesW(At(L"r.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FilePath file = P(L"r.txt");
  EXPECT_EQ(file.Delete(), kAccessDenied);
  EXPECT_EQ(file.MoveTo(P(L"s.txt")), S_OK);
  EXPECT_EQ(ReadFileBytes(At(L"s.txt")), "r");
}

TEST_F(FilePathTest, RemoveWithEmptyParentsStopsAtAFolderThatIsNotEmpty) {
  WriteFileBytes(At(L"R\\x\\y\\f.txt"), "f");
  WriteFileBytes(At(L"R\\x\\other.txt"), "o");
  FilePath file = P(L"R\\x\\y\\f.txt");
  EXPECT_EQ(file.RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_EQ(file.LastResult(), S_OK);
  EXPECT_FALSE(PathExists(At(L"R\\x\\y")));
  EXPECT_EQ(ReadFileBytes(At(L"R\\x\\other.txt")), "o");
}

TEST_F(FilePathTest, RemoveWithEmptyParentsNeverRemovesTheRoot) {
  WriteFileBytes(At(L"R\\x\\y\\f.txt"), "f");
  FilePath file = P(L"R\\x\\y\\f.txt");
  EXPECT_EQ(file.RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_FALSE(PathExists(At(L"R\\x")));
  EXPECT_TRUE(IsDirectory(At(L"R")));
}

TEST_F(FilePathTest, RemoveWithEmptyParentsOfAMissingFileStillRemovesEmptyFolders) {
  CreateDirectoryW(At(L"R").c_str(), nullptr);
  CreateDirectoryW(At(L"R\\x").c_str(), nullptr);
  FilePath file = P(L"R\\x\\f.txt");
  EXPECT_EQ(file.RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_FALSE(PathExists(At(L"R\\x")));
  EXPECT_TRUE(IsDirectory(At(L"R")));
}

TEST_F(FilePathTest, RemoveWithEmptyParentsUnderARootInOtherCaseDeletesOnlyThePath) {
  WriteFileBytes(At(L"R\\x\\f.txt"), "f");
  std::wstring upper = At(L"R");
  for (wchar_t& c : upper) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  ASSERT_NE(upper, At(L"R"));
  FilePath file = P(L"R\\x\\f.txt");
  EXPECT_EQ(file.RemoveWithEmptyParents(PathOf(upper)), S_OK);
  EXPECT_FALSE(PathExists(At(L"R\\x\\f.txt")));
  EXPECT_TRUE(IsDirectory(At(L"R\\x")));
}

TEST_F(FilePathTest, RemoveWithEmptyParentsOutsideTheRootReportsTheDeleteResult) {
  CreateDirectoryW(At(L"R").c_str(), nullptr);
  CreateDirectoryW(At(L"other").c_str(), nullptr);
  FilePath file = P(L"other\\f.txt");
  EXPECT_EQ(file.RemoveWithEmptyParents(P(L"R")), kFileNotFound);
  EXPECT_EQ(file.LastResult(), kFileNotFound);
  EXPECT_TRUE(IsDirectory(At(L"other")));
}

TEST_F(FilePathTest, RemoveWithEmptyParentsComparesCharactersNotComponents) {
  CreateDirectoryW(At(L"app").c_str(), nullptr);
  WriteFileBytes(At(L"application\\f"), "f");
  FilePath file = P(L"application\\f");
  EXPECT_EQ(file.RemoveWithEmptyParents(P(L"app")), S_OK);
  EXPECT_FALSE(PathExists(At(L"application")));
  EXPECT_TRUE(IsDirectory(At(L"app")));
  EXPECT_TRUE(IsDirectory(Dir()));
}

TEST_F(FilePathTest, RemoveWithEmptyParentsFailsOnlyOnAFileThatStays) {
  WriteFileBytes(At(L"R\\x\\held.txt"), "h");
  FilePath held = P(L"R\\x\\held.txt");
  {
    const ScopedFileHandle lock = Lock(L"R\\x\\held.txt");
    ASSERT_TRUE(lock.IsValid());
    EXPECT_EQ(held.RemoveWithEmptyParents(P(L"R")), kSharingViolation);
    EXPECT_EQ(held.LastResult(), kSharingViolation);
  }
  EXPECT_TRUE(PathExists(At(L"R\\x\\held.txt")));

  WriteFileBytes(At(L"R\\busy\\sub\\keep.txt"), "k");
  FilePath folder = P(L"R\\busy");
  EXPECT_EQ(folder.RemoveWithEmptyParents(P(L"R")), S_OK);
  EXPECT_TRUE(PathExists(At(L"R\\busy\\sub\\keep.txt")));
}

// A bare drive is its own parent and resolves to that drive's current directory, which
// for a drive other than the process's own comes from the "=X:" environment entry.
TEST_F(FilePathTest, RemoveWithEmptyParentsEndsAtABareDriveWhoseDirectoryHasGone) {
  const std::wstring drive = Dir().substr(0, 2);
  CurrentDirectoryRestorer restore;
  ASSERT_TRUE(SetCurrentDirectoryW(test::ProgramFolder().c_str()));
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  if (_wcsnicmp(current, drive.c_str(), 2) == 0) {
    GTEST_SKIP() << "the test programs live on the temporary folder's drive";
  }
  const ScopedVariable driveDirectory(L"=" + drive, At(L"cwd"));
  WriteFileBytes(At(L"cwd\\x\\f.txt"), "f");
  ASSERT_EQ(Text(PathOf(drive + L"x").FullPath()), At(L"cwd\\x"));

  FilePath file = PathOf(drive + L"x\\f.txt");
  EXPECT_EQ(file.RemoveWithEmptyParents(PathOf(Dir())), S_OK);
  EXPECT_FALSE(PathExists(At(L"cwd")));
  EXPECT_TRUE(IsDirectory(Dir()));
}

}  // namespace
}  // namespace quorvel
