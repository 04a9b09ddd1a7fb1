// The progress window where no display is available: the dialog cannot open, and neither the
// window's thread nor its owner may be held up by that.
#include "patch/progress_window.h"

#include <regex>
#include <string>

#include "resources/resource.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// Cases that rely on the dialog failing to open.
class ProgressWindowWithoutDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0) {
      GTEST_SKIP() << "a display is available";
    }
  }
};

TEST(ProgressWindowTest, TheLibraryCarriesTheProgressDialog) {
  const std::wstring library = test::ProgramFolder() + L"\\Quorvel.dll";
  HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDD_PROGRESS), MAKEINTRESOURCEW(5)), nullptr)
      << "dialog template " << IDD_PROGRESS;
  FreeLibrary(module);
}

TEST_F(ProgressWindowWithoutDisplayTest, ADialogThatCannotOpenEndsTheThreadAndKeepsTheText) {
  testing::internal::CaptureStdout();
  ProgressWindowThread window(L"Updating game files");
  ASSERT_TRUE(window.HasStarted());
  ASSERT_TRUE(window.Wait());
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
