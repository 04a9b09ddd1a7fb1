#pragma once

#include <windows.h>

#include "patch/run/patch_run.h"

namespace quorvel {

class RunJournal;

// Undoes the applied files of a run in the order they were applied: the old file comes back
// from the backup folder and the new one returns to the patch folder. Stops at the first file
// that cannot be reverted and returns its HRESULT; 0 when all were reverted. With a journal,
// each step is recorded in it first.
HRESULT RevertPatches(const PatchRun& run, RunJournal* journal = nullptr);

}  // namespace quorvel
