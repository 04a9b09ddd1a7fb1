#include "patch/apply/patch_files.h"

#include <cstdlib>
#include <cwchar>
#include <vector>

#include "files/file_path.h"
#include "files/same_contents.h"
#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "patch/apply/revert_patches.h"
#include "patch/checks/names_inside.h"
#include "patch/checks/run_checks.h"
#include "patch/checks/run_plan.h"
#include "patch/journal/run_journal.h"
#include "patch/run/failure_box.h"
#include "patch/run/run_result.h"
#include "patch/steps/emptied_folders.h"
#include "patch/steps/held_folders.h"
#include "patch/steps/patch_one_file.h"
#include "patch/window/progress_status.h"
#include "patch/window/progress_window.h"

namespace quorvel {
namespace {

void SleepPause(DWORD milliseconds) { Sleep(milliseconds); }

RetryPause g_retryPause = SleepPause;

// Lends the run its plan and its held folders for as long as PatchFiles runs, the revert
// included.
class HeldDuringRun {
 public:
  HeldDuringRun(PatchRun& run, RunPlan& plan) : run_(run) { run_.plan = &plan; }
  HeldDuringRun(const HeldDuringRun&) = delete;
  HeldDuringRun& operator=(const HeldDuringRun&) = delete;
  ~HeldDuringRun() {
    run_.heldFolders = nullptr;
    run_.plan = nullptr;
  }
  void Lend(HeldFolders& held) { run_.heldFolders = &held; }

