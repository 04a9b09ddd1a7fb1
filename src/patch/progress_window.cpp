#include "patch/progress_window.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/format.h"
#include "foundation/library_module.h"
#include "resources/resource.h"

namespace quorvel {
namespace {

// The progress window whose dialog is open.
std::atomic<ProgressWindowThread*> g_openProgressWindow{nullptr};

// The window's thread reports to standard output. The text is formatted first so that its
// meaning does not depend on which printf the runtime headers select.
void Print(const char* format, ...) {
  SharedString text;
  va_list args;
  va_start(args, format);
  FormatV(text, format, args);
  va_end(args);
  std::fputs(text.Chars(), stdout);
  std::fflush(stdout);
}

}  // namespace

ProgressWindowThread::ProgressWindowThread(const SharedWString& text)
    : WorkerThread(kProgressWindowStackSize), text_(text) {
  Start();
}

ProgressWindowThread::~ProgressWindowThread() {
  SetStop(true);
  Wait();
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
  return PostMessageA(window, WM_USER, 0, 0);
}

uint32_t ProgressWindowThread::Run() {
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
      SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, owner->GetText().Chars());
      // A stop that came while the window field was still null posted nothing; the window field
      // is stored before the request is read, so one of the two sides always sees the other.
      if (owner->StopRequested()) {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
      }
      return TRUE;
    }
    case WM_USER: {
      Print("WM_USER\n");
      ProgressWindowThread* open = g_openProgressWindow.load();
      if (open != nullptr) {
        SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, open->GetText().Chars());
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace quorvel
