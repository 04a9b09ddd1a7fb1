#pragma once

#include <windows.h>

#include "patch/patch_run.h"

namespace quorvel {

// The steps of a run in the order the driver calls them. Each returns an HRESULT and logs its
// own progress and failures.

// Reads the command line into run; E_INVALIDARG for a malformed or incomplete one.
HRESULT ParseRunArguments(PatchRun& run, const wchar_t* commandLine);
// Waits for the launcher to end and opens the progress window; always S_OK.
HRESULT WaitForParentProcess(PatchRun& run);
// Applies the patch, reverting it when it cannot be completed.
HRESULT PatchFiles(PatchRun& run);
// Starts the post-patch command (normally the launcher).
HRESULT RunPostPatchCommand(PatchRun& run);

}  // namespace quorvel
