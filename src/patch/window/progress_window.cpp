#include "patch/window/progress_window.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/library_module.h"
#include "foundation/system_library.h"
#include "foundation/win32_result.h"
#include "resources/resource.h"

namespace quorvel {
namespace {

// The progress window whose dialog is open.
std::atomic<ProgressWindowThread*> g_openProgressWindow{nullptr};

// The dialog's own messages start at WM_APP: WM_USER + n are the dialog manager's DM_ messages
// (WM_USER itself is DM_GETDEFID). The first tells the dialog that a new text is waiting, the
// second that a new status is.
constexpr UINT kTextWaiting = WM_APP;
constexpr UINT kStatusWaiting = WM_APP + 1;

// The window's thread reports to standard output. The text is formatted first so that its
// meaning does not depend on which printf the runtime headers select.
void Print(const char* format, ...) QUORVEL_PRINTF_FORMAT(1, 2);
void Print(const char* format, ...) {
  SharedString text;
  va_list args;
  va_start(args, format);
  FormatV(text, format, args);
  va_end(args);
  std::fputs(text.Chars(), stdout);
  std::fflush(stdout);
}

// The bar is a common control, whose class must be registered before a dialog can hold one.
// comctl32 is not one of the DLLs Windows maps from its own list, so it is loaded from the
// system folder by name (by the owner, see controls_).
void RegisterBarClass(const SystemLibrary& controls) {
  decltype(&InitCommonControlsEx) initialize = nullptr;
  if (!controls.IsLoaded()) {
    const DWORD error = controls.LoadError();
    QUORVEL_WRITE_FAILURE(Print, QUORVEL_FAILURE_TAIL_COLONS, FailureResult(error), error,
                          SystemErrorText(error), "could not load comctl32.dll");
    return;
  }
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_PROGRESS_CLASS};
  if (!controls.Bind("InitCommonControlsEx", initialize) || !initialize(&classes)) {
    Print("could not register the progress bar's class\n");
  }
}

void ShowStatus(HWND dialog, const ProgressStatus& status) {
  SetDlgItemTextW(dialog, IDC_PROGRESS_STATUS, status.text.Chars());
  const HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
  // A range of 0 to 0 is not a range: an empty bar is 0 of 1.
  const size_t range = status.range == 0 ? 1 : status.range;
  SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(status.position), 0);
}

}  // namespace

ProgressWindowThread::ProgressWindowThread(const SharedWString& text, const PlayerTexts& texts)
    : WorkerThread(kProgressWindowStackSize),
      text_(text),
      texts_(texts),
      caption_(texts.Compose(PlayerText::kCaption)) {
  Start();
}

ProgressWindowThread::~ProgressWindowThread() {
  SetStop(true);
  Wait();
  delete pendingStatus_.exchange(nullptr);
}

SharedWString ProgressWindowThread::GetText() const {
  CriticalSectionLock lock(textGuard_);
  return text_;
}

BOOL ProgressWindowThread::SetText(const SharedWString& text) {
  {
    CriticalSectionLock lock(textGuard_);
    if (!text_.Equals(text)) {
      text_ = text;
    }
  }
  // A null window would post to this thread's own queue instead.
  const HWND window = window_.load();
  if (window == nullptr) {
    return FALSE;
  }
  return PostMessageA(window, kTextWaiting, 0, 0);
}

void ProgressWindowThread::WaitingForLauncher() { Publish(WaitingForLauncherText(texts_), 0, 0); }

void ProgressWindowThread::WaitingForOtherRun() { Publish(WaitingForOtherRunText(texts_), 0, 0); }

void ProgressWindowThread::Restoring() { Publish(RestoringText(texts_), 0, 0); }

void ProgressWindowThread::RestoringFile(size_t number, size_t count, const SharedWString& name) {
  // As in a revert, the bar counts down what of the cut run still stands.
  Publish(RestoringFileText(texts_, name), count - number, count);
}

