#pragma once

#include <windows.h>

#include <vector>

#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"
#include "patch/checks/run_folders.h"
#include "patch/run/patch_run.h"

namespace quorvel {

// Whether every name, joined to every folder, stays inside that folder on disk, so that an
// elevated run cannot be led to change a file elsewhere:
// - the folder's final path is still the one it had when the run was checked (when real is set);
// - no file or folder on the way from the folder to the name's path, the name's own included,
//   is a link (a reparse point that names another place: junction, symbolic link, mount point),
//   and each existing folder on the way has the final path that the folder and the name give it;
// - unless filesAtMoves (the run opens and checks each file inside its held folder as it moves
//   it), the name's existing file has that final path too (a link to a file does not show in a
//   folder listing everywhere), and in the backup folder, whose files a run deletes and whose
//   read-only flag it clears, no other name (hard link);
// - the name is a plain relative name.
// Links at or above a folder are the folder's own and are not judged. A part of the way that
// does not exist ends the check of that name there. Each distinct folder on the way is resolved
// and listed once, whatever the number of names in it.
// Returns S_OK, or E_INVALIDARG with faultName set to the first name that leaves a folder after
// logging why. Nothing on disk changes either way. With found, on S_OK, it holds what stands at
// each name's path in each folder as the listings show it: one per folder for each name, in the
// order of names and then of folders.
HRESULT CheckNamesStayInside(const std::vector<RunFolder>& folders,
                             const std::vector<SharedWString>& names, SharedWString& faultName,
                             std::vector<CheckedFile>* found = nullptr, bool filesAtMoves = false);

// Checks every name of the run, applied or not, again, as before an attempt that follows a pause:
// the folders on their ways and what the listings show (the files are checked as they move).
// On a fault, the applied names whose way has left their folders are taken off the run's applied
// list, so that a revert never writes through them, and dropped tells whether any was; returns
// E_INVALIDARG with faultName set. S_OK when every way still stays inside.
HRESULT RecheckRunNames(PatchRun& run, const std::vector<RunFolder>& folders,
                        SharedWString& faultName, bool& dropped);

}  // namespace quorvel
