#pragma once

#include <windows.h>

#include "patch/patch_run.h"

namespace quorvel {

// Undoes the applied files of a run in the order they were applied: the old file comes back
// from the backup folder and the new one returns to the patch folder. Stops at the first file
// that cannot be reverted and returns its HRESULT; 0 when all were reverted.
HRESULT RevertPatches(const PatchRun& run);

}  // namespace quorvel
