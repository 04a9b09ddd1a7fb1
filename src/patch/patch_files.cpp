#include "patch/patch_files.h"

#include <cstdlib>
#include <cwchar>
#include <vector>

#include "files/file_path.h"
#include "foundation/format.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "patch/patch_file.h"
#include "patch/journal_restore.h"
#include "patch/names_inside.h"
#include "patch/revert_patches.h"
#include "patch/run_checks.h"
#include "patch/run_journal.h"
#include "patch/run_steps.h"

namespace quorvel {
namespace {

void SleepPause(DWORD milliseconds) {
  Sleep(milliseconds);
}

RetryPause g_retryPause = SleepPause;

void TellUser(const SharedWString& message) {
  MessageBoxW(nullptr, message.Chars(), L"Quorvel", MB_ICONERROR);
}

bool SameText(const SharedWString& a, const SharedWString& b) {
  return _wcsicmp(a.Chars(), b.Chars()) == 0;
}

// Whether this run is the last finished one again: the same folders and list, a patch that
// succeeded, and none of the files it brought in back in the patch folder. Applying it again
// would replace every backup of an old file by the new one and delete the new files.
bool IsSameRunAgain(const PatchRun& run, const JournalContent& last) {
  if (FAILED(last.result) || last.files.size() != run.files.size() ||
      !SameText(last.patchDirectory, FolderPath(run.patchDirectory).FullPath()) ||
      !SameText(last.applicationDirectory, FolderPath(run.applicationDirectory).FullPath()) ||
      !SameText(last.backupDirectory, FolderPath(run.backupDirectory).FullPath())) {
    return false;
  }
  auto listed = run.files.begin();
  for (const JournalFile& file : last.files) {
    if (!SameText(file.name, *listed++)) {
      return false;
    }
  }
  for (const JournalFile& file : last.files) {
    FilePath source = PathIn(run.patchDirectory, file.name);
    const bool exists = source.Exists();
    if (file.sourceExisted && (exists || !IsNotFound(source.LastResult()))) {
      return false;
    }
  }
  return true;
}

// The last run's journal, read before this run changes anything: a run cut short is restored
// first, and the same list applied again changes nothing. S_FALSE when this run is the last one
// again and is done; a failure when the run must not go on, with faultName set when a name of
// the run cut short now leads out of its folders (nothing is restored then).
HRESULT FinishLastRun(const PatchRun& run, SharedWString& faultName) {
  JournalContent last;
  HRESULT hr = ReadJournal(run.backupDirectory, last);
  if (hr == S_FALSE || FAILED(hr)) {
    return FAILED(hr) ? hr : S_OK;
  }
  if (!last.finished) {
    // The folders had all the time since that run to gain links.
    std::vector<SharedWString> names;
    for (const JournalFile& file : last.files) {
      names.push_back(file.name);
    }
    if (FAILED(CheckNamesStayInside(
            RunFolders(last.patchDirectory, last.applicationDirectory, last.backupDirectory),
            names, faultName))) {
      return E_INVALIDARG;
    }
    run.Progress().Restoring();
    hr = RestoreCutShortRun(last, run.backupDirectory);
    return FAILED(hr) ? hr : ClearJournal(run.backupDirectory);
  }
  return IsSameRunAgain(run, last) ? S_FALSE : S_OK;
}

// Publishes and shows the failure of a run that changed nothing, or that has been reverted.
// A revert that stopped early, or a failed file left without its old version, leaves the journal
// open: the next run finishes putting the files back.
HRESULT ReportFailure(HRESULT hr, const SharedWString& name, const SharedWString& subject,
                      PatchRun* revert, RunJournal* journal, bool leftBroken = false) {
  PublishResult(hr);
  SharedWString message;
  Format(message, L"Could not patch file \"%ls\", error 0x%08x", subject.Chars(),
         static_cast<unsigned>(hr));
  RunLog::Write("%ls\n", message.Chars());
  if (revert != nullptr && SUCCEEDED(RevertPatches(*revert, journal)) && journal != nullptr &&
      !leftBroken) {
    journal->Finish(hr);
  }
  if (!name.IsEmpty()) {
    PublishFileName(name);
  }
  if ((static_cast<DWORD>(hr) & 0x1FFF0000) == 0x00070000) {
    const DWORD code = static_cast<DWORD>(hr) & 0xFFFF;
    Format(message, L"Could not patch file \"%ls\", error %d: %ls", subject.Chars(),
           static_cast<int>(code), SystemErrorText(code).Chars());
  }
  TellUser(message);
  return hr;
}

}  // namespace

RetryPause SetRetryPause(RetryPause pause) {
  const RetryPause previous = g_retryPause;
  g_retryPause = pause;
  return previous;
}

void PublishResult(HRESULT result) {
  SharedWString variable;
  Format(variable, L"QUORVEL_RESULT=0x%08x", static_cast<unsigned>(result));
  _wputenv(variable.Chars());
}

void PublishFileName(const SharedWString& name) {
  SharedWString variable;
  Format(variable, L"QUORVEL_FILENAME=%ls", name.Chars());
  _wputenv(variable.Chars());
}

HRESULT PatchFiles(PatchRun& run) {
  RunRefusal refusal;
  if (FAILED(CheckRun(run, refusal))) {
    return ReportFailure(refusal.result, refusal.name, refusal.subject, nullptr, nullptr);
  }
  SharedWString faultName;
  HRESULT hr = FinishLastRun(run, faultName);
  if (hr == S_FALSE) {
    RunLog::Write("The patch of this list is already applied: nothing to do\n");
    PublishResult(S_OK);
    return S_OK;
  }
  RunJournal journal;
  if (FAILED(hr) || FAILED(hr = journal.Begin(run))) {
    return ReportFailure(hr, faultName, faultName.IsEmpty() ? run.backupDirectory : faultName,
                         nullptr, nullptr);
  }

  LoggingPatchObserver logging;
  JournalingObserver observer(&journal, &logging, false);
  BackupLedger ledger;
  const size_t count = run.files.size();
  const std::vector<RunFolder> folders = RunFoldersOf(run);
  const HeldFolders held(folders);
  SharedWString failedName;
  for (int attempt = 0; attempt < kPatchAttempts; ++attempt) {
    if (attempt > 0) {
      RunLog::Write("Patch failed. Retry %d ...\n", attempt);
    }
    if (FAILED(hr)) {
      run.Progress().WaitingToRetry(failedName, hr, attempt + 1, kPatchAttempts);
      g_retryPause(kRetryPauseMilliseconds);
      // Anything that can write the folders had the pause to swap one of them for a link.
      bool dropped = false;
      if (FAILED(RecheckRunNames(run, folders, failedName, dropped))) {
        return ReportFailure(E_INVALIDARG, failedName, failedName, &run, &journal,
                             dropped || observer.RestoreFailed());
      }
    }
    while (!run.files.empty()) {
      const SharedWString name = run.files.front();
      const size_t index = count - run.files.size();
      observer.SetIndex(index);
      run.Progress().Applying(run.appliedFiles.size(), run.files.size(), name);
      hr = PatchFile(name, run.patchDirectory, run.applicationDirectory, run.backupDirectory,
                     &observer, &ledger);
      if (FAILED(hr)) {
        const DWORD code = static_cast<DWORD>(hr) & 0xFFFF;
        RunLog::Write("Copy failed, HResult 0x%08x, error %d %ls\n", static_cast<unsigned>(hr),
                      static_cast<int>(code), SystemErrorText(code).Chars());
        failedName = name;
        break;
      }
      journal.Record(index, JournalStep::kApplied);
      run.appliedFiles.push_back(name);
      run.files.pop_front();
    }
    if (SUCCEEDED(hr)) {
      journal.Finish(hr);
      RunLog::Write("All Quorvel patches successful\n");
      PublishResult(hr);
      return hr;
    }
  }
  return ReportFailure(hr, failedName, failedName, &run, &journal, observer.RestoreFailed());
}

}  // namespace quorvel
