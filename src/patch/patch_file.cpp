#include "patch/patch_file.h"

#include <cwchar>

#include "files/file_path.h"
#include "foundation/format.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"

namespace quorvel {

void LoggingPatchObserver::OnBackingUp(const SharedWString& from, const SharedWString& to) {
  RunLog::Write("Backing up \"%ls\" to \"%ls\"\n", from.Chars(), to.Chars());
}

void LoggingPatchObserver::OnCopyingUp(const SharedWString& from, const SharedWString& to) {
  RunLog::Write("Copying up \"%ls\" to \"%ls\"\n", from.Chars(), to.Chars());
}

void LoggingPatchObserver::OnKeepingBackup(const SharedWString& backup) {
  RunLog::Write("Keeping \"%ls\", backed up earlier in this run\n", backup.Chars());
}

void LoggingPatchObserver::OnRestored(const SharedWString& backup, const SharedWString& target,
                                      HRESULT result) {
  if (SUCCEEDED(result)) {
    RunLog::Write("Restored \"%ls\" from \"%ls\"\n", target.Chars(), backup.Chars());
    return;
  }
  const DWORD code = static_cast<DWORD>(result) & 0xFFFF;
  RunLog::Write("Could not restore \"%ls\" from \"%ls\", HResult 0x%08x, error %d %ls\n",
                target.Chars(), backup.Chars(), static_cast<unsigned>(result),
                static_cast<int>(code), SystemErrorText(code).Chars());
}

void BackupLedger::Add(const SharedWString& fullPath) {
  if (!fullPath.IsEmpty()) {
    paths_.insert(fullPath);
  }
}

bool BackupLedger::Contains(const SharedWString& fullPath) const {
  return paths_.count(fullPath) != 0;
}

FilePath PathIn(const SharedWString& directory, const SharedWString& name) {
  // Joined before normalising: a folder given as D:\ would otherwise become the drive-relative
  // D: and the name would land in that drive's current directory.
  SharedWString path(directory);
  JoinPath(path, name);
  return FilePath(path);
}

FilePath FolderPath(const SharedWString& directory) {
  // A \\?\ path takes "." literally, and needs no help with a drive root.
  if (wcsncmp(directory.Chars(), L"\\\\?\\", 4) == 0) {
    return FilePath(directory);
  }
  return PathIn(directory, L".");
}

HRESULT PatchFile(const SharedWString& name, const SharedWString& sourceDirectory,
                  const SharedWString& targetDirectory, const SharedWString& backupDirectory,
                  PatchFileObserver* observer, BackupLedger* ledger) {
  FilePath target = PathIn(targetDirectory, name);
  FilePath backup = PathIn(backupDirectory, name);
  FilePath source = PathIn(sourceDirectory, name);

  // Only a path that is not there counts as absent. Any other failed query (a bad name, no
  // access) fails the file: taking it for absent would delete the game file as if the patch
  // had dropped it, or overwrite it without a backup.
  bool backupExists = false;
  bool targetExists = false;
  bool sourceExists = false;
  HRESULT queried = backup.Query(backupExists);
  if (SUCCEEDED(queried)) {
    queried = target.Query(targetExists);
  }
  if (SUCCEEDED(queried)) {
    queried = source.Query(sourceExists);
  }
  if (FAILED(queried)) {
    return queried;
  }

  // A backup that an earlier attempt of this run wrote holds the old file: keep it, and do not
  // back up again what now stands at the target.
  const bool keptBackup =
      ledger != nullptr && backupExists && ledger->Contains(backup.FullPath());
  if (keptBackup) {
    if (observer != nullptr) {
      observer->OnKeepingBackup(backup.FullPath());
    }
  } else if (backupExists) {
    // A stale read-only backup would otherwise block every later patch of this file.
    if (FAILED(backup.ClearReadOnly()) || FAILED(backup.Delete())) {
      return backup.LastResult();
    }
  }

  bool backedUp = keptBackup;
  if (!keptBackup && targetExists) {
    if (observer != nullptr) {
      observer->OnBackingUp(target.FullPath(), backup.FullPath());
    }
    if (FAILED(target.MoveTo(backup)) && FAILED(target.CopyTo(backup, true))) {
      return target.LastResult();
    }
    backedUp = true;
    if (ledger != nullptr) {
      ledger->Add(backup.FullPath());
    }
  }

  if (!sourceExists) {
    if (observer != nullptr) {
      observer->OnRemovingTarget(target.FullPath());
    }
    if (FAILED(target.RemoveWithEmptyParents(FilePath(targetDirectory)))) {
      return target.LastResult();
    }
  } else {
    if (observer != nullptr) {
      observer->OnCopyingUp(source.FullPath(), target.FullPath());
    }
    if (FAILED(source.MoveTo(target)) && FAILED(source.CopyTo(target, false))) {
      const HRESULT failure = source.LastResult();
      // Without this the player's file would stay only in the backup folder, and the file
      // that failed is not part of a later revert. A failed overwriting copy may also have
      // left the target damaged, so a kept backup is copied back as well.
      if (backedUp) {
        const HRESULT restored = backup.CopyTo(target, false);
        if (observer != nullptr) {
          observer->OnRestored(backup.FullPath(), target.FullPath(), restored);
        }
      }
      return failure;
    }
  }

  source.RemoveWithEmptyParents(FilePath(sourceDirectory));
  return S_OK;
}

}  // namespace quorvel
