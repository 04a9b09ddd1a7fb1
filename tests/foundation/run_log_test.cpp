#include "foundation/run_log.h"

#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(RunLogTest, WritesAppendWholeLinesWithCrLfAndAnUnendedWriteJoinsTheNext) {
  test::LogCapture log;
  test::WriteFileBytes(log.FilePath(), "earlier run\r\n");
  RunLog::Write("Could not open, error: %d ", 87);
  RunLog::Write("%ls\n", L"next message");
  // A wide argument outside the ANSI code page reaches the file whole.
  RunLog::Write("File: \"%ls\" (%d)\n", L"C:\\Games\\\x4E2D\\client.dll", 7);
  EXPECT_EQ(log.Text(),
            "earlier run\r\nCould not open, error: 87 next message\r\n"
            "File: \"C:\\Games\\\xE4\xB8\xAD\\client.dll\" (7)\r\n");
}

// Writes one line with the log pointed at path and the current folder at folder.
void WriteWithPath(const std::wstring& path, const std::wstring& folder) {
  const std::wstring previous = RunLog::Path().Chars();
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(folder.c_str());
  RunLog::SetPath(L"%ls", path.c_str());
  RunLog::Write("lost\n");
  RunLog::SetPath(L"%ls", previous.c_str());
  SetCurrentDirectoryW(current);
}

TEST(RunLogTest, NothingIsWrittenWithoutAPathOrIntoAMissingFolder) {
  test::ScopedTempDir dir;
  WriteWithPath(L"", dir.Path());
  WriteWithPath(dir / L"missing\\Quorvel.log", dir.Path());
  // Only an empty folder can be removed.
  EXPECT_TRUE(RemoveDirectoryW(dir.Path().c_str()));
}

}  // namespace
}  // namespace quorvel
