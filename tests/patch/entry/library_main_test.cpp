#include "patch/entry/library_main.h"

#include "foundation/run_log.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

TEST(LibraryMainTest, ProcessAttachStartsTheLogUnderLocalAppDataAndOtherReasonsDoNothing) {
  UserRunLog userLog;
  const std::wstring previous = RunLog::Path().Chars();
  EXPECT_TRUE(OnDllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  const std::string path = Utf8(RunLog::Path().Chars());
  RunLog::SetPath(L"%ls", previous.c_str());
  EXPECT_TRUE(EndsWith(path, "\\AppData\\Local\\Brinmoor\\Quorvel.log")) << path;
  EXPECT_EQ(userLog.Added(), "\r\n\r\n======= Starting Quorvel <stamp> ============\r\n");
  LogCapture log;
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_TRUE(OnDllMain(nullptr, reason, nullptr)) << reason;
  }
  EXPECT_FALSE(OnDllMain(nullptr, 7, nullptr));
  EXPECT_EQ(log.Text(), "DllMain() returning false\r\n");
}

}  // namespace
}  // namespace quorvel::test
