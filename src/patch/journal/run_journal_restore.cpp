// The restore of a run that was cut short: believed only where the disk agrees with the
// journal, and deleting only what is provably that run's own.
#include "files/file_path.h"
#include "files/folder_paths.h"
#include "files/real_path.h"
#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/name_key.h"
#include "foundation/run_log.h"
#include "patch/journal/journal_text.h"
#include "patch/journal/run_journal.h"

namespace quorvel {
namespace {

// One file of the journal as the disk holds it now. Each present file must be a version that
// the cut run knew at that path: the old file at the game or backup path, the new one at the
// game or patch path, or the backup of an earlier patch.
struct FileNow {
  FileNow(const JournalContent& journal, const JournalFile& file)
      : places(file.name, journal.patchDirectory, journal.applicationDirectory,
               journal.backupDirectory, nullptr),
        target(places.Path(FolderRole::kApplication)),
        backup(places.Path(FolderRole::kBackup)),
        source(places.Path(FolderRole::kPatch)) {
    const FileIdentity t = IdentityOf(target);
    const FileIdentity b = IdentityOf(backup);
    const FileIdentity s = IdentityOf(source);
    oldAtBackup = b.present && file.target.present && b == file.target;
    // When both versions look alike, the one at the game path counts as the old one only if
    // the backup does not hold it. Otherwise the old file may stand at both: copied to the
    // backup on another volume, cut short before the game's copy went.
    oldAtTarget = t.present && file.target.present && t == file.target &&
                  (!oldAtBackup || !(file.target == file.source));
    newAtTarget = t.present && file.source.present && t == file.source && !oldAtTarget;
    newAtSource = s.present && file.source.present && s == file.source;
    const bool earlierBackup = b.present && file.backup.present && b == file.backup;
    if (t.present && !oldAtTarget && !newAtTarget) {
      stranger = &target;
    } else if (b.present && !oldAtBackup && !earlierBackup) {
      stranger = &backup;
    } else if (s.present && !newAtSource) {
      stranger = &source;
    } else if (file.target.present && !oldAtTarget && !oldAtBackup) {
      missing = &target;
    } else if (file.source.present && !newAtTarget && !newAtSource) {
      missing = &source;
    }
  }

