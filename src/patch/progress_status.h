#pragma once

#include <windows.h>

#include <cstddef>

#include "foundation/shared_string.h"

namespace quorvel {

// The status line of the progress window and the position of its bar (position of range; a
// range of 0 leaves the bar empty).
struct ProgressStatus {
  SharedWString text;
  size_t position = 0;
  size_t range = 0;
};

// The status line for each event of a run. The bar's position is the caller's: it knows how far
// the run had come.
SharedWString WaitingForLauncherText();
SharedWString WaitingForOtherRunText();
SharedWString RestoringText();
SharedWString RestoringFileText(const SharedWString& name);
SharedWString ApplyingText(size_t number, size_t count, const SharedWString& name);
// Names the file and the system's text for result; for a file that another program holds open
// it says so, since the player can end that.
SharedWString WaitingToRetryText(const SharedWString& name, HRESULT result, int nextAttempt,
                                 int attempts);
SharedWString RevertingText(const SharedWString& name);
// The question asked when a file still fails after the last attempt for a reason the player can
// end: names the file and the reason, and what each button does.
SharedWString RetryQuestionText(const SharedWString& name, HRESULT result);

}  // namespace quorvel