 private:
  PatchRun& run_;
};

// Whether the player, with the window up, is asked before a file that still fails is given up:
// only for failures that another program (the game, a tool, a scanner) causes and its end cures.
// A quiet run asks nothing: its launcher tells the player.
bool CanAskToRetry(const PatchRun& run, HRESULT hr) {
  return !run.quiet && run.progressWindow != nullptr &&
         run.progressWindow->GetWindow() != nullptr &&
         (hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
          hr == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION) ||
          hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
}

// Asks the player whether the file's attempts start again; true for Retry. Any other answer,
// or a box that could not be shown, is Cancel.
bool PlayerChoosesRetry(const PatchRun& run, const SharedWString& name, HRESULT hr) {
  RunLog::Write("Asking the player whether to try \"%ls\" again, HResult 0x%08x\n", name.Chars(),
                static_cast<unsigned>(hr));
  const int answer = MessageBoxW(nullptr, RetryQuestionText(run.texts, name, hr).Chars(),
                                 run.texts.Compose(PlayerText::kCaption).Chars(),
                                 MB_RETRYCANCEL | MB_ICONWARNING | MB_SETFOREGROUND);
  if (answer == 0) {
    const DWORD error = GetLastError();
    QUORVEL_LOG_FAILED_RESULT(FailureResult(error), "Could not ask the player");
  }
  RunLog::Write("The player answered %ls\n", answer == IDRETRY ? L"Retry" : L"Cancel");
  return answer == IDRETRY;
}

// After a run that failed was reverted and its journal finished: a backup that the run kept for
// a file that failed (ledger holds those of the files not applied) goes once the game's file
// holds the same bytes again (it was put back by a copy), both checked as themselves, then the
// folders the run made that are empty now.
void RemoveLeftovers(const PatchRun& run, const BackupLedger& ledger) {
  HeldFolders* held = run.heldFolders;
  if (held == nullptr || run.plan == nullptr) {
    return;
  }
  for (const SharedWString& name : ledger.Names()) {
    const PlannedName* planned = run.plan->Find(name);
    if (planned == nullptr) {
      continue;
    }
    NamePlaces places(*run.plan, *planned, held);
    const SharedWString& backup = places.Full(FolderRole::kBackup);
    const SharedWString& game = places.Full(FolderRole::kApplication);
    if (SameContents(game, backup) &&
        held->OpenChecked(FolderRole::kApplication, name, false, true,
                          places.File(FolderRole::kApplication)) == S_OK &&
        held->OpenChecked(FolderRole::kBackup, name, true, true,
                          places.File(FolderRole::kBackup)) == S_OK) {
      RunLog::Write("Removing \"%ls\", the same as \"%ls\"\n", backup.Chars(), game.Chars());
      places.File(FolderRole::kBackup).Delete();
    }
  }
  held->RemoveMade();
}

// Publishes and shows the failure of a run that changed nothing, or that has been reverted.
// A revert that stopped early, a failed file left without its old version, or a journal that
// could not record every step leaves the journal unfinished: the next run finishes putting the
// files back.
HRESULT ReportFailure(const PatchRun& run, HRESULT hr, const SharedWString& name,
                      const SharedWString& subject, PatchRun* revert, RunJournal* journal,
                      bool leftBroken = false, BackupLedger* ledger = nullptr) {
  PublishResult(hr);
  SharedWString message;
  Format(message, L"Could not patch file \"%ls\", error 0x%08x", subject.Chars(),
         static_cast<unsigned>(hr));
  RunLog::Write("%ls\n", message.Chars());
  // A journal that could not take a record takes no more: the revert goes on without it, and
  // the next run finds the files as they were before this one, which its restore then confirms.
  RunJournal* recording =
      journal != nullptr && SUCCEEDED(journal->WriteFailure()) ? journal : nullptr;
  bool reverted = false;
  if (revert != nullptr && SUCCEEDED(RevertPatches(*revert, recording)) && recording != nullptr &&
      !leftBroken) {
    reverted = SUCCEEDED(recording->Finish(hr)) && ledger != nullptr;
  }
  if (reverted) {
    RemoveLeftovers(*revert, *ledger);
  }
  // The files have stopped moving; the player may move the folders while the box is open.
  if (revert != nullptr && revert->heldFolders != nullptr) {
    revert->heldFolders->ReleaseAll();
  }
  if (reverted) {
    journal->RemoveMadeBackup();
  }
  if (run.plan != nullptr) {
    run.plan->LetGoOfFolders();
  }
  if (journal != nullptr) {
    journal->ReleaseBackup();
  }
  if (!name.IsEmpty()) {
    PublishFileName(name);
  }
  ShowFailureBox(run, PatchFailedMessage(run.texts, subject, hr));
  return hr;
}

}  // namespace

RetryPause SetRetryPause(RetryPause pause) {
  const RetryPause previous = g_retryPause;
  g_retryPause = pause;
  return previous;
}

HRESULT PatchFiles(PatchRun& run) {
  RunRefusal refusal;
  RunPlan plan;
  HeldDuringRun holding(run, plan);
  // Each file's own links are found on its handle at its move.
  if (FAILED(CheckRun(run, refusal, plan, true))) {
    return ReportFailure(run, refusal.result, refusal.name, refusal.subject, nullptr, nullptr);
  }
  BackupLedger ledger;
  RunJournal journal;
  HRESULT hr = journal.Start(run, plan, refusal);
  if (hr == S_FALSE) {
    RunLog::Write("The patch of this list is already applied: nothing to do\n");
    PublishResult(S_OK);
    return S_OK;
  }
  if (FAILED(hr)) {
    journal.ReleaseBackup();
    return ReportFailure(run, hr, refusal.name, refusal.subject, nullptr, nullptr);
  }

  LoggingPatchObserver logging;
  JournalingObserver observer(&journal, &logging);
  SharedWString failedName;
  HeldFolders held(plan);
  holding.Lend(held);
  EmptiedFolders emptied(run.patchDirectory, FolderRole::kPatch, run.files, &held);
  const size_t count = run.files.size();
  bool dropped = false;
  if (held.TakeStrayed() && FAILED(RecheckRunNames(run, plan, failedName, dropped))) {
    return ReportFailure(run, E_INVALIDARG, failedName, failedName, &run, &journal, dropped,
                         &ledger);
  }
  for (int attempt = 0; attempt < kPatchAttempts; ++attempt) {
    if (attempt > 0) {
      RunLog::Write("Patch failed. Retry %d ...\n", attempt);
    }
    if (FAILED(hr)) {
      // The first attempt after the player chose Retry follows at once.
      if (attempt > 0) {
        run.Progress().WaitingToRetry(failedName, hr, attempt + 1, kPatchAttempts);
        g_retryPause(kRetryPauseMilliseconds);
      }
      // Anything that can write the folders had the pause to swap one of them for a link; the
      // held ones tell whether it did.
      if (!held.WaysUnchanged() && FAILED(RecheckRunNames(run, plan, failedName, dropped))) {
        return ReportFailure(run, E_INVALIDARG, failedName, failedName, &run, &journal,
                             dropped || observer.RestoreFailed(), &ledger);
      }
    }
    while (!run.files.empty()) {
      const SharedWString name = run.files.front();
      const size_t index = count - run.files.size();
      observer.SetIndex(index);
      run.Progress().Applying(run.appliedFiles.size(), run.files.size(), name);
      NamePlaces places(plan, plan.Names()[index], &held);
      hr = PatchFile(places, kRunSteps, &observer, &ledger, &emptied);
      if (FAILED(hr) && held.TakeRefused()) {
        // Found at its move, before any step of it: the run stops and is reverted.
        return ReportFailure(run, hr, name, name, &run, &journal, observer.RestoreFailed(),
                             &ledger);
      }
      if (FAILED(hr)) {
        QUORVEL_LOG_FAILED_RESULT(hr, "Copy failed");
        failedName = name;
        // A folder on its way strayed: the file may have stopped half-way, which only the
        // journal, left unfinished, can finish.
        if (held.TakeStrayed()) {
          if (SUCCEEDED(RecheckRunNames(run, plan, failedName, dropped))) {
            RunLog::Write("Refusing to patch \"%ls\": a folder on its way was swapped\n",
                          name.Chars());
          }
          return ReportFailure(run, E_INVALIDARG, failedName, failedName, &run, &journal, true,
                               &ledger);
        }
        break;
      }
      if (FAILED(hr = journal.Record(index, JournalStep::kApplied))) {
        // The file is in place: the revert must take it back too.
        run.appliedFiles.push_back(name);
        failedName = name;
        break;
      }
      run.appliedFiles.push_back(name);
      run.files.pop_front();
      ledger.Forget(places.Full(FolderRole::kBackup));
      held.HoldMadeWay(FolderRole::kBackup, name);
      held.HoldMadeWay(FolderRole::kApplication, name);
      // A folder the run made was swapped before it could be held: the next file could follow it.
      if (held.TakeStrayed() && FAILED(RecheckRunNames(run, plan, failedName, dropped))) {
        return ReportFailure(run, E_INVALIDARG, failedName, failedName, &run, &journal,
                             dropped || observer.RestoreFailed(), &ledger);
      }
    }
    if (SUCCEEDED(hr) && FAILED(hr = journal.Finish(hr))) {
      failedName = SharedWString();
    }
    if (SUCCEEDED(hr)) {
      RunLog::Write("All Quorvel patches successful\n");
      PublishResult(hr);
      return hr;
    }
    if (FAILED(journal.WriteFailure())) {
      // No step may go unrecorded: retrying would only make steps the journal cannot hold.
      break;
    }
    if (attempt + 1 == kPatchAttempts && !failedName.IsEmpty() && CanAskToRetry(run, hr) &&
        PlayerChoosesRetry(run, failedName, hr)) {
      attempt = -1;
    }
  }
  return ReportFailure(run, hr, failedName,
                       failedName.IsEmpty() ? run.applicationDirectory : failedName, &run, &journal,
                       observer.RestoreFailed(), &ledger);
}

}  // namespace quorvel
