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
SharedWString RestoringText();
SharedWString ApplyingText(size_t number, size_t count, const SharedWString& name);
// Names the file and the system's text for result; for a file that another program holds open
// it says so, since the player can end that.
SharedWString WaitingToRetryText(const SharedWString& name, HRESULT result, int nextAttempt,
                                 int attempts);
SharedWString RevertingText(const SharedWString& name);

}  // namespace quorvel
