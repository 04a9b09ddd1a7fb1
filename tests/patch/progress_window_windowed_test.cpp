// The progress window on a real display (scripts/test.sh runs these under Xvfb).
#include <string>

#include "foundation/scoped_handle.h"
#include "patch/progress_window.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(ProgressWindowOnDisplayTest, TheDialogShowsTheTextAndClosesWithTheWindowEvenWhenStoppedEarly) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  testing::internal::CaptureStdout();
  HWND dialog = nullptr;
  {
    ProgressWindowThread window(L"Updating game files");
    ASSERT_TRUE(test::Eventually(
        [&] { return (dialog = window.GetWindow()) != nullptr && IsWindowVisible(dialog); }));
    EXPECT_TRUE(window.SetText(L"Almost done"));
    EXPECT_TRUE(test::Eventually([&] {
      wchar_t text[64] = {};
      GetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, text, 64);
      return std::wstring(text) == L"Almost done";
    }));
  }
  EXPECT_FALSE(IsWindow(dialog));
  // Held before its dialog is initialised, the thread cannot see the stop come in: the dialog
  // must look for it when it opens.
  ProgressWindowThread window(L"Updating game files");
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), window.Handle(), GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  const ScopedHandle thread(copy);
  ASSERT_NE(SuspendThread(window.Handle()), static_cast<DWORD>(-1));
  EXPECT_EQ(window.GetWindow(), nullptr) << "the stop came after the dialog had opened";
  window.SetStop(true);
  ResumeThread(window.Handle());
  const bool ended = WaitForSingleObject(thread.Get(), 30000) == WAIT_OBJECT_0;
  if (!ended) {  // closed here, so that the test fails instead of hanging
    PostMessageW(window.GetWindow(), WM_CLOSE, 0, 0);
  }
  EXPECT_TRUE(ended) << "the window's thread did not end after the stop";
  DWORD code = ~0u;
  GetExitCodeThread(thread.Get(), &code);
  EXPECT_EQ(code, 0u);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(test::Count(printed, "WM_INITDIALOG\n"), 2u) << printed;
  EXPECT_TRUE(test::Has(printed, "WM_USER\n") && test::EndsWith(printed, "result: 0\n")) << printed;
}

}  // namespace
}  // namespace quorvel
