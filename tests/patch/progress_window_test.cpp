// The progress window where no display is available: the dialog cannot open, and neither the
// window's thread nor its owner may be held up by that.
#include "patch/progress_window.h"

#include <regex>
#include <string>

#include "foundation/scoped_handle.h"
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

ScopedHandle DuplicateThreadHandle(HANDLE thread) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  return ScopedHandle(copy);
}

TEST(ProgressWindowTest, TheLibraryCarriesTheProgressDialog) {
  const std::wstring library = test::ProgramFolder() + L"\\Quorvel.dll";
  HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDD_PROGRESS), MAKEINTRESOURCEW(5)), nullptr)
      << "dialog template " << IDD_PROGRESS;
  FreeLibrary(module);
}

TEST_F(ProgressWindowWithoutDisplayTest, ADialogThatCannotOpenEndsTheThreadWithMinusOne) {
  ScopedHandle thread;
  testing::internal::CaptureStdout();
  {
    ProgressWindowThread window(L"Updating game files");
    ASSERT_TRUE(window.HasStarted());
    thread = DuplicateThreadHandle(window.Handle());
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  DWORD code = 0;
  ASSERT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_OBJECT_0);
  GetExitCodeThread(thread.Get(), &code);
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_TRUE(std::regex_match(printed, std::regex("error: 0x8007[0-9a-f]{4}\nresult: -1\n")))
      << printed;
}

TEST_F(ProgressWindowWithoutDisplayTest, TextSetBeforeTheDialogOpensIsKeptAndNothingIsPostedHere) {
  ProgressWindowThread window(L"Updating game files");
  window.Wait();
  EXPECT_FALSE(window.SetText(L"Almost done"));
  EXPECT_STREQ(window.GetText().Chars(), L"Almost done");
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_REMOVE))
      << "a message without a window lands in the caller's own queue";
}

}  // namespace
}  // namespace quorvel