void ProgressWindowThread::Applying(size_t applied, size_t remaining, const SharedWString& name) {
  filesDone_ = applied;
  fileCount_ = applied + remaining;
  // The bar stands at the file's own number, as the line counts it.
  Publish(ApplyingText(texts_, applied + 1, fileCount_, name), applied + 1, fileCount_);
}

void ProgressWindowThread::WaitingToRetry(const SharedWString& name, HRESULT result,
                                          int nextAttempt, int attempts) {
  // The file that failed is not done: the bar goes back to the files before it.
  Publish(WaitingToRetryText(texts_, name, result, nextAttempt, attempts), filesDone_, fileCount_);
}

void ProgressWindowThread::Reverting(size_t number, size_t count, const SharedWString& name) {
  // The bar counts down from where the patch had come to: what stays applied after this file.
  Publish(RevertingText(texts_, name), count - number, fileCount_ < count ? count : fileCount_);
}

void ProgressWindowThread::Publish(const SharedWString& text, size_t position, size_t range) {
  // Without memory the window keeps showing the status before.
  ProgressStatus* status = new (std::nothrow) ProgressStatus{text, position, range};
  if (status == nullptr) {
    return;
  }
  ProgressStatus* superseded = pendingStatus_.exchange(status);
  if (superseded != nullptr) {
    // Never shown, and the dialog has been told already (or takes the newest as it opens).
    delete superseded;
    return;
  }
  // A dialog not yet open takes the status at WM_INITDIALOG: it stores its window before it
  // looks, and this thread stored the status before reading the window, so one side sees it.
  const HWND window = window_.load();
  if (window != nullptr) {
    PostMessageW(window, kStatusWaiting, 0, 0);
  }
}

uint32_t ProgressWindowThread::Run() {
  RegisterBarClass(controls_);
  const INT_PTR result = DialogBoxParamA(LibraryModule(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                         &ProgressDialogProc, reinterpret_cast<LPARAM>(this));
  if (result == -1) {
    const DWORD error = GetLastError();
    Print("error: 0x%08x\n", static_cast<unsigned>(HRESULT_FROM_WIN32(error)));
  }
  Print("result: %d\n", static_cast<int>(result));
  return static_cast<uint32_t>(result);
}

void ProgressWindowThread::OnStop() {
  const HWND window = window_.load();
  if (window != nullptr) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  Print("received a message\n");
  switch (message) {
    case WM_CLOSE:
      Print("WM_CLOSE\n");
      EndDialog(dialog, 0);
      g_openProgressWindow.store(nullptr);
      return TRUE;
    case WM_INITDIALOG: {
      Print("WM_INITDIALOG\n");
      auto* owner = reinterpret_cast<ProgressWindowThread*>(lParam);
      g_openProgressWindow.store(owner);
      owner->window_.store(dialog);
      SetWindowTextW(dialog, owner->caption_.Chars());
      SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, owner->GetText().Chars());
      const std::unique_ptr<ProgressStatus> status(owner->pendingStatus_.exchange(nullptr));
      if (status != nullptr) {
        ShowStatus(dialog, *status);
      }
      // A stop that came while the window field was still null posted nothing; the window field
      // is stored before the request is read, so one of the two sides always sees the other.
      if (owner->StopRequested()) {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
      }
      return TRUE;
    }
    case kTextWaiting: {
      // The trace keeps the name it has always printed for a new text.
      Print("WM_USER\n");
      ProgressWindowThread* open = g_openProgressWindow.load();
      if (open != nullptr) {
        SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, open->GetText().Chars());
      }
      return TRUE;
    }
    case kStatusWaiting: {
      ProgressWindowThread* open = g_openProgressWindow.load();
      const std::unique_ptr<ProgressStatus> status(
          open != nullptr ? open->pendingStatus_.exchange(nullptr) : nullptr);
      if (status != nullptr) {
        ShowStatus(dialog, *status);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace quorvel
