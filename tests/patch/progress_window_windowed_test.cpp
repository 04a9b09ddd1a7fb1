// The progress window on a real display (scripts/test.sh runs these under Xvfb).
#include <string>

#include "foundation/scoped_handle.h"
#include "patch/patch_files.h"
#include "patch/progress_window.h"
#include "patch/run_driver.h"
#include "resources/resource.h"
#include "support/helper_process.h"
#include "support/test_support.h"
#include "support/waiting_process.h"

namespace quorvel {
namespace {

// Only a bound for a window that never comes, so a broken build fails instead of hanging.
constexpr DWORD kPatience = 30000;

class ProgressWindowOnDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_SKIP_WITHOUT_DISPLAY();
    testing::internal::CaptureStdout();
  }
  // What the window's thread printed, and whether it ended with code.
  void ExpectPrintedAndEnded(const ScopedHandle& thread, DWORD code) {
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("received a message\nWM_INITDIALOG\n"), std::string::npos) << printed;
    EXPECT_TRUE(test::EndsWith(printed, "result: 0\n")) << printed;
    ASSERT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_OBJECT_0);
    DWORD exitCode = ~0u;
    GetExitCodeThread(thread.Get(), &exitCode);
    EXPECT_EQ(exitCode, code);
  }
};

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

TEST_F(ProgressWindowOnDisplayTest, SetTextReachesTheOpenDialogWhichClosesWithTheWindow) {
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
    EXPECT_TRUE(test::Eventually([&] { return ControlText(dialog) == L"Almost done"; }));
    EXPECT_TRUE(window.IsRunning()) << "the dialog stays up until the window goes";
  }
  EXPECT_FALSE(IsWindow(dialog));
  ExpectPrintedAndEnded(thread, 0);
}

// What the run's pause between two patch attempts saw of the progress window; the pause then
// lets go of the file that made the first attempt fail.
HWND g_dialogDuringPatch = nullptr;
std::wstring g_textDuringPatch;
test::FileLock* g_lock = nullptr;

void LookAtTheWindowThenRetry(DWORD /*milliseconds*/) {
  test::Eventually([] {
    g_dialogDuringPatch = FindWindowW(nullptr, L"Quorvel");
    return g_dialogDuringPatch != nullptr && IsWindowVisible(g_dialogDuringPatch);
  });
  g_textDuringPatch = ControlText(g_dialogDuringPatch);
  g_lock->Release();
}

TEST_F(ProgressWindowOnDisplayTest,
       AWholeRunShowsTheWindowWhilePatchingAndClosesItBeforeReturning) {
  test::ScopedTempDir dir;
  test::LogCapture log;
  test::WriteFileBytes(dir / L"Game\\a.txt", "old");
  test::WriteFileBytes(dir / L"Patch\\a.txt", "new");
  CreateDirectoryW((dir / L"Backup").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW((test::ProgramFolder() + L"\\sample_launcher.exe").c_str(),
                        (dir / L"Game\\DastryLauncher.exe").c_str(), TRUE));
  test::NamedEvent launcherStarted(L"launcher_started");
  _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + launcherStarted.Name()).c_str());
  test::WaitingProcess launcher;
  ASSERT_TRUE(launcher.Finish());
  // The first attempt fails on the held file, so the run pauses while its window is up.
  test::FileLock lock(dir / L"Game\\a.txt");
  ASSERT_TRUE(lock.Held());
  g_lock = &lock;
  const RetryPause previousPause = SetRetryPause(&LookAtTheWindowThenRetry);

  const std::wstring commandLine =
      L"-text \"Updating game files\" " + std::to_wstring(launcher.Id()) + L" \"" +
      (dir / L"Patch") + L"\" \"" + (dir / L"Game") + L"\" \"" + (dir / L"Backup") +
      L"\" 1 a.txt \"" + (dir / L"Game\\DastryLauncher.exe") + L"\" -restart";
  const int result = RunPatch(commandLine.c_str());
  const bool dialogGone = g_dialogDuringPatch != nullptr && !IsWindow(g_dialogDuringPatch);

  SetRetryPause(previousPause);
  launcherStarted.WaitFor(kPatience);
  _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
  _wputenv(L"QUORVEL_RESULT=");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 1) << log.Text();
  ASSERT_NE(g_dialogDuringPatch, nullptr) << "no progress window while the patch ran";
  EXPECT_EQ(test::Utf8(g_textDuringPatch), "Updating game files");
  EXPECT_TRUE(dialogGone) << "the window outlived the run";
  EXPECT_EQ(test::ReadFileBytes(dir / L"Game\\a.txt"), "new");
}

// Stands in for the owner's thread while a stop is pending: if the thread does not end, the
// test closes the dialog itself so that it fails instead of hanging.
DWORD WINAPI WaitForWindow(void* window) {
  return static_cast<ProgressWindowThread*>(window)->Wait() ? 1 : 0;
}

TEST_F(ProgressWindowOnDisplayTest, AStopBeforeTheDialogOpenedStillEndsTheThread) {
  ProgressWindowThread window(L"Updating game files");
  const ScopedHandle thread = DuplicateThreadHandle(window.Handle());
  // Held still before its dialog is initialised, the thread cannot see the stop come in.
  ASSERT_NE(SuspendThread(window.Handle()), static_cast<DWORD>(-1));
  const bool openedBeforeStop = window.GetWindow() != nullptr;
  window.SetStop(true);
  ResumeThread(window.Handle());

  ScopedHandle waiter(CreateThread(nullptr, 0, &WaitForWindow, &window, 0, nullptr));
  const bool ended = WaitForSingleObject(waiter.Get(), kPatience) == WAIT_OBJECT_0;
  if (!ended) {
    test::Eventually([&] { return window.GetWindow() != nullptr; });
    PostMessageW(window.GetWindow(), WM_CLOSE, 0, 0);
    WaitForSingleObject(waiter.Get(), INFINITE);
  }
  EXPECT_FALSE(openedBeforeStop) << "the stop came after the dialog had opened";
  EXPECT_TRUE(ended) << "the window's thread did not end after the stop";
  ExpectPrintedAndEnded(thread, 0);
}

}  // namespace
}  // namespace quorvel
