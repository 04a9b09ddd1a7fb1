#include "foundation/run_log.h"

#include "support/test_support.h"

namespace quorvel {
namespace {

using test::LogCapture;

TEST(RunLogTest, WritesAppendWithCrLfAndAnUnendedWriteJoinsTheNext) {
  LogCapture log;
  RunLog::Write("Could not open, error: %d ", 87);
  RunLog::Write("%ls\n", L"next message");
  RunLog::Write("second line\n");
  EXPECT_EQ(log.Text(), "Could not open, error: 87 next message\r\nsecond line\r\n");
}

TEST(RunLogTest, AWideArgumentOutsideTheAnsiCodePageReachesTheFileWhole) {
  LogCapture log;
  RunLog::Write("File: \"%ls\" (%d)\n", L"C:\\Games\\\x4E2D\\client.dll", 7);
  RunLog::Write("after\n");
  EXPECT_EQ(log.Text(), "File: \"C:\\Games\\\xE4\xB8\xAD\\client.dll\" (7)\r\nafter\r\n");
}

TEST(RunLogTest, AnExistingLogIsAppendedToNotTruncated) {
  LogCapture log;
  test::WriteFileBytes(log.FilePath(), "earlier run\r\n");
  RunLog::Write("this run\n");
  EXPECT_EQ(log.Text(), "earlier run\r\nthis run\r\n");
}

TEST(RunLogTest, NothingIsWrittenBeforeAPathIsSet) {
  test::ScopedTempDir dir;
  const std::wstring previous = RunLog::Path().Chars();
  RunLog::SetPath(L"");
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(dir.Path().c_str());
  RunLog::Write("lost\n");
  SetCurrentDirectoryW(current);
  RunLog::SetPath(L"%ls", previous.c_str());
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir / L"*").c_str(), &data);
  int entries = 0;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      ++entries;
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  EXPECT_EQ(entries, 2) << "only . and .. expected";
}

TEST(RunLogTest, AMissingFolderLosesOnlyThatText) {
  test::ScopedTempDir dir;
  const std::wstring previous = RunLog::Path().Chars();
  RunLog::SetPath(L"%ls\\missing\\Quorvel.log", dir.Path().c_str());
  RunLog::Write("cannot be written\n");
  RunLog::SetPath(L"%ls", previous.c_str());
  EXPECT_FALSE(test::PathExists(dir / L"missing"));
}

}  // namespace
}  // namespace quorvel
