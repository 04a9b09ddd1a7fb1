#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "foundation/critical_section.h"
#include "foundation/shared_string.h"
#include "foundation/worker_thread.h"

namespace quorvel {

constexpr uint32_t kProgressWindowStackSize = 32768;

// The progress window: a modal dialog on a thread of its own that shows the run's display text
// until the run ends. Its diagnostics go to standard output, never to the run log. Without a
// display the dialog cannot open and the thread ends at once; the run is not affected.
class ProgressWindowThread : public WorkerThread {
 public:
  // Starts the thread, which opens the dialog with text.
  explicit ProgressWindowThread(const SharedWString& text);
  // Closes the dialog (also one that has not opened yet) and waits for the thread to end.
  ~ProgressWindowThread() override;

  // The dialog's window; null until the dialog has been initialised.
  HWND GetWindow() const { return window_.load(); }
  SharedWString GetText() const;
  // Replaces the text and asks the open dialog to show it; FALSE when no dialog is open to be
  // told (it shows the new text when it opens) or the message could not be posted.
  BOOL SetText(const SharedWString& text);

 protected:
  // Runs the dialog; returns its result (0 when the run closed it, -1 when it could not open).
  uint32_t Run() override;
  // Posts WM_CLOSE to the dialog when it is open; a dialog still opening closes itself.
  void OnStop() override;

 private:
  friend INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                             LPARAM lParam);

  // Written by the window's thread, read by the run's thread.
  std::atomic<HWND> window_{nullptr};
  // The text is read on the window's thread and may be replaced on the owner's.
  mutable CriticalSection textGuard_;
  SharedWString text_;
};

// The progress dialog's procedure; lParam of WM_INITDIALOG is the ProgressWindowThread.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quorvel
