#pragma once

#include <windows.h>

#include "foundation/shared_string.h"
#include "patch/patch_run.h"

namespace quorvel {

// The third step of a run: applies the patch, reverting it when it cannot be completed.
HRESULT PatchFiles(PatchRun& run);

// Attempts PatchFiles makes before it gives up and reverts.
constexpr int kPatchAttempts = 5;

// The pause before each retry.
constexpr DWORD kRetryPauseMilliseconds = 2000;

// How PatchFiles waits before a retry: Sleep by default. Tests put their own function in place
// to act between attempts or to wait less; the product never changes it. Returns the previous.
using RetryPause = void (*)(DWORD milliseconds);
RetryPause SetRetryPause(RetryPause pause);

// Sets QUORVEL_RESULT in the process environment and removes QUORVEL_FILENAME, so that only a
// name that this run publishes after it reaches the launcher.
void PublishResult(HRESULT result);
// Sets QUORVEL_FILENAME in the process environment (an empty name removes it).
void PublishFileName(const SharedWString& name);

}  // namespace quorvel
