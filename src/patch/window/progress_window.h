#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "foundation/critical_section.h"
#include "foundation/shared_string.h"
#include "foundation/system_library.h"
#include "foundation/worker_thread.h"
#include "patch/texts/player_texts.h"
#include "patch/window/progress_status.h"
#include "patch/window/run_progress.h"

namespace quorvel {

constexpr uint32_t kProgressWindowStackSize = 32768;

// The progress window: a modal dialog on a thread of its own that shows the run's display text
// until the run ends, and below it a bar and a status line for the run's progress. Its
// diagnostics go to standard output, never to the run log. Without a display the dialog cannot
// open and the thread ends at once; the run is not affected.
//
// The run reports through RunProgress on its own thread: each event becomes a status that
// replaces the one not yet shown, and the dialog is told with a posted message only when none
// was waiting, so a fast run never waits for the window nor floods its queue.
class ProgressWindowThread : public WorkerThread, public RunProgress {
 public:
  // Starts the thread, which opens the dialog with text, its caption and status lines in texts.
  explicit ProgressWindowThread(const SharedWString& text,
                                const PlayerTexts& texts = PlayerTexts());
  // Closes the dialog (also one that has not opened yet) and waits for the thread to end.
  ~ProgressWindowThread() override;

  // The dialog's window; null until the dialog has been initialised.
  HWND GetWindow() const { return window_.load(); }
  SharedWString GetText() const;
  // Replaces the text and asks the open dialog to show it; FALSE when no dialog is open to be
  // told (it shows the new text when it opens) or the message could not be posted.
  BOOL SetText(const SharedWString& text);

  void WaitingForLauncher() override;
  void WaitingForOtherRun() override;
  void Restoring() override;
  void RestoringFile(size_t number, size_t count, const SharedWString& name) override;
  void Applying(size_t applied, size_t remaining, const SharedWString& name) override;
  void WaitingToRetry(const SharedWString& name, HRESULT result, int nextAttempt,
                      int attempts) override;
  void Reverting(size_t number, size_t count, const SharedWString& name) override;

 protected:
  // Runs the dialog; returns its result (0 when the run closed it, -1 when it could not open).
  uint32_t Run() override;
  // Posts WM_CLOSE to the dialog when it is open; a dialog still opening closes itself.
  void OnStop() override;

 private:
  friend INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                             LPARAM lParam);

  // comctl32, loaded and freed on the owner's thread while the window's thread is not running:
  // loading or freeing it on the window's thread while the run shows a message box on its own
  // can deadlock the loader under Wine.
  const SystemLibrary controls_{L"comctl32.dll"};
  // Written by the window's thread, read by the run's thread.
  std::atomic<HWND> window_{nullptr};
  // The text is read on the window's thread and may be replaced on the owner's.
  mutable CriticalSection textGuard_;
  SharedWString text_;
  // The run's thread composes the status lines; the window's thread reads only the caption.
  const PlayerTexts texts_;
  const SharedWString caption_;

  // Hands status to the window's thread.
  void Publish(const SharedWString& text, size_t position, size_t range);
  // The newest status not yet shown; owned by whichever thread takes it out.
  std::atomic<ProgressStatus*> pendingStatus_{nullptr};
  // The run's thread's own record of the bar: files done before the current one, of how many.
  size_t filesDone_ = 0;
  size_t fileCount_ = 0;
};

// The progress dialog's procedure; lParam of WM_INITDIALOG is the ProgressWindowThread.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quorvel
