// The progress window on a real display (scripts/test.sh runs these under Xvfb).
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <functional>

#include "foundation/scoped_handle.h"
#include "patch/window/progress_window.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

std::wstring ItemText(HWND dialog, int item) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, item, text, 512);
  return text;
}

// The status line with the bar's position and range in front, as "[position/range] text".
std::wstring StatusShown(HWND dialog) {
  const LRESULT position = SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0);
  const LRESULT range = SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0);
  return L"[" + std::to_wstring(position) + L"/" + std::to_wstring(range) + L"] " +
         ItemText(dialog, IDC_PROGRESS_STATUS);
}

TEST(ProgressWindowOnDisplayTest, EachEventShowsItsStatusBelowTheTextAndTheWindowClosesEvenEarly) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  testing::internal::CaptureStdout();
  HWND dialog = nullptr;
  {
    ProgressWindowThread window(L"Updating game files");
    RunProgress& run = window;
    ASSERT_TRUE(Eventually(
        [&] { return (dialog = window.GetWindow()) != nullptr && IsWindowVisible(dialog); }));
    const std::wstring name = L"bin\\client.dll";
    const std::wstring retry = L"[11/898] Could not replace \"bin\\client.dll\": ";
    const struct {
      std::function<void()> event;
      std::wstring shown;
    } cases[] = {
        {[&] { run.WaitingForLauncher(); }, L"[0/1] Waiting for the launcher to close"},
        {[&] { run.WaitingForOtherRun(); },
         L"[0/1] Waiting for another update of this game to finish"},
        {[&] { run.Restoring(); }, L"[0/1] Restoring the game files after an interrupted update"},
        {[&] { run.Applying(11, 887, name.c_str()); },
         L"[12/898] Updating file 12 of 898: \"bin\\client.dll\""},
        {[&] { run.WaitingToRetry(name.c_str(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), 2, 5); },
         retry + SystemReason(ERROR_ACCESS_DENIED) + L" Trying again: attempt 2 of 5."},
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
      EXPECT_TRUE(Eventually([&] { return StatusShown(dialog) == c.shown; }))
          << Utf8(StatusShown(dialog)) << "\nexpected " << Utf8(c.shown);
      EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_TEXT), L"Updating game files");
    }
    EXPECT_TRUE(window.SetText(L"Almost done"));
    EXPECT_TRUE(Eventually([&] { return ItemText(dialog, IDC_PROGRESS_TEXT) == L"Almost done"; }));
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
  EXPECT_EQ(Count(printed, "WM_INITDIALOG\n"), 2u) << printed;
  EXPECT_TRUE(Has(printed, "WM_USER\n") && EndsWith(printed, "result: 0\n")) << printed;
}

}  // namespace
}  // namespace quorvel::test
