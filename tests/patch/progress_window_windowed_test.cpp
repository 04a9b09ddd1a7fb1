// The progress window on a real display (scripts/test.sh runs these under Xvfb).
#include <string>

#include "foundation/scoped_handle.h"
#include "patch/patch_run.h"
#include "patch/progress_window.h"
#include "patch/run_steps.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

constexpr DWORD kNoSuchProcess = 0x7FFFFFF0;
// Only a bound for a window that never comes, so a broken build fails instead of hanging.
constexpr ULONGLONG kPatience = 30000;

class ProgressWindowOnDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
      GTEST_SKIP() << "no display";
    }
  }
};

// Polls until condition holds or the bound has passed; returns whether it held.
template <typename Condition>
bool Eventually(Condition condition) {
  const ULONGLONG deadline = GetTickCount64() + kPatience;
  while (!condition()) {
    if (GetTickCount64() > deadline) {
      return false;
    }
    Sleep(5);
  }
  return true;
}

std::wstring ControlText(HWND dialog) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, text, 256);
  return text;
}

ScopedHandle DuplicateThreadHandle(HANDLE thread) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  return ScopedHandle(copy);
}

TEST_F(ProgressWindowOnDisplayTest, ShowsTheDisplayTextWhileTheRunGoesOnAndIsGoneAfterIt) {
  test::LogCapture log;
  HWND dialog = nullptr;
  ScopedHandle thread;
  testing::internal::CaptureStdout();
  {
    PatchRun run;
    run.parentPid = kNoSuchProcess;
    run.displayText = L"Updating game files";
    ASSERT_EQ(WaitForParentProcess(run), S_OK);
    ASSERT_NE(run.progressWindow, nullptr);
    ProgressWindowThread& window = *run.progressWindow;
    thread = DuplicateThreadHandle(window.Handle());

    ASSERT_TRUE(Eventually([&] {
      dialog = window.GetWindow();
      return dialog != nullptr && IsWindowVisible(dialog);
    }));
    EXPECT_EQ(FindWindowW(nullptr, L"Quorvel"), dialog);
    EXPECT_EQ(GetWindowThreadProcessId(dialog, nullptr), window.ThreadId());
    EXPECT_EQ(test::Utf8(ControlText(dialog)), "Updating game files");

    EXPECT_TRUE(window.SetText(L"Almost done"));
    EXPECT_TRUE(Eventually([&] { return ControlText(dialog) == L"Almost done"; }));
    EXPECT_TRUE(window.IsRunning()) << "the dialog stays up until the run ends";
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(IsWindow(dialog));
  ASSERT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_OBJECT_0);
  DWORD code = ~0u;
  GetExitCodeThread(thread.Get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(printed.find("received a message\nWM_INITDIALOG\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("received a message\nWM_USER\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("received a message\nWM_CLOSE\n"), std::string::npos) << printed;
  EXPECT_EQ(printed.substr(printed.size() - 10), "result: 0\n") << printed;
}

// Stands in for the owner's thread while a stop is pending: if the thread does not end, the
// test closes the dialog itself so that it fails instead of hanging.
DWORD WINAPI WaitForWindow(void* window) {
  return static_cast<ProgressWindowThread*>(window)->Wait() ? 1 : 0;
}

TEST_F(ProgressWindowOnDisplayTest, AStopBeforeTheDialogOpenedStillEndsTheThread) {
  testing::internal::CaptureStdout();
  ProgressWindowThread window(L"Updating game files");
  // Held still before its dialog is initialised, the thread cannot see the stop come in.
  ASSERT_NE(SuspendThread(window.Handle()), static_cast<DWORD>(-1));
  const bool openedBeforeStop = window.GetWindow() != nullptr;
  window.SetStop(true);
  ResumeThread(window.Handle());

  ScopedHandle waiter(CreateThread(nullptr, 0, &WaitForWindow, &window, 0, nullptr));
  const bool ended =
      WaitForSingleObject(waiter.Get(), static_cast<DWORD>(kPatience)) == WAIT_OBJECT_0;
  if (!ended) {
    Eventually([&] { return window.GetWindow() != nullptr; });
    PostMessageW(window.GetWindow(), WM_CLOSE, 0, 0);
    WaitForSingleObject(waiter.Get(), INFINITE);
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(openedBeforeStop) << "the stop came after the dialog had opened";
  EXPECT_TRUE(ended) << "the window's thread did not end after the stop";
  EXPECT_NE(printed.find("WM_INITDIALOG\n"), std::string::npos) << printed;
  EXPECT_EQ(printed.substr(printed.size() - 10), "result: 0\n") << printed;
}

}  // namespace
}  // namespace quorvel
