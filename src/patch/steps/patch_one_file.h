#pragma once

#include <windows.h>

#include <cwchar>
#include <map>
#include <vector>

#include "foundation/name_key.h"
#include "foundation/shared_string.h"
#include "patch/steps/file_step.h"

namespace quorvel {

// Attempts PatchFiles makes before it gives up and reverts.
constexpr int kPatchAttempts = 5;

// Told about each step of PatchFile that changes a file, with full paths, just before it (the
// base class lets every step happen and tells nobody). A failure returned by OnStep stops the
// file there, with that result, before the step; a file already moved to its backup path by then
// is moved back first.
class PatchFileObserver {
 public:
  virtual ~PatchFileObserver() = default;
  // The step is about to move the file at from to to (a deletion: from and to the same).
  virtual HRESULT OnStep(const FileStep&, const SharedWString&, const SharedWString&) {
    return S_OK;
  }
  // A backup written earlier in this run stays as it is instead of being replaced.
  virtual void OnKeepingBackup(const SharedWString&) {}
  // After a failed copy-up, the target was put back from its backup (result of that copy).
  virtual void OnRestored(const SharedWString&, const SharedWString&, HRESULT) {}
  // What a copy is named until it is complete: the destination's name with this appended.
  virtual SharedWString PartialSuffix() const;
};

// Writes each step to the run log.
class LoggingPatchObserver : public PatchFileObserver {
 public:
  HRESULT OnStep(const FileStep& step, const SharedWString& from, const SharedWString& to) override;
  void OnKeepingBackup(const SharedWString& backup) override;
  void OnRestored(const SharedWString& backup, const SharedWString& target,
                  HRESULT result) override;
};

// The backup paths (full paths, compared ignoring case) that this run has written for files not
// applied yet, each with the listed name it was written for. Such a backup may be the only copy
// of the player's old file, so a retry never deletes or replaces it.
class BackupLedger {
 public:
  void Add(const SharedWString& fullPath, const SharedWString& name);
  bool Contains(const SharedWString& fullPath) const;
  // Drops the backup of a file that is applied: it is no longer kept for a retry.
  void Forget(const SharedWString& fullPath) { paths_.erase(fullPath); }
  // The listed names whose backups this run wrote.
  std::vector<SharedWString> Names() const;

 private:
  // Ordered, so that each file of a large patch costs a few comparisons, not one per file
  // already applied.
  std::map<SharedWString, SharedWString, NameLess> paths_;
};

class EmptiedFolders;

// Takes the steps of one file (kRunSteps, or kRevertSteps to undo them) on its places: clears the
// place the target is backed up to, moves (or copies) the target there, then moves (or copies)
// the source over the target and removes the emptied source folders. A name missing from the
// source folder deletes the target (after its backup) and its emptied folders. A copy-up that
// fails after the target was backed up puts the old file back at the target. Returns 0 or the
// HRESULT of the operation that failed. observer and ledger may be null. With emptied (which
// must list the name for the source folder) the emptied source folders go only when the last
// listed file has left them, not after each file; the places' held folders must be emptied's.
HRESULT PatchFile(NamePlaces& places, const FileSteps& steps, PatchFileObserver* observer,
                  BackupLedger* ledger = nullptr, EmptiedFolders* emptied = nullptr);

}  // namespace quorvel
