#pragma once

#include <windows.h>

#include <cwchar>
#include <set>

#include "foundation/name_key.h"
#include "foundation/shared_string.h"

namespace quorvel {

// Attempts PatchFiles makes before it gives up and reverts.
constexpr int kPatchAttempts = 5;

// Told about each step of PatchFile that changes a file, with full paths, just before it (the
// base class lets every step happen and tells nobody). A failure returned by any of the On...ing
// calls stops the file there, with that result, before the step; a file already moved to its
// backup path by that call is moved back first.
class PatchFileObserver {
 public:
  virtual ~PatchFileObserver() = default;
  // A backup left at the backup path by an earlier patch is deleted.
  virtual HRESULT OnClearingBackup(const SharedWString&) { return S_OK; }
  // The target is moved or copied to its backup path.
  virtual HRESULT OnBackingUp(const SharedWString&, const SharedWString&) { return S_OK; }
  // A target without a new file is deleted (its old file is backed up by then).
  virtual HRESULT OnRemovingTarget(const SharedWString&) { return S_OK; }
  // The new file is moved or copied over the target.
  virtual HRESULT OnCopyingUp(const SharedWString&, const SharedWString&) { return S_OK; }
  // After a failed copy-up, the backup is copied back over the target.
  virtual HRESULT OnPuttingBack(const SharedWString&, const SharedWString&) { return S_OK; }
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
  HRESULT OnBackingUp(const SharedWString& from, const SharedWString& to) override;
  HRESULT OnCopyingUp(const SharedWString& from, const SharedWString& to) override;
  void OnKeepingBackup(const SharedWString& backup) override;
  void OnRestored(const SharedWString& backup, const SharedWString& target,
                  HRESULT result) override;
};

// The backup paths (full paths, compared ignoring case) that this run has written. Such a
// backup may be the only copy of the player's old file, so a retry never deletes or replaces it.
class BackupLedger {
 public:
  void Add(const SharedWString& fullPath);
  bool Contains(const SharedWString& fullPath) const;

 private:
  // Ordered, so that each file of a large patch costs a few comparisons, not one per file
  // already applied.
  std::set<SharedWString, NameLess> paths_;
};

class EmptiedFolders;
class FilePath;

// Copies from to a partial name beside to (to with suffix appended), then renames that over to
// (replacing a file there only with replace): a copy cut short is never found at to. Returns 0
// or the error, with the partial copy removed.
HRESULT CopyIntoPlace(FilePath& from, const FilePath& to, bool replace,
                      const SharedWString& suffix);

// Puts the file name from sourceDirectory over targetDirectory, keeping what it replaces at
// backupDirectory: clears the backup path, moves (or copies) the target there, then moves (or
// copies) the source over the target and removes the emptied source folders. A name missing
// from sourceDirectory deletes the target (after its backup) and its emptied folders. A copy-up
// that fails after the target was backed up puts the old file back at the target. Returns 0 or
// the HRESULT of the operation that failed. observer and ledger may be null. With emptied (which
// must list name for sourceDirectory) the emptied source folders go only when the last listed
// file has left them, not after each file.
HRESULT PatchFile(const SharedWString& name, const SharedWString& sourceDirectory,
                  const SharedWString& targetDirectory, const SharedWString& backupDirectory,
                  PatchFileObserver* observer, BackupLedger* ledger = nullptr,
                  EmptiedFolders* emptied = nullptr);

}  // namespace quorvel
