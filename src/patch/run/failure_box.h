#pragma once

#include <windows.h>

#include "foundation/shared_string.h"
#include "patch/run/patch_run.h"
#include "patch/texts/player_texts.h"

namespace quorvel {

// The player's message for a patch that failed on name with result: the system's text for a
// Win32 error, else the result in hexadecimal.
SharedWString PatchFailedMessage(const PlayerTexts& texts, const SharedWString& name,
                                 HRESULT result);
// The player's message for a launcher that could not be started: code and the system's text.
SharedWString RestartFailedMessage(const PlayerTexts& texts, DWORD code,
                                   const SharedWString& reason);

// Shows message in a box with no owner, the run's caption and the error icon, and returns once
// the player has closed it. A quiet run shows nothing: its launcher tells the player.
void ShowFailureBox(const PatchRun& run, const SharedWString& message);

}  // namespace quorvel
