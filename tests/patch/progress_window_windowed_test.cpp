// The progress window on a real display (scripts/test.sh runs these under Xvfb).
#include <string>

#include "foundation/scoped_handle.h"
#include "patch/progress_window.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

ScopedHandle DuplicateThreadHandle(HANDLE thread) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  return ScopedHandle(copy);
}

// What the window's thread printed, and how it ended.
void ExpectClosedByTheOwner(const ScopedHandle& thread) {
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(test::Has(printed, "WM_INITDIALOG\n")) << printed;
  EXPECT_TRUE(test::Has(printed, "WM_CLOSE\n") && test::EndsWith(printed, "result: 0\n"))
      << printed;
  DWORD code = ~0u;
  GetExitCodeThread(thread.Get(), &code);
  EXPECT_EQ(code, 0u);
}

TEST(ProgressWindowOnDisplayTest, SetTextReachesTheOpenDialogWhichClosesWithTheWindow) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  testing::internal::CaptureStdout();
  HWND dialog = nullptr;
  ScopedHandle thread;
  {
    ProgressWindowThread window(L"Updating game files");
    thread = DuplicateThreadHandle(window.Handle());
    ASSERT_TRUE(test::Eventually([&] {
      dialog = window.GetWindow();
      return dialog != nullptr && IsWindowVisible(dialog);
    }));
    EXPECT_EQ(GetWindowThreadProcessId(dialog, nullptr), window.ThreadId());
    EXPECT_TRUE(window.SetText(L"Almost done"));
    EXPECT_TRUE(test::Eventually([&] {
      wchar_t text[64] = {};
      GetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, text, 64);
      return std::wstring(text) == L"Almost done";
    }));
    EXPECT_TRUE(window.IsRunning()) << "the dialog stays up until the window goes";
  }
  EXPECT_FALSE(IsWindow(dialog));
  ExpectClosedByTheOwner(thread);
}

TEST(ProgressWindowOnDisplayTest, AStopBeforeTheDialogOpenedStillEndsTheThread) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  testing::internal::CaptureStdout();
  ProgressWindowThread window(L"Updating game files");
  const ScopedHandle thread = DuplicateThreadHandle(window.Handle());
  // Held before its dialog is initialised, the thread cannot see the stop come in.
  ASSERT_NE(SuspendThread(window.Handle()), static_cast<DWORD>(-1));
  const bool openedBeforeStop = window.GetWindow() != nullptr;
  window.SetStop(true);
  ResumeThread(window.Handle());
  const bool ended = WaitForSingleObject(thread.Get(), 30000) == WAIT_OBJECT_0;
  if (!ended) {  // close it here, so that the test fails instead of hanging
    PostMessageW(window.GetWindow(), WM_CLOSE, 0, 0);
  }
  EXPECT_FALSE(openedBeforeStop) << "the stop came after the dialog had opened";
  EXPECT_TRUE(ended) << "the window's thread did not end after the stop";
  ExpectClosedByTheOwner(thread);
}

}  // namespace
}  // namespace quorvel
