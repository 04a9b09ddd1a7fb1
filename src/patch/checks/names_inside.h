#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"
#include "patch/checks/run_plan.h"
#include "patch/run/patch_run.h"

namespace quorvel {

class FolderWalk;

// The ways from each folder of a run to its names, each folder on them resolved and listed once
// however many names pass through it. Whether every name, joined to every folder, stays inside
// that folder on disk, so that an elevated run cannot be led to change a file elsewhere:
// - the folder's final path is still the one the plan found;
// - no file or folder on the way from the folder to the name's path, the name's own included,
//   is a link (a reparse point that names another place: junction, symbolic link, mount point),
//   and each existing folder on the way has the final path that the folder and the name give it;
// - unless filesAtMoves (the run opens and checks each file inside its held folder as it moves
//   it), the name's existing file has that final path too (a link to a file does not show in a
//   folder listing everywhere), and in the backup folder, whose files a run deletes and whose
//   read-only flag it clears, no other name (hard link);
// - the name is a plain relative name.
// Links at or above a folder are the folder's own and are not judged. A part of the way that
// does not exist ends the check of that name there. Nothing on disk changes.
class NameWays {
 public:
  NameWays(const RunPlan& plan, bool filesAtMoves);
  NameWays(const NameWays&) = delete;
  NameWays& operator=(const NameWays&) = delete;
  ~NameWays();

  // False, after logging why (for name) unless quiet, when a folder is no longer where the plan
  // found it; with again, each folder's final path is asked for again (after a pause), else the
  // plan's is taken as it stands.
  bool Begin(const SharedWString& name, bool again, bool quiet = false);
  // False, after logging why unless quiet, when the name is not a plain relative name or its
  // way leaves one of the folders. With planned, what the listings show at its path in each
  // folder, and how many folders on its way stand there, go into it (unknown where the way
  // could not be followed).
  bool Check(const SharedWString& name, bool quiet, PlannedName* planned = nullptr);

 private:
  const RunPlan& plan_;
  const bool filesAtMoves_;
  std::vector<std::unique_ptr<FolderWalk>> walks_;
};

// Checks every name of the plan in list order with ways. Returns S_OK with what the listings
// show filled into each planned name, or E_INVALIDARG with faultName set to the first name that
// leaves a folder, after logging why.
HRESULT CheckNamesStayInside(NameWays& ways, RunPlan& plan, SharedWString& faultName);

// Checks every name of the run, applied or not, again, as before an attempt that follows a pause:
// the folders on their ways and what the listings show (the files are checked as they move).
// On a fault, the applied names whose way has left their folders are taken off the run's applied
// list, so that a revert never writes through them, and dropped tells whether any was; returns
// E_INVALIDARG with faultName set. S_OK when every way still stays inside.
HRESULT RecheckRunNames(PatchRun& run, const RunPlan& plan, SharedWString& faultName,
                        bool& dropped);

}  // namespace quorvel
