#pragma once

#include <windows.h>

#include <vector>

#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"
#include "patch/checks/run_plan.h"
#include "patch/run/patch_run.h"

namespace quorvel {

// What a refused run is refused for: the result to publish, the listed name at fault (empty
// when a folder is at fault) and what the player's message names.
struct RunRefusal {
  HRESULT result = S_OK;
  SharedWString name;
  SharedWString subject;
};

// Refuses, before anything on disk changes, a run that could lose a player's file, after logging
// the reason in one line:
// - a patch or application folder that does not exist or is not a folder, a backup path that is
//   a file (0x80070003, or the query's own error);
// - folders that are the same folder, or a patch or backup folder that holds the application
//   folder, compared by what they are on disk, not by their spelling (E_INVALIDARG);
// - a name that is not a plain relative name, names the run journal, repeats another name or is
//   a folder above another name (ignoring case and slash direction), is the short name of
//   another file, or leads from one folder of the run into another that lies inside it
//   (E_INVALIDARG);
// - a name whose way from one of the folders passes through a link or leads out of the folder
//   (E_INVALIDARG, see CheckNamesStayInside).
// Returns S_OK when the run may go on, with plan built: its folders located and held, and what
// the folder listings showed at each name's places (see NameWays). With filesAtMoves, the files
// themselves are left to the moves, which check each on its handle.
HRESULT CheckRun(const PatchRun& run, RunRefusal& refusal, RunPlan& plan,
                 bool filesAtMoves = false);

// The folder part of CheckRun, for a plan that Describe has filled: locates and holds each
// folder and checks how they lie to each other. S_OK, or the refusal after logging it.
HRESULT LocateRunFolders(RunPlan& plan, RunRefusal& refusal);

}  // namespace quorvel
