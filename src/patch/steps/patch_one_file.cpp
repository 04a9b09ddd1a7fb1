#include "patch/steps/patch_one_file.h"

#include "files/file_path.h"
#include "files/folder_paths.h"
#include "files/relative_file.h"
#include "foundation/failure_line.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "patch/steps/emptied_folders.h"
#include "patch/steps/held_folders.h"

namespace quorvel {

SharedWString PatchFileObserver::PartialSuffix() const { return L".~qv"; }

HRESULT LoggingPatchObserver::OnBackingUp(const SharedWString& from, const SharedWString& to) {
  RunLog::Write("Backing up \"%ls\" to \"%ls\"\n", from.Chars(), to.Chars());
  return S_OK;
}

HRESULT LoggingPatchObserver::OnCopyingUp(const SharedWString& from, const SharedWString& to) {
  RunLog::Write("Copying up \"%ls\" to \"%ls\"\n", from.Chars(), to.Chars());
  return S_OK;
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
  QUORVEL_LOG_FAILED_RESULT(result, "Could not restore \"%ls\" from \"%ls\"", target.Chars(),
                            backup.Chars());
}

void BackupLedger::Add(const SharedWString& fullPath) {
  if (!fullPath.IsEmpty()) {
    paths_.insert(fullPath);
  }
}

bool BackupLedger::Contains(const SharedWString& fullPath) const {
  return paths_.count(fullPath) != 0;
}

HRESULT CopyIntoPlace(FilePath& from, const FilePath& to, bool replace,
                      const SharedWString& suffix) {
  SharedWString partialPath = to.Path();
  partialPath.Append(suffix);
  FilePath partial(partialPath);
  if (FAILED(from.CopyTo(partial, true))) {
    // A copy that failed part-way (a full disk) leaves what it wrote; a name that was already
    // taken is not this copy's to delete.
    if (from.LastResult() != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) {
      DeleteFileW(LongPathForm(partial.FullPath()).Chars());
    }
    return from.LastResult();
  }
  const SharedWString full = LongPathForm(partial.FullPath());
  if (!MoveFileExW(full.Chars(), LongPathForm(to.FullPath()).Chars(),
                   replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    const HRESULT result = FailureResult(GetLastError());
    DeleteFileW(full.Chars());
    return result;
  }
  return S_OK;
}

namespace {

// Moves from to to by the full paths already built when the move needs nothing prepared;
// otherwise as FilePath::MoveTo does, which finds what the direct move did not (a missing
// folder above to, a folder at to) and creates the folders above to. True in moved when the
// direct move did it.
HRESULT MoveByFullPaths(FilePath& from, const SharedWString& fromFull, const FilePath& to,
                        const SharedWString& toFull, bool& moved) {
  // Never a copy: to another volume the caller copies under a partial name (CopyIntoPlace).
  moved = !fromFull.IsEmpty() && !toFull.IsEmpty() &&
          MoveFileExW(LongPathForm(fromFull).Chars(), LongPathForm(toFull).Chars(), 0);
  return moved ? S_OK : from.MoveTo(to);
}

// Moves file, opened and checked inside its held folder, into the held folder that is to hold
// the file of name in toDirectory; false when it is not there or the move fails, the file then
// closed so that the move by path can take over and meet whatever stopped this one.
bool MoveByHandle(RelativeFile& file, HeldFolders* held, const SharedWString& toDirectory,
                  const SharedWString& name) {
  if (file.Get() == INVALID_HANDLE_VALUE) {
    return false;
  }
  HANDLE folder = held->FolderOf(toDirectory, name);
  SharedWString leaf(name);
  FileNamePart(leaf);
  const bool moved = folder != nullptr && SUCCEEDED(file.MoveInto(folder, leaf, false));
  file.Close();
  return moved;
}

// Whether the file of name in directory exists: opened and checked inside its held folder when
// there is one (file then open), else queried by its path, and then checked as held folders
// check it. A name the run expects no file at (an old backup) is queried first, which costs
// less than an open that finds nothing; a name the open does not find is queried too. Returns 0 or
// the failed query's result, or E_INVALIDARG for a refused file.
HRESULT Look(HeldFolders* held, const SharedWString& directory, const SharedWString& name,
             bool expected, FilePath& path, bool& exists, RelativeFile& file) {
  exists = false;
  const bool countNames = !expected;  // a file the run deletes: its other names would feel it
  if (held != nullptr && expected) {
    const HRESULT opened = held->OpenChecked(directory, name, countNames, false, file);
    if (opened == S_OK) {
      exists = true;
      return S_OK;
    }
    // Only the path can tell that a file is absent: under Wine a held folder that a program
    // outside Windows' rules removed answers for every name that it is not there, though the
    // folder made again at its path may hold the file.
    if (FAILED(opened) && held->Refused()) {
      return opened;
    }
  }
  const HRESULT queried = path.Query(exists);
  if (FAILED(queried) || !exists || held == nullptr) {
    return queried;
  }
  const HRESULT checked = held->OpenChecked(directory, name, countNames, true, file);
  return FAILED(checked) ? checked : S_OK;
}

}  // namespace

HRESULT PatchFile(const SharedWString& name, const SharedWString& sourceDirectory,
                  const SharedWString& targetDirectory, const SharedWString& backupDirectory,
                  PatchFileObserver* observer, BackupLedger* ledger, EmptiedFolders* emptied) {
  FilePath target = PathIn(targetDirectory, name);
  FilePath backup = PathIn(backupDirectory, name);
  FilePath source = PathIn(sourceDirectory, name);

  // With held folders, each file that a step moves or deletes is opened inside its held folder
  // and checked on that handle before any step of this file, and the steps act on those handles.
  // Only a path that is not there counts as absent. Any other failed query (a bad name, no
  // access) fails the file: taking it for absent would delete the game file as if the patch
  // had dropped it, or overwrite it without a backup.
  HeldFolders* held = emptied != nullptr ? emptied->Held() : nullptr;
  if (held != nullptr) {
    held->ReleasePassing();  // the last file's moves are done
  }
  RelativeFile oldBackup, oldTarget, newSource;
  bool backupExists = false;
  bool targetExists = false;
  bool sourceExists = false;
  HRESULT queried = Look(held, backupDirectory, name, false, backup, backupExists, oldBackup);
  if (SUCCEEDED(queried)) {
    queried = Look(held, targetDirectory, name, true, target, targetExists, oldTarget);
  }
  if (SUCCEEDED(queried)) {
    queried = Look(held, sourceDirectory, name, true, source, sourceExists, newSource);
  }
  if (FAILED(queried)) {
    return queried;
  }
  // Each full path once: every step below names the same three files.
  const SharedWString targetFull = target.FullPath();
  const SharedWString backupFull = backup.FullPath();
  const SharedWString sourceFull = source.FullPath();

  // A backup that an earlier attempt of this run wrote holds the old file: keep it, and do not
  // back up again what now stands at the target.
  const bool keptBackup = ledger != nullptr && backupExists && ledger->Contains(backupFull);
  if (keptBackup) {
    oldBackup.Close(), oldTarget.Close();  // both stay; the new file replaces the target by path
  }
  PatchFileObserver plain;
  PatchFileObserver& told = observer != nullptr ? *observer : plain;
  const SharedWString suffix = told.PartialSuffix();
  HRESULT hr = S_OK;
  if (keptBackup) {
    told.OnKeepingBackup(backupFull);
  } else if (backupExists) {
    if (FAILED(hr = told.OnClearingBackup(backupFull))) {
      return hr;
    }
    // A stale read-only backup would otherwise block every later patch of this file.
    if (oldBackup.Get() == INVALID_HANDLE_VALUE || FAILED(oldBackup.Delete())) {
      oldBackup.Close();
      bool present = false;  // and the attributes to clear the flag from
      if (FAILED(backup.Query(present)) || FAILED(backup.ClearReadOnly()) ||
          FAILED(backup.Delete())) {
        return backup.LastResult();
      }
    }
  }

  // Each folder a move passes through is checked and held just before it, made ones included;
  // those held past the cap only for that move.
  const auto useWays = [&](const SharedWString& from, const SharedWString& to) {
    const HRESULT used = held->UseWay(from, name);
    return FAILED(used) ? used : held->UseWay(to, name);
  };
  bool backedUp = keptBackup;
  bool backupMoved = false;  // the old file left the target for the backup
  if (!keptBackup && targetExists) {
    if (FAILED(hr = told.OnBackingUp(targetFull, backupFull)) ||
        (held != nullptr && FAILED(hr = useWays(targetDirectory, backupDirectory)))) {
      return hr;
    }
    bool moved = MoveByHandle(oldTarget, held, backupDirectory, name);
    backupMoved =
        moved || SUCCEEDED(MoveByFullPaths(target, targetFull, backup, backupFull, moved));
    if (!backupMoved && FAILED(hr = CopyIntoPlace(target, backup, false, suffix))) {
      return hr;
    }
    backedUp = true;
    if (ledger != nullptr) {
      ledger->Add(backupFull);
    }
  }

  // A step that the observer stops (its record could not be written) leaves the old file where
  // this call found it: moved straight back, which the journal's last record still explains.
  const auto undoBackup = [&](HRESULT stopped) {
    if (backedUp && !keptBackup && FAILED(backup.MoveTo(target))) {
      CopyIntoPlace(backup, target, false, suffix);
    }
    return stopped;
  };
  bool sourceMoved = false;
  if (!sourceExists) {
    if (FAILED(hr = told.OnRemovingTarget(targetFull))) {
      return undoBackup(hr);
    }
    if (emptied != nullptr) {
      emptied->LetGoOfWay(targetDirectory, name);
    }
    const HRESULT removed = target.RemoveWithEmptyParents(FolderPath(
        emptied != nullptr ? emptied->RemovalRoot(targetDirectory, name) : targetDirectory));
    if (emptied != nullptr) {
      emptied->LetGoOfWay(targetDirectory, name, true);
    }
    if (FAILED(removed)) {
      return target.LastResult();
    }
  } else {
    if (FAILED(hr = told.OnCopyingUp(sourceFull, targetFull))) {
      return undoBackup(hr);
    }
    // A way that strayed is not used to put the old file back either: it stays in the backup
    // folder, and the journal, left unfinished, has the next run put it back.
    if (held != nullptr && FAILED(hr = useWays(sourceDirectory, targetDirectory))) {
      return hr;
    }
    sourceMoved = MoveByHandle(newSource, held, targetDirectory, name);
    if (!sourceMoved &&
        FAILED(MoveByFullPaths(source, sourceFull, target, targetFull, sourceMoved)) &&
        FAILED(hr = CopyIntoPlace(source, target, true, suffix))) {
      // Without this the player's file would stay only in the backup folder, and the file
      // that failed is not part of a later revert. The backup stays for the next attempt, so it
      // is copied back; when there is no room for the copy, the backup moved here goes back by
      // a move, which needs none, and the next attempt backs it up again.
      if (backedUp) {
        HRESULT restored = told.OnPuttingBack(backupFull, targetFull);
        if (SUCCEEDED(restored)) {
          restored = CopyIntoPlace(backup, target, true, suffix);
          if (FAILED(restored) && backupMoved && SUCCEEDED(backup.MoveTo(target))) {
            restored = S_OK;
          }
        }
        told.OnRestored(backupFull, targetFull, restored);
      }
      return hr;
    }
  }

  if (emptied == nullptr) {
    source.RemoveWithEmptyParents(FolderPath(sourceDirectory));
    return S_OK;
  }
  // A source that was copied rather than moved still has to go (one that a prepared move took
  // into a folder it made is gone already); the folders it leaves go when the last listed file
  // has left them.
  if (sourceExists && !sourceMoved && FAILED(source.Delete()) && !IsNotFound(source.LastResult())) {
    QUORVEL_LOG_FAILED_RESULT(source.LastResult(), "Could not remove \"%ls\", copied up",
                              sourceFull.Chars());
  }
  emptied->Left(name);
  return S_OK;
}

}  // namespace quorvel
