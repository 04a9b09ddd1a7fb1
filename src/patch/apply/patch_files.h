#pragma once

#include <windows.h>

#include "patch/run/patch_run.h"

namespace quorvel {

// The third step of a run: applies the patch, reverting it when it cannot be completed.
HRESULT PatchFiles(PatchRun& run);

// The pause before each retry.
constexpr DWORD kRetryPauseMilliseconds = 2000;

// How PatchFiles waits before a retry: Sleep by default. Tests put their own function in place
// to act between attempts or to wait less; the product never changes it. Returns the previous.
using RetryPause = void (*)(DWORD milliseconds);
RetryPause SetRetryPause(RetryPause pause);
}  // namespace quorvel
