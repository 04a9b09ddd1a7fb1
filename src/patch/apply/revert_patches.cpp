#include "patch/apply/revert_patches.h"

#include <optional>

#include "foundation/failure_line.h"
#include "foundation/run_log.h"
#include "patch/checks/run_plan.h"
#include "patch/journal/run_journal.h"
#include "patch/steps/emptied_folders.h"
#include "patch/steps/held_folders.h"
#include "patch/steps/patch_one_file.h"

namespace quorvel {

HRESULT RevertPatches(const PatchRun& run, RunJournal* journal) {
  RunLog::Write("Reverting all patches\n");
  // Records the revert's steps only; a revert logs no "Backing up" or "Copying up" lines.
  JournalingObserver recorder(journal, nullptr);
  EmptiedFolders emptied(run.backupDirectory, FolderRole::kBackup, run.appliedFiles,
                         run.heldFolders, true);
  size_t reverting = 0;
  for (const SharedWString& name : run.appliedFiles) {
    run.Progress().Reverting(++reverting, run.appliedFiles.size(), name);
    const size_t index = journal != nullptr ? journal->IndexOf(name) : 0;
    recorder.SetIndex(index);
    RunLog::Write("Copying \"%ls\\%ls\" to \"%ls\\%ls\"\n", run.backupDirectory.Chars(),
                  name.Chars(), run.applicationDirectory.Chars(), name.Chars());
    const PlannedName* planned = run.plan != nullptr ? run.plan->Find(name) : nullptr;
    std::optional<NamePlaces> places;
    if (planned != nullptr) {
      places.emplace(*run.plan, *planned, run.heldFolders);
    } else {
      places.emplace(name, run.patchDirectory, run.applicationDirectory, run.backupDirectory,
                     run.heldFolders);
    }
    // The run's steps undone: the new file goes back to the patch folder, the old one comes back.
    const HRESULT hr = PatchFile(*places, kRevertSteps, &recorder, nullptr, &emptied);
    if (FAILED(hr)) {
      QUORVEL_LOG_FAILED_RESULT(hr, "Failed trying to revert patch file \"%ls\"", name.Chars());
      return hr;
    }
    if (journal != nullptr) {
      journal->Record(index, JournalStep::kReverted);
    }
    // The patch folders the file's way back made, held like those the run made.
    if (run.heldFolders != nullptr) {
      run.heldFolders->HoldMadeWay(FolderRole::kPatch, name);
    }
  }
  // The folders the run made for files that never reached them, or that have left them again.
  if (run.heldFolders != nullptr) {
    run.heldFolders->RemoveMade();
  }
  return S_OK;
}

}  // namespace quorvel
