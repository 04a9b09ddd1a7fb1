#pragma once

#include <windows.h>

#include "patch/run/patch_run.h"

namespace quorvel {

// The second step of a run: waits for the launcher to end and opens the progress window; always
// S_OK.
HRESULT WaitForParentProcess(PatchRun& run);

}  // namespace quorvel
