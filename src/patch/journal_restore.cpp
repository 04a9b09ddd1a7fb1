#include "patch/journal_restore.h"

#include "files/file_path.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "patch/patch_file.h"

namespace quorvel {
namespace {

HRESULT Failed(const FilePath& path, HRESULT result) {
  const DWORD code = static_cast<DWORD>(result) & 0xFFFF;
  RunLog::Write("Could not restore \"%ls\", HResult 0x%08x, error %d %ls\n",
                path.FullPath().Chars(), static_cast<unsigned>(result), static_cast<int>(code),
                SystemErrorText(code).Chars());
  return result;
}

// Moves from over a missing to, or copies it and deletes it.
HRESULT PutBack(FilePath& from, FilePath& to) {
  RunLog::Write("Restoring \"%ls\" to \"%ls\"\n", from.FullPath().Chars(), to.FullPath().Chars());
  if (SUCCEEDED(from.MoveTo(to))) {
    return S_OK;
  }
  if (FAILED(from.CopyTo(to, true)) || FAILED(from.Delete())) {
    return Failed(from, from.LastResult());
  }
  return S_OK;
}

HRESULT Discard(FilePath& path) {
  RunLog::Write("Removing \"%ls\", left by a copy that was cut short\n", path.FullPath().Chars());
  return FAILED(path.Delete()) ? Failed(path, path.LastResult()) : S_OK;
}

// Each move is recorded in the journal first, as a revert records its own, so that a restore
// that is itself cut short is finished by the next run.
HRESULT RestoreFile(const JournalContent& journal, size_t index, RunJournal& record) {
  const JournalFile& file = journal.files[index];
  const JournalStep step = file.lastStep;
  if (step == JournalStep::kNone || step == JournalStep::kReverted) {
    return S_OK;
  }
  FilePath target = PathIn(journal.applicationDirectory, file.name);
  FilePath backup = PathIn(journal.backupDirectory, file.name);
  FilePath source = PathIn(journal.patchDirectory, file.name);
  bool t = false;
  bool b = false;
  bool s = false;
  if (FAILED(target.Query(t))) {
    return Failed(target, target.LastResult());
  }
  if (FAILED(backup.Query(b))) {
    return Failed(backup, backup.LastResult());
  }
  if (FAILED(source.Query(s))) {
    return Failed(source, source.LastResult());
  }

  // Where the new file is: moved over the target, or still (or again) in the patch folder.
  // A file at the target that is neither version is what a copy cut short left there.
  const bool newAtTarget =
      file.sourceExisted && t &&
      (step == JournalStep::kApplied || step == JournalStep::kRevertingNew ||
       (step == JournalStep::kCopyingUp && !s));
  const bool partialAtTarget =
      !newAtTarget && t &&
      ((step == JournalStep::kCopyingUp && s && (b || !file.targetExisted)) ||
       (step == JournalStep::kRevertingOld && (b || !file.targetExisted)));
  if (newAtTarget) {
    record.Record(index, JournalStep::kRevertingNew);
    // A copy back to the patch folder that was cut short left only part of the file there.
    if (s && FAILED(Discard(source))) {
      return source.LastResult();
    }
    if (FAILED(PutBack(target, source))) {
      return target.LastResult();
    }
    t = false;
  } else if (partialAtTarget) {
    record.Record(index, JournalStep::kRevertingOld);
    if (FAILED(Discard(target))) {
      return target.LastResult();
    }
    t = false;
  }

  if (!t && file.targetExisted && b) {
    record.Record(index, JournalStep::kRevertingOld);
    if (FAILED(PutBack(backup, target))) {
      return backup.LastResult();
    }
    b = false;
  }
  // Folders that the run created for the file, or emptied of it, go.
  if (!t && !file.targetExisted) {
    target.RemoveWithEmptyParents(FilePath(journal.applicationDirectory));
  }
  if (!b) {
    backup.RemoveWithEmptyParents(FilePath(journal.backupDirectory));
  }
  record.Record(index, JournalStep::kReverted);
  return S_OK;
}

}  // namespace

HRESULT RestoreCutShortRun(const JournalContent& journal, const SharedWString& backupDirectory) {
  RunLog::Write("A run was cut short: restoring its %u files\n",
                static_cast<unsigned>(journal.files.size()));
  RunJournal record;
  HRESULT result = record.Reopen(backupDirectory);
  if (FAILED(result)) {
    return result;
  }
  for (size_t index = 0; index < journal.files.size(); ++index) {
    result = RestoreFile(journal, index, record);
    if (FAILED(result)) {
      return result;
    }
  }
  RunLog::Write("Restored the run that was cut short\n");
  return S_OK;
}

}  // namespace quorvel
