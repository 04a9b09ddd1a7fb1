#include "foundation/run_log.h"

#include "foundation/win32_result.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(RunLogTest, WritesAppendWholeLinesWithCrLfAndAnUnendedWriteJoinsTheNext) {
  test::LogCapture log;
  RunLog::Write("");
  RunLog::Write("Could not open, error: %d ", 87);
  RunLog::Write("%ls\n", L"next message");
  // A wide argument outside the ANSI code page reaches the file whole.
  RunLog::Write("File: \"%ls\" (%d)\n", L"C:\\Games\\\x4E2D\\client.dll", 7);
  EXPECT_EQ(log.Text(),
            "Could not open, error: 87 next message\r\n"
            "File: \"C:\\Games\\\xE4\xB8\xAD\\client.dll\" (7)\r\n");
}

TEST(RunLogTest, NothingIsWrittenWithoutAPathOrIntoAMissingFolder) {
  test::ScopedTempDir dir;
  const std::wstring previous = RunLog::Path().Chars();
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(dir.Path().c_str());
  for (const std::wstring& path : {std::wstring(), dir / L"missing\\Quorvel.log"}) {
    RunLog::SetPath(L"%ls", path.c_str());
    RunLog::Write("lost\n");
  }
  RunLog::SetPath(L"%ls", previous.c_str());
  SetCurrentDirectoryW(current);
  EXPECT_TRUE(RemoveDirectoryW(dir.Path().c_str())) << "only an empty folder can be removed";
}

TEST(Win32ResultTest, CodesMapToTheWin32FacilityAndAFailureWithoutCodeNeverReadsAsSuccess) {
  EXPECT_EQ(FailureResult(ERROR_ALREADY_EXISTS), static_cast<HRESULT>(0x800700B7));
  EXPECT_EQ(FailureResult(0x80004005u), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(FailureResult(ERROR_SUCCESS), E_FAIL);
  EXPECT_EQ(FailureResult(ERROR_SUCCESS, E_ACCESSDENIED), E_ACCESSDENIED);
}

}  // namespace
}  // namespace quorvel
