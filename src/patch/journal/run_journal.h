#pragma once

// The run journal: what a run is about to do to each file, written to disk before it does it,
// so that the next run can put back every file of a run that was cut short, and can tell the
// same run started again.
//
// Where: Quorvel.journal in the application folder. Every run on that folder finds it, however
// the folder is spelt and whatever backup folder the run names; it moves with the folder.
//
// Format: UTF-16LE text with a byte order mark, each line ended by LF, fields separated by tabs:
//   Quorvel run journal 2
//   token     <8 hex digits>         names the run's partial copies: <file>.~qv<token>
//   patch     <folder>               the three folders as the file system names them
//   application <folder>
//   backup    <folder>
//   [identities <patch> <application> <backup>]   each folder's file index in hex, 0 unknown:
//                                    the folders are the journal's however they are spelt
//   [damaged  <file name>]           a damaged journal was kept aside under this name and no
//                                    run has succeeded since
//   files     <count>
//   <game> <backup> <patch> <name>   one line per listed name, in list order: what stood at
//                                    its three paths before the run, "-" for nothing, else
//                                    <size hex>:<last write time hex>
//   [existed <index> <game> <backup>]  for the listed name at index, how many folders on its
//                                    way, from the top, stood in the application and the backup
//                                    folder when the run began: a restore leaves them; no line
//                                    for a name with none
//   begun
//   <index> <step>                   a record per step, written through before the step
//   finished <0x%08x>                the run ended with that result (a restore ends its
//                                    journal with 0x80004004)
// A last line without its LF is a record whose write was cut short; its step never began.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <map>
#include <vector>

#include "foundation/name_key.h"
#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"
#include "patch/checks/run_checks.h"
#include "patch/checks/run_plan.h"
#include "patch/journal/journal_records.h"
#include "patch/run/journal_names.h"
#include "patch/run/patch_run.h"
#include "patch/steps/patch_one_file.h"

namespace quorvel {

// Refusals of the journal, each with a result of its own:
// the journal does not agree with the disk (folders, names, or a file it cannot explain);
constexpr HRESULT kJournalDisagrees = HRESULT_FROM_WIN32(ERROR_RECOVERY_FAILURE);
// the journal, or its draft, is a link to somewhere else;
constexpr HRESULT kJournalIsLink = HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME);
// the journal is damaged (kept aside), or was, and this run could lose a file.
constexpr HRESULT kJournalDamaged = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);

// Called just before each record is written, with its number in this process (from 1). A
// non-zero return fails that write with that Win32 error, as a full disk would. Tests cut a run
// short there, or fail a record; the product never sets it.
using JournalHook = DWORD (*)(unsigned recordNumber);
JournalHook SetJournalHook(JournalHook hook);

// The journal of one run.
class RunJournal {
 public:
  RunJournal() = default;
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Before the run changes anything: reads the journal in the application folder, restores a
  // run that was cut short, and writes this run's journal. S_OK when the run goes on; S_FALSE
  // when it is the last successful run again, with nothing to do; otherwise the refusal, with
  // nothing changed but a damaged journal kept aside, and refusal filled. The run's checks have
  // passed and built plan, which the journal reads from here on (a backup folder it makes is
  // held in it).
  HRESULT Start(const PatchRun& run, RunPlan& plan, RunRefusal& refusal);
  // Records the step the file at index (in list order) is about to take. Once a record could not
  // be written no step may follow: this and every later call return that error.
  HRESULT Record(size_t index, JournalStep step);
  // The list position of a listed name (the count of names for none).
  size_t IndexOf(const SharedWString& name) const;
  // The error of the first record that could not be written; S_OK while every one was.
  HRESULT WriteFailure() const { return writeFailure_; }
  // The suffix of the run's partial copies.
  const SharedWString& PartialSuffix() const { return partialSuffix_; }
  // Marks the run ended with result, durably.
  HRESULT Finish(HRESULT result);
  // Lets another run use the backup folder: the files have stopped moving.
  void ReleaseBackup() { backupLock_.Reset(); }
  // For a run that failed and was reverted, its journal finished: removes the backup folder
  // that Start made, with its lock and the folders made above it, when nothing else is in it.
  void RemoveMadeBackup();

 private:
  // asChecked: what the plan found at each place still stands (no restore has moved files).
  HRESULT Begin(const RunPlan& plan, const SharedWString& damaged, bool asChecked);
  HRESULT Append(const SharedWString& text);
  // Opens the journal to append records after its first wholeBytes (0: all of it); a record
  // torn by a full disk beyond them goes.
  HRESULT OpenForRecords(DWORD wholeBytes = 0);
  HRESULT Restore(const JournalContent& last, RunRefusal& refusal, RunProgress& progress);
  // Agreed, last's folders become the plan's, as this run gives them.
  HRESULT CheckAgreement(JournalContent& last, const PatchRun& run, const RunPlan& plan,
                         RunRefusal& refusal);
  // Waits until no other run holds the backup folder, then holds it for this run; refuses it
  // while it holds files of another game's run that was cut short.
  HRESULT ClaimBackup(RunPlan& plan, RunRefusal& refusal);
  // Takes back what ClaimBackup changed, for a run that changes nothing after all.
  void Unclaim();

  SharedWString path_;  // the journal's full path
  SharedWString real_;  // where the file system must find it: not through a link
  SharedWString draft_;
  SharedWString realDraft_;
  SharedWString partialSuffix_;
  ScopedFileHandle file_;
  ScopedFileHandle backupLock_;
  std::vector<SharedWString> madeBackupFolders_;  // made by ClaimBackup, deepest first
  PlanFolder* madeBackup_ = nullptr;
  bool waitedForBackup_ = false;  // ClaimBackup waited for another run to let go of it
  SharedWString previousClaim_;   // what the lock held, empty when ClaimBackup made it
  const RunPlan* plan_ = nullptr;
  HRESULT writeFailure_ = S_OK;
};

// Records each step of PatchFile in the journal before it happens, and passes it on to next
// (if any). A step whose record cannot be written does not happen.
class JournalingObserver : public PatchFileObserver {
 public:
  JournalingObserver(RunJournal* journal, PatchFileObserver* next)
      : journal_(journal), next_(next) {}
  void SetIndex(size_t index) { index_ = index; }

  HRESULT OnStep(const FileStep& step, const SharedWString& from, const SharedWString& to) override;
  void OnKeepingBackup(const SharedWString& backup) override;
  void OnRestored(const SharedWString& backup, const SharedWString& target,
                  HRESULT result) override;
  SharedWString PartialSuffix() const override;
  // Whether the last file whose copy-up failed could not be put back from its backup.
  bool RestoreFailed() const { return restoreFailed_; }

 private:
  RunJournal* journal_;
  PatchFileObserver* next_;
  size_t index_ = 0;
  bool restoreFailed_ = false;
};

}  // namespace quorvel
