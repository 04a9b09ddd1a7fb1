// The progress window on a real display (scripts/test.sh runs these under Xvfb).
#include <windows.h>

#include <commctrl.h>

#include <functional>
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

// The status line with the bar's position and range in front, as "[position/range] text".
std::wstring StatusShown(HWND dialog) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, IDC_PROGRESS_STATUS, text, 512);
  const LRESULT position = SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0);
  const LRESULT range = SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0);
  return L"[" + std::to_wstring(position) + L"/" + std::to_wstring(range) + L"] " + text;
}

std::wstring Reason(DWORD code) {
  std::wstring text = test::SystemMessage(code);
  return text.erase(text.find_last_not_of(L"\r\n ") + 1);
}

TEST_F(ProgressWindowOnDisplayTest, EachEventOfARunShowsItsStatusAndBarBelowTheUnchangedText) {
  ProgressWindowThread window(L"Updating game files");
  RunProgress& run = window;
  HWND dialog = nullptr;
  ASSERT_TRUE(test::Eventually([&] { return (dialog = window.GetWindow()) != nullptr; }));
  const std::wstring name = L"bin\\client.dll";
  const std::wstring retry = L"[11/898] Could not replace \"bin\\client.dll\": ";
  const struct {
    std::function<void()> event;
    std::wstring shown;
  } cases[] = {
      {[&] { run.WaitingForLauncher(); }, L"[0/1] Waiting for the launcher to close"},
      {[&] { run.Restoring(); }, L"[0/1] Restoring the game files after an interrupted update"},
      {[&] { run.Applying(11, 887, name.c_str()); },
       L"[12/898] Updating file 12 of 898: \"bin\\client.dll\""},
      {[&] { run.WaitingToRetry(name.c_str(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), 2, 5); },
       retry + Reason(ERROR_ACCESS_DENIED) + L" Trying again: attempt 2 of 5."},
      {[&] { run.WaitingToRetry(name.c_str(), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), 3, 5); },
       retry + Reason(ERROR_SHARING_VIOLATION) +
           L" Another program is using the file; closing that program lets the update go on."
           L" Trying again: attempt 3 of 5."},
      {[&] { run.WaitingToRetry(name.c_str(), E_FAIL, 4, 5); },
       retry + L"error 0x80004005. Trying again: attempt 4 of 5."},
      // Putting back the first and the last of the 11 files applied: the bar counts down.
      {[&] { run.Reverting(1, 11, L"a.txt"); },
       L"[10/898] Putting back the previous files: \"a.txt\""},
      {[&] { run.Reverting(11, 11, L"k.txt"); },
       L"[0/898] Putting back the previous files: \"k.txt\""},
  };
  for (const auto& c : cases) {
    c.event();
    EXPECT_TRUE(test::Eventually([&] { return StatusShown(dialog) == c.shown; }, kPatience))
        << test::Utf8(StatusShown(dialog)) << "\nexpected " << test::Utf8(c.shown);
    EXPECT_EQ(ControlText(dialog), L"Updating game files");
  }
  window.SetStop(true);
  window.Wait();
  testing::internal::GetCapturedStdout();
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
