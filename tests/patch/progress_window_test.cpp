// The progress window where no display is available: the dialog cannot open, and neither the
// window's thread nor its owner may be held up by that.
#include "patch/progress_window.h"

#include <regex>
#include <string>

#include "resources/resource.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(ProgressWindowTest, ADialogThatCannotOpenEndsTheThreadAndKeepsTheText) {
  HMODULE library = LoadLibraryExW((test::ProgramFolder() + L"\\Quorvel.dll").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_NE(FindResourceW(library, MAKEINTRESOURCEW(IDD_PROGRESS), MAKEINTRESOURCEW(5)), nullptr)
      << "the library carries the dialog";
  FreeLibrary(library);
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0) {
    GTEST_SKIP() << "a display is available";
  }
  testing::internal::CaptureStdout();
  ProgressWindowThread window(L"Updating game files");
  ASSERT_TRUE(window.HasStarted() && window.Wait());
  const std::string printed = testing::internal::GetCapturedStdout();
  DWORD code = 0;
  GetExitCodeThread(window.Handle(), &code);
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_TRUE(std::regex_match(printed, std::regex("error: 0x8007[0-9a-f]{4}\nresult: -1\n")))
      << printed;
  // Text set with no dialog open is kept, and no message lands in the caller's own queue.
  EXPECT_FALSE(window.SetText(L"Almost done"));
  EXPECT_STREQ(window.GetText().Chars(), L"Almost done");
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_REMOVE));
}

}  // namespace
}  // namespace quorvel
