#include "patch/revert_patches.h"

#include "foundation/failure_line.h"
#include "foundation/run_log.h"
#include "patch/emptied_folders.h"
#include "patch/held_folders.h"
#include "patch/names_inside.h"
#include "patch/patch_file.h"
#include "patch/run_journal.h"

namespace quorvel {

HRESULT RevertPatches(const PatchRun& run, RunJournal* journal) {
  RunLog::Write("Reverting all patches\n");
  // Records the revert's steps only; a revert logs no "Backing up" or "Copying up" lines.
  JournalingObserver recorder(journal, nullptr, true);
  EmptiedFolders emptied(run.backupDirectory, run.appliedFiles, run.heldFolders, true);
  size_t reverting = 0;
  for (const SharedWString& name : run.appliedFiles) {
    run.Progress().Reverting(++reverting, run.appliedFiles.size(), name);
    const size_t index = journal != nullptr ? journal->IndexOf(name) : 0;
    recorder.SetIndex(index);
    RunLog::Write("Copying \"%ls\\%ls\" to \"%ls\\%ls\"\n", run.backupDirectory.Chars(),
                  name.Chars(), run.applicationDirectory.Chars(), name.Chars());
    // The roles rotate: the backup is the source and the patch folder takes the new file back.
    const HRESULT hr = PatchFile(name, run.backupDirectory, run.applicationDirectory,
                                 run.patchDirectory, &recorder, nullptr, &emptied);
    if (FAILED(hr)) {
      LogFailedResult(hr, "Failed trying to revert patch file \"%ls\"", name.Chars());
      return hr;
    }
    if (journal != nullptr) {
      journal->Record(index, JournalStep::kReverted);
    }
    // The patch folders the file's way back made, held like those the run made.
    if (run.heldFolders != nullptr) {
      run.heldFolders->HoldMadeWay(kPatchFolder, name);
    }
  }
  return S_OK;
}

}  // namespace quorvel