  NamePlaces places;
  FilePath& target;
  FilePath& backup;
  FilePath& source;
  bool oldAtTarget = false;
  bool oldAtBackup = false;
  bool newAtTarget = false;
  bool newAtSource = false;
  FilePath* stranger = nullptr;  // a file the journal cannot prove it knows
  FilePath* missing = nullptr;   // where a version the journal knows should be and is not
};

HRESULT Failed(const FilePath& path, HRESULT result) {
  QUORVEL_LOG_FAILED_RESULT(result, "Could not restore \"%ls\"", path.FullPath().Chars());
  return result;
}

// Takes step (a move, which undoes one of the cut run's) into the missing place it moves to,
// or copies the file into place and deletes it.
HRESULT PutBack(const FileStep& step, NamePlaces& places, const SharedWString& suffix) {
  FilePath& from = places.Path(step.From());
  RunLog::Write("Restoring \"%ls\" to \"%ls\"\n", from.FullPath().Chars(),
                places.Path(step.To()).FullPath().Chars());
  HRESULT hr = step.Do(places, suffix);
  if (hr == S_FALSE) {
    hr = from.Delete();
  }
  return FAILED(hr) ? Failed(from, hr) : S_OK;
}

// Deletes a copy whose original stands elsewhere, or a partial copy of the cut run.
HRESULT Discard(FilePath& path) {
  RunLog::Write("Removing \"%ls\", left by a copy that was cut short\n", path.FullPath().Chars());
  return FAILED(path.Delete()) ? Failed(path, path.LastResult()) : S_OK;
}

// Deletes the file of the journal's name in the folder of role, a copy whose original stands
// elsewhere.
HRESULT Discard(NamePlaces& places, FolderRole role) {
  FilePath& path = places.Path(role);
  RunLog::Write("Removing \"%ls\", left by a copy that was cut short\n", path.FullPath().Chars());
  const HRESULT hr = FileStep(JournalStep::kNone, role, role).Do(places, SharedWString());
  return FAILED(hr) ? Failed(path, hr) : S_OK;
}

HRESULT DiscardPartial(const FilePath& path, const SharedWString& suffix) {
  SharedWString name = path.Path();
  name.Append(suffix);
  FilePath partial(name);
  bool exists = false;
  if (FAILED(partial.Query(exists))) {
    return Failed(partial, partial.LastResult());
  }
  return exists ? Discard(partial) : S_OK;
}

// The folder below which the emptied folders on the way from directory to name may go: the
// deepest of the first existed folders on the way, which stood there before the cut run.
FilePath RemovalRoot(const SharedWString& directory, const SharedWString& name, uint32_t existed) {
  SharedWString root(directory);
  uint32_t folders = 0;
  ForEachFolderEnd(name, [&](uint32_t end) {
    if (++folders == existed) {
      root = PathIn(directory, name.Mid(0, end - 1)).Path();
    }
  });
  return FolderPath(root);
}

bool Touched(const JournalFile& file) {
  return file.lastStep != JournalStep::kNone && file.lastStep != JournalStep::kReverted;
}

// Where a file the journal records no step for, or records as put back, shows a step of the
// run that the journal does not hold (null when none shows). Every step is recorded before it is
// taken, so only a journal cut back to an earlier record by something other than the run gets
// here: the new file gone from the patch folder or standing in the game, or (before any revert)
// the old file in the backup. Such a file would otherwise be taken for one the patch deletes,
// and its backup for an old one to drop. Other changes (a newer download, a file the game
// rewrote) are not the run's and are left to the run that follows.
const FilePath* NotAsFound(const JournalFile& file, FileNow& now) {
  const FileIdentity target = IdentityOf(now.target);
  const FileIdentity backup = IdentityOf(now.backup);
  if (file.source.present && !IdentityOf(now.source).present) {
    return &now.source;
  }
  if (target.present && target == file.source && !(target == file.target)) {
    return &now.target;
  }
  const bool reverted = file.lastStep == JournalStep::kReverted;
  return !reverted && backup.present && backup == file.target && !(backup == file.backup)
             ? &now.backup
             : nullptr;
}

}  // namespace

HRESULT RunJournal::CheckAgreement(JournalContent& last, const PatchRun& run, const RunPlan& plan,
                                   RunRefusal& refusal) {
  const SharedWString journaledApplication = last.applicationDirectory;
  const struct {
    const char* what;
    const SharedWString& journal;
    uint64_t index;
    const PlanFolder& now;
  } folders[] = {
      {"patch", last.patchDirectory, last.patchIndex, plan.Folder(FolderRole::kPatch)},
      {"application", last.applicationDirectory, last.applicationIndex,
       plan.Folder(FolderRole::kApplication)},
      {"backup", last.backupDirectory, last.backupIndex, plan.Folder(FolderRole::kBackup)}};
  for (const auto& folder : folders) {
    if (!IsRunJournalFolder(folder.now, plan.Folder(FolderRole::kApplication), journaledApplication,
                            folder.journal, folder.index)) {
      const SharedWString& real = folder.now.real;
      RunLog::Write(
          "Refusing to patch: a run cut short left the run journal <%ls> for the %s "
          "folder <%ls>, and this run's is <%ls>; run its command to finish it\n",
          path_.Chars(), folder.what, folder.journal.Chars(), real.Chars());
      return kJournalDisagrees;
    }
  }
  // The folders are the journal's: they are reached, checked and restored by this run's ways to
  // them, whatever the journal's ways were then (a drive letter removed since).
  last.patchDirectory = plan.Folder(FolderRole::kPatch).given;
  last.applicationDirectory = plan.Folder(FolderRole::kApplication).given;
  last.backupDirectory = plan.Folder(FolderRole::kBackup).given;
  // The journal's names must pass the checks of a listed name, in this run's folders.
  PatchRun named;
  named.patchDirectory = run.patchDirectory;
  named.applicationDirectory = run.applicationDirectory;
  named.backupDirectory = run.backupDirectory;
  for (const JournalFile& file : last.files) {
    named.files.push_back(file.name);
  }
  RunRefusal check;
  RunPlan namedPlan;
  if (FAILED(CheckRun(named, check, namedPlan))) {
    refusal.name = check.name;
    return kJournalDisagrees;
  }
  for (const JournalFile& file : last.files) {
    FileNow now(last, file);
    if (!Touched(file)) {
      const FilePath* moved = NotAsFound(file, now);
      if (moved != nullptr) {
        RunLog::Write(
            "Refusing to patch: the run journal <%ls> cannot explain \"%ls\": <%ls> shows a "
            "step of that run that the journal does not record\n",
            path_.Chars(), file.name.Chars(), moved->FullPath().Chars());
        refusal.name = file.name;
        return kJournalDisagrees;
      }
      continue;
    }
    if (now.stranger != nullptr || now.missing != nullptr) {
      RunLog::Write("Refusing to patch: the run journal <%ls> cannot explain \"%ls\": %ls\n",
                    path_.Chars(), file.name.Chars(),
                    (now.stranger != nullptr
                         ? Formatted(L"<%ls> is not a version that run knew",
                                     now.stranger->FullPath().Chars())
                         : Formatted(L"<%ls> is missing", now.missing->FullPath().Chars()))
                        .Chars());
      refusal.name = file.name;
      return kJournalDisagrees;
    }
  }
  return S_OK;
}

HRESULT RunJournal::Restore(const JournalContent& last, RunRefusal& refusal,
                            RunProgress& progress) {
  RunLog::Write("A run was cut short: restoring its %u files\n",
                static_cast<unsigned>(last.files.size()));
  partialSuffix_ = L".~qv";
  partialSuffix_.Append(last.token);
  HRESULT hr = OpenForRecords(last.wholeBytes);
  if (FAILED(hr)) {
    return Failed(FilePath(path_), hr);
  }
  size_t touched = 0;
  for (const JournalFile& file : last.files) {
    touched += Touched(file) ? 1 : 0;
  }
  for (size_t index = 0, number = 0; index < last.files.size(); ++index) {
    const JournalFile& file = last.files[index];
    if (!Touched(file)) {
      continue;
    }
    progress.RestoringFile(++number, touched, file.name);
    refusal.name = file.name;
    FileNow now(last, file);
    for (const FilePath* path : {&now.target, &now.backup, &now.source}) {
      if (FAILED(hr = DiscardPartial(*path, partialSuffix_))) {
        return hr;
      }
    }
    bool targetEmpty = !now.oldAtTarget && !now.newAtTarget;
    if (now.newAtTarget) {
      if (FAILED(hr = Record(index, JournalStep::kRevertingNew)) ||
          FAILED(hr = now.newAtSource
                          ? Discard(now.places, FolderRole::kApplication)
                          : PutBack(kRunSteps.copyUp.Undone(), now.places, partialSuffix_))) {
        return hr;
      }
      targetEmpty = true;
    }
    if (file.target.present && targetEmpty) {
      if (FAILED(hr = Record(index, JournalStep::kRevertingOld)) ||
          FAILED(hr = PutBack(kRunSteps.backUp.Undone(), now.places, partialSuffix_))) {
        return hr;
      }
    } else if (now.oldAtTarget && now.oldAtBackup) {
      if (FAILED(hr = Record(index, JournalStep::kRevertingOld)) ||
          FAILED(hr = Discard(now.places, FolderRole::kBackup))) {
        return hr;
      }
    }
    // Folders that the run created for the file, or emptied of it, go.
    if (!file.target.present && !now.target.Exists()) {
      now.target.RemoveWithEmptyParents(
          RemovalRoot(last.applicationDirectory, file.name, file.gameFoldersExisted));
    }
    if (!now.backup.Exists()) {
      now.backup.RemoveWithEmptyParents(
          RemovalRoot(last.backupDirectory, file.name, file.backupFoldersExisted));
    }
    if (FAILED(hr = Record(index, JournalStep::kReverted))) {
      return hr;
    }
  }
  refusal.name = SharedWString();
  if (FAILED(hr = Finish(E_ABORT))) {
    return hr;
  }
  RunLog::Write("Restored the run that was cut short\n");
  return S_OK;
}

}  // namespace quorvel
