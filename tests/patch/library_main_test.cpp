#include "patch/library_main.h"

#include <shlobj.h>

#include <regex>

#include "foundation/run_log.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::LogCapture;

TEST(LibraryMainTest, ThreadAndDetachReasonsDoNothingAndAnUnknownReasonIsRefused) {
  LogCapture log;
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_TRUE(OnDllMain(nullptr, reason, nullptr)) << reason;
  }
  EXPECT_EQ(RunLog::Path().Chars(), log.FilePath());
  EXPECT_FALSE(OnDllMain(nullptr, 7, nullptr));
  EXPECT_EQ(log.Text(), "DllMain() returning false\r\n");
}

TEST(LibraryMainTest, ProcessAttachLogsToBrinmoorUnderLocalAppData) {
  wchar_t folder[MAX_PATH + 1] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE));
  const std::wstring logFolder = std::wstring(folder) + L"\\Brinmoor";
  const std::wstring logFile = logFolder + L"\\Quorvel.log";
  CreateDirectoryW(logFolder.c_str(), nullptr);
  const size_t before = test::ReadFileBytes(logFile).size();
  const std::wstring previous = RunLog::Path().Chars();

  EXPECT_TRUE(OnDllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  const std::wstring path = RunLog::Path().Chars();
  RunLog::SetPath(L"%ls", previous.c_str());

  EXPECT_EQ(test::Utf8(path), test::Utf8(logFile));
  const std::string written = test::ReadFileBytes(logFile).substr(before);
  EXPECT_TRUE(
      std::regex_match(written, std::regex("\r\n\r\n======= Starting Quorvel \\d\\d/\\d\\d/\\d\\d "
                                           "\\d\\d:\\d\\d:\\d\\d ============\r\n")))
      << written;
}

}  // namespace
}  // namespace quorvel
