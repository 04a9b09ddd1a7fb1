#pragma once

#include <windows.h>

#include <cstddef>

#include "foundation/shared_string.h"
#include "patch/texts/player_texts.h"

namespace quorvel {

// The status line of the progress window and the position of its bar (position of range; a
// range of 0 leaves the bar empty).
struct ProgressStatus {
  SharedWString text;
  size_t position = 0;
  size_t range = 0;
};

// The status line for each event of a run, in the player's texts. The bar's position is the
// caller's: it knows how far the run had come.
SharedWString WaitingForLauncherText(const PlayerTexts& texts);
SharedWString WaitingForOtherRunText(const PlayerTexts& texts);
SharedWString RestoringText(const PlayerTexts& texts);
SharedWString RestoringFileText(const PlayerTexts& texts, const SharedWString& name);
SharedWString ApplyingText(const PlayerTexts& texts, size_t number, size_t count,
                           const SharedWString& name);
// Names the file and the system's text for result; for a file that another program holds open
// it says so, since the player can end that.
SharedWString WaitingToRetryText(const PlayerTexts& texts, const SharedWString& name,
                                 HRESULT result, int nextAttempt, int attempts);
SharedWString RevertingText(const PlayerTexts& texts, const SharedWString& name);
// The system's text for result as one sentence of a line: without its line end, or the code
// when the system has no text for it.
SharedWString ReasonText(const PlayerTexts& texts, HRESULT result);
// The question asked when a file still fails after the last attempt for a reason the player can
// end: names the file and the reason, and what each button does.
SharedWString RetryQuestionText(const PlayerTexts& texts, const SharedWString& name,
                                HRESULT result);

}  // namespace quorvel
