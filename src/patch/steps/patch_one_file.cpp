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

HRESULT LoggingPatchObserver::OnStep(const FileStep& step, const SharedWString& from,
                                     const SharedWString& to) {
  if (step.Record() == JournalStep::kBackingUp) {
    RunLog::Write("Backing up \"%ls\" to \"%ls\"\n", from.Chars(), to.Chars());
  } else if (step.Record() == JournalStep::kCopyingUp) {
    RunLog::Write("Copying up \"%ls\" to \"%ls\"\n", from.Chars(), to.Chars());
  }
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

void BackupLedger::Add(const SharedWString& fullPath, const SharedWString& name) {
  if (!fullPath.IsEmpty()) {
    paths_.emplace(fullPath, name);
  }
}

std::vector<SharedWString> BackupLedger::Names() const {
  std::vector<SharedWString> names;
  for (const auto& path : paths_) {
    names.push_back(path.second);
  }
  return names;
}

bool BackupLedger::Contains(const SharedWString& fullPath) const {
  return paths_.count(fullPath) != 0;
}

namespace {

// Whether the file of name in the folder of role exists: opened and checked inside its held
// folder when there is one (file then open), else queried by its path, and then checked as held
// folders check it. A name the run expects no file at (an old backup) is queried first, which
// costs less than an open that finds nothing; a name the open does not find is queried too.
// Returns 0 or the failed query's result, or E_INVALIDARG for a refused file.
HRESULT Look(NamePlaces& places, FolderRole role, bool expected, bool& exists) {
  exists = false;
  HeldFolders* held = places.Held();
  RelativeFile& file = places.File(role);
  const bool countNames = !expected;  // a file the run deletes: its other names would feel it
  if (held != nullptr && expected) {
    const HRESULT opened = held->OpenChecked(role, places.Name(), countNames, false, file);
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
  const HRESULT queried = places.Path(role).Query(exists);
  if (FAILED(queried) || !exists || held == nullptr) {
    return queried;
  }
  const HRESULT checked = held->OpenChecked(role, places.Name(), countNames, true, file);
  return FAILED(checked) ? checked : S_OK;
}

}  // namespace

HRESULT PatchFile(NamePlaces& places, const FileSteps& steps, PatchFileObserver* observer,
                  BackupLedger* ledger, EmptiedFolders* emptied) {
  const FolderRole sourceRole = steps.copyUp.From();
  const FolderRole targetRole = steps.copyUp.To();
  const FolderRole backupRole = steps.backUp.To();
  const SharedWString& name = places.Name();
  FilePath& target = places.Path(targetRole);
  FilePath& source = places.Path(sourceRole);

  // With held folders, each file that a step moves or deletes is opened inside its held folder
  // and checked on that handle before any step of this file, and the steps act on those handles.
  // Only a path that is not there counts as absent. Any other failed query (a bad name, no
  // access) fails the file: taking it for absent would delete the game file as if the patch
  // had dropped it, or overwrite it without a backup.
  HeldFolders* held = places.Held();
  if (held != nullptr) {
    held->ReleasePassing();  // the last file's moves are done
  }
  bool backupExists = false;
  bool targetExists = false;
  bool sourceExists = false;
  HRESULT queried = Look(places, backupRole, false, backupExists);
  if (SUCCEEDED(queried)) {
    queried = Look(places, targetRole, true, targetExists);
  }
  if (SUCCEEDED(queried)) {
    queried = Look(places, sourceRole, true, sourceExists);
  }
  if (FAILED(queried)) {
    return queried;
  }
  const SharedWString& targetFull = places.Full(targetRole);
  const SharedWString& backupFull = places.Full(backupRole);
  const SharedWString& sourceFull = places.Full(sourceRole);

  // A backup that an earlier attempt of this run wrote holds the old file: keep it, and do not
  // back up again what now stands at the target.
  const bool keptBackup = ledger != nullptr && backupExists && ledger->Contains(backupFull);
  if (keptBackup) {
    // Both stay; the new file replaces the target by path.
    places.File(backupRole).Close(), places.File(targetRole).Close();
  }
  PatchFileObserver plain;
  PatchFileObserver& told = observer != nullptr ? *observer : plain;
  const SharedWString suffix = told.PartialSuffix();
  HRESULT hr = S_OK;
  if (keptBackup) {
    told.OnKeepingBackup(backupFull);
  } else if (backupExists) {
    if (FAILED(hr = told.OnStep(steps.clear, backupFull, backupFull)) ||
        FAILED(hr = steps.clear.Do(places, suffix))) {
      return hr;
    }
  }

  // Each folder a move passes through is checked and held just before it, made ones included;
  // those held past the cap only for that move.
  const auto useWays = [&](FolderRole from, FolderRole to) {
    const HRESULT used = held->UseWay(from, name);
    return FAILED(used) ? used : held->UseWay(to, name);
  };
  bool backedUp = keptBackup;
  bool backupMoved = false;  // the old file left the target for the backup
  if (!keptBackup && targetExists) {
    if (FAILED(hr = told.OnStep(steps.backUp, targetFull, backupFull)) ||
        (held != nullptr && FAILED(hr = useWays(targetRole, backupRole))) ||
        FAILED(hr = steps.backUp.Do(places, suffix))) {
      return hr;
    }
    backupMoved = hr == S_OK;
    backedUp = true;
    if (ledger != nullptr) {
      ledger->Add(backupFull, name);
    }
  }

  // A step that the observer stops (its record could not be written) leaves the old file where
  // this call found it: moved straight back, which the journal's last record still explains.
  const auto undoBackup = [&](HRESULT stopped) {
    if (backedUp && !keptBackup) {
      steps.backUp.Undone().Do(places, suffix);
    }
    return stopped;
  };
  bool sourceMoved = false;
  if (!sourceExists) {
    if (FAILED(hr = told.OnStep(steps.remove, targetFull, targetFull))) {
      return undoBackup(hr);
    }
    const FilePath root(FolderPath(
        emptied != nullptr ? emptied->RemovalRoot(places.Directory(targetRole), targetRole, name)
                           : places.Directory(targetRole)));
    if (held != nullptr) {
      // Each emptied folder through the held folders, which remove only the folder they held:
      // under Wine a folder swapped for a link since would be removed where the link leads.
      bool present = false;
      if (FAILED(target.Query(present)) || (present && FAILED(target.Delete()))) {
        return target.LastResult();
      }
      const SharedWString rootFull = root.FullPath();
      SharedWString folder = DirectoryPart(targetFull);
      NormalizePath(folder);
      while (folder.Length() > rootFull.Length() && StartsWithName(folder, rootFull) &&
             held->RemoveEmptied(folder)) {
        SharedWString parent = DirectoryPart(folder);
        NormalizePath(parent);
        folder = parent;
      }
    } else if (FAILED(target.RemoveWithEmptyParents(root))) {
      return target.LastResult();
    }
  } else {
    if (FAILED(hr = told.OnStep(steps.copyUp, sourceFull, targetFull))) {
      return undoBackup(hr);
    }
    // A way that strayed is not used to put the old file back either: it stays in the backup
    // folder, and the journal, left unfinished, has the next run put it back.
    if (held != nullptr && FAILED(hr = useWays(sourceRole, targetRole))) {
      return hr;
    }
    hr = steps.copyUp.Do(places, suffix, FileStep::kReplaceByCopy);
    sourceMoved = hr == S_OK;
    if (FAILED(hr)) {
      // Without this the player's file would stay only in the backup folder, and the file
      // that failed is not part of a later revert. The backup stays for the next attempt, so it
      // is copied back; when there is no room for the copy, the backup moved here goes back by
      // a move, which needs none, and the next attempt backs it up again. Not through a way that
      // was swapped: the journal, left unfinished, has the next run put it back.
      if (backedUp && (held == nullptr || held->StillAtItsPath(targetRole, name))) {
        HRESULT restored = told.OnStep(steps.putBack, backupFull, targetFull);
        if (SUCCEEDED(restored)) {
          restored = steps.putBack.Do(places, suffix, FileStep::kCopyOnly);
          if (FAILED(restored) && backupMoved && SUCCEEDED(steps.putBack.Do(places, suffix))) {
            restored = S_OK;
          }
        }
        told.OnRestored(backupFull, targetFull, restored);
      }
      return hr;
    }
  }

  if (emptied == nullptr) {
    source.RemoveWithEmptyParents(FolderPath(places.Directory(sourceRole)));
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
