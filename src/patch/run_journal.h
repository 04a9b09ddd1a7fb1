#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <vector>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"
#include "patch/patch_file.h"
#include "patch/patch_run.h"

namespace quorvel {

// The run journal lives in the backup folder under this name; no listed name may take it.
constexpr wchar_t kJournalName[] = L"Quorvel.journal";
// The journal's header is written here first and renamed into place, so that a journal is
// never seen half written.
constexpr wchar_t kJournalDraftName[] = L"Quorvel.journal.new";

// What a run recorded of a file just before each step that changes it. The next run reads the
// last one to tell the state of the file when a run was cut short.
enum class JournalStep : wchar_t {
  kNone = L'-',
  kBackingUp = L'b',     // the old file goes to the backup folder
  kRemoving = L'd',      // the old file is backed up; the file goes from the game
  kCopyingUp = L'c',     // the old file is backed up; the new one goes over the target
  kApplied = L'a',       // the file is patched
  kRevertingNew = L'n',  // the new file goes back to the patch folder
  kRevertingOld = L'o',  // the new file is back in the patch folder; the old one goes back
  kReverted = L'r',      // the file is as before the run
};

struct JournalFile {
  SharedWString name;
  // What existed before the run at the file's three paths.
  bool targetExisted = false;
  bool backupExisted = false;
  bool sourceExisted = false;
  JournalStep lastStep = JournalStep::kNone;
};

// A journal as read back: the folders (full paths), the files in list order with the last step
// of each, and whether the run ended.
struct JournalContent {
  SharedWString patchDirectory;
  SharedWString applicationDirectory;
  SharedWString backupDirectory;
  std::vector<JournalFile> files;
  bool finished = false;
  HRESULT result = S_OK;
};

// Reads the journal in backupDirectory. S_FALSE when there is none; 0x80070570 (file corrupt)
// when it is damaged, truncated or not a journal; the error of a failed read otherwise.
HRESULT ReadJournal(const SharedWString& backupDirectory, JournalContent& content);
// Deletes the journal in backupDirectory; S_OK when there is none.
HRESULT ClearJournal(const SharedWString& backupDirectory);

// Called just before each record is written, with the record's number in this process (from 1).
// Tests end the process there to cut a run short at a chosen step; the product never sets it.
using JournalHook = void (*)(unsigned recordNumber);
JournalHook SetJournalHook(JournalHook hook);

// The journal of the running run: written before its first change, a record per step, and a
// closing record when it ends.
class RunJournal {
 public:
  RunJournal() = default;
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Creates the backup folder if needed and writes, durably, the folders and for each listed
  // name what exists at its three paths. Logs and returns the error when it cannot.
  HRESULT Begin(const PatchRun& run);
  // Opens the journal that a run cut short left in backupDirectory, to record the restore of
  // its files. Logs and returns the error when it cannot.
  HRESULT Reopen(const SharedWString& backupDirectory);
  // Records the step that the file at index (in list order) is about to take. A record that
  // cannot be written is logged; the run goes on.
  void Record(size_t index, JournalStep step);
  // The list position of a listed name.
  size_t IndexOf(const SharedWString& name) const;
  // Marks the run ended with result, durably.
  HRESULT Finish(HRESULT result);

 private:
  HRESULT Write(const SharedWString& text);

  struct IgnoringCase {
    bool operator()(const SharedWString& a, const SharedWString& b) const;
  };
  ScopedFileHandle file_;
  std::map<SharedWString, size_t, IgnoringCase> indexes_;
  bool writeFailed_ = false;
};

// Records each step of PatchFile in the journal (if any) before it happens, and passes it on to
// next (if any).
class JournalingObserver : public PatchFileObserver {
 public:
  // reverting: the steps are those of a revert, where the roles of the folders are rotated.
  JournalingObserver(RunJournal* journal, PatchFileObserver* next, bool reverting)
      : journal_(journal), next_(next), reverting_(reverting) {}
  void SetIndex(size_t index) { index_ = index; }

  void OnBackingUp(const SharedWString& from, const SharedWString& to) override;
  void OnRemovingTarget(const SharedWString& target) override;
  void OnCopyingUp(const SharedWString& from, const SharedWString& to) override;
  void OnKeepingBackup(const SharedWString& backup) override;
  void OnRestored(const SharedWString& backup, const SharedWString& target,
                  HRESULT result) override;
  // Whether the last file whose copy-up failed could not be put back from its backup.
  bool RestoreFailed() const { return restoreFailed_; }

 private:
  void Record(JournalStep step);

  RunJournal* journal_;
  PatchFileObserver* next_;
  bool reverting_;
  size_t index_ = 0;
  bool restoreFailed_ = false;
};

}  // namespace quorvel
