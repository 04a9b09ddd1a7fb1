#pragma once

#include <windows.h>

#include <cwchar>
#include <set>

#include "foundation/shared_string.h"

namespace quorvel {

// Told about each step of PatchFile that changes a file, with full paths.
class PatchFileObserver {
 public:
  virtual ~PatchFileObserver() = default;
  // Just before the target is moved or copied to its backup path.
  virtual void OnBackingUp(const SharedWString& from, const SharedWString& to) = 0;
  // Just before a target without a new file is deleted (its old file is backed up by then).
  virtual void OnRemovingTarget(const SharedWString& target) = 0;
  // Just before the new file is moved or copied over the target.
  virtual void OnCopyingUp(const SharedWString& from, const SharedWString& to) = 0;
  // A backup written earlier in this run stays as it is instead of being replaced.
  virtual void OnKeepingBackup(const SharedWString& backup) = 0;
  // After a failed copy-up, the target was put back from its backup (result of that copy).
  virtual void OnRestored(const SharedWString& backup, const SharedWString& target,
                          HRESULT result) = 0;
};

// Writes each step to the run log.
class LoggingPatchObserver : public PatchFileObserver {
 public:
  void OnBackingUp(const SharedWString& from, const SharedWString& to) override;
  void OnRemovingTarget(const SharedWString&) override {}
  void OnCopyingUp(const SharedWString& from, const SharedWString& to) override;
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
  struct IgnoringCase {
    bool operator()(const SharedWString& a, const SharedWString& b) const {
      return _wcsicmp(a.Chars(), b.Chars()) < 0;
    }
  };
  // Ordered, so that each file of a large patch costs a few comparisons, not one per file
  // already applied.
  std::set<SharedWString, IgnoringCase> paths_;
};

class FilePath;

// The file name inside directory, as every step of a patch builds its paths.
FilePath PathIn(const SharedWString& directory, const SharedWString& name);
// The directory itself, in a form whose full path is the directory even for a drive root such
// as D:\ (which alone would stand for the drive's current directory).
FilePath FolderPath(const SharedWString& directory);

// Puts the file name from sourceDirectory over targetDirectory, keeping what it replaces at
// backupDirectory: clears the backup path, moves (or copies) the target there, then moves (or
// copies) the source over the target and removes the emptied source folders. A name missing
// from sourceDirectory deletes the target (after its backup) and its emptied folders. A copy-up
// that fails after the target was backed up puts the old file back at the target. Returns 0 or
// the HRESULT of the operation that failed. observer and ledger may be null.
HRESULT PatchFile(const SharedWString& name, const SharedWString& sourceDirectory,
                  const SharedWString& targetDirectory, const SharedWString& backupDirectory,
                  PatchFileObserver* observer, BackupLedger* ledger = nullptr);

}  // namespace quorvel
