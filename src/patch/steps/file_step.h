#pragma once

#include <windows.h>

#include "files/file_path.h"
#include "files/relative_file.h"
#include "foundation/shared_string.h"
#include "patch/checks/run_plan.h"

namespace quorvel {

class HeldFolders;

// What a run records just before each step that changes a file.
enum class JournalStep : wchar_t {
  kNone = L'-',
  kClearingBackup = L'x',  // a backup left by an earlier patch is deleted
  kBackingUp = L'b',       // the old file goes to the backup folder
  kRemoving = L'd',        // the old file is backed up; the file goes from the game
  kCopyingUp = L'c',       // the old file is backed up; the new one goes over the target
  kPuttingBack = L'p',     // a failed copy-up: the backup is copied back over the target
  kApplied = L'a',         // the file is patched
  kRevertingNew = L'n',    // the new file goes back to the patch folder
  kRevertingOld = L'o',    // the old file goes back from the backup folder
  kReverted = L'r',        // the file is as before the run
};

// One listed name's places in the run's folders, by role: each as a path with its full path,
// built once, and the file standing there once a step has opened it inside its held folder.
class NamePlaces {
 public:
  // The run's folders as given; held: the run's held folders, or null.
  NamePlaces(const SharedWString& name, const SharedWString& patch,
             const SharedWString& application, const SharedWString& backup, HeldFolders* held);
  // The planned name in the plan's folders.
  NamePlaces(const RunPlan& plan, const PlannedName& name, HeldFolders* held);
  NamePlaces(const NamePlaces&) = delete;
  NamePlaces& operator=(const NamePlaces&) = delete;

  const SharedWString& Name() const { return name_; }
  HeldFolders* Held() const { return held_; }
  const SharedWString& Directory(FolderRole role) const { return At(role).directory; }
  FilePath& Path(FolderRole role) { return At(role).path; }
  const SharedWString& Full(FolderRole role) const { return At(role).full; }
  RelativeFile& File(FolderRole role) { return At(role).file; }

 private:
  struct Place {
    SharedWString directory;
    FilePath path;
    SharedWString full;
    RelativeFile file;
  };
  Place& At(FolderRole role) { return places_[static_cast<size_t>(role)]; }
  const Place& At(FolderRole role) const { return places_[static_cast<size_t>(role)]; }

  SharedWString name_;
  HeldFolders* held_;
  Place places_[kRunFolderCount];
};

// One step of a listed name's file: its move from one of the run's folders to another, or its
// deletion in one (from and to the same). Each names the record the journal writes just before
// it, and the record of the step that undoes it, which is the same move the other way: the run,
// its revert and the restore of a run cut short each take and undo their steps through it.
class FileStep {
 public:
  // How Do moves the file.
  enum Way : unsigned {
    kMove = 0,           // by its handle, else by its path, else (another volume) by a copy
    kReplaceByCopy = 1,  // as kMove, and a copy may replace a file at the destination
    kCopyOnly = 2,       // only a copy, which leaves the source
  };

  constexpr FileStep(JournalStep record, FolderRole from, FolderRole to,
                     JournalStep undoRecord = JournalStep::kNone)
      : record_(record), undoRecord_(undoRecord), from_(from), to_(to) {}

  JournalStep Record() const { return record_; }
  FolderRole From() const { return from_; }
  FolderRole To() const { return to_; }
  bool Deletes() const { return from_ == to_; }
  // The move back, recorded as this step's undo.
  constexpr FileStep Undone() const { return FileStep(undoRecord_, to_, from_, record_); }
  // The same move under another record.
  constexpr FileStep RecordedAs(JournalStep record) const {
    return FileStep(record, from_, to_, undoRecord_);
  }

  // Deletes the file (through its open handle, else by its path with its read-only flag
  // cleared), or moves it: through its open handle into the held folder that is to hold it,
  // else by its path, else copied under a partial name (the destination's name with suffix)
  // that is then renamed into place. S_OK when moved or deleted; S_FALSE when copied, the source
  // left where it was; otherwise the error, with no partial copy left (E_INVALIDARG for a folder
  // found at the file's path: a step never moves or removes one). The handle is closed.
  HRESULT Do(NamePlaces& places, const SharedWString& suffix, unsigned way = kMove) const;

 private:
  JournalStep record_;
  JournalStep undoRecord_;
  FolderRole from_;
  FolderRole to_;
};

// The steps of one file: clear a backup left by an earlier patch, back up the target, remove a
// target the patch drops, copy the new file up, and put the backup back after a failed copy-up.
struct FileSteps {
  FileStep clear;
  FileStep backUp;
  FileStep remove;
  FileStep copyUp;
  FileStep putBack;
};

// The steps of the run.
constexpr FileSteps kRunSteps = {
    {JournalStep::kClearingBackup, FolderRole::kBackup, FolderRole::kBackup},
    {JournalStep::kBackingUp, FolderRole::kApplication, FolderRole::kBackup,
     JournalStep::kRevertingOld},
    {JournalStep::kRemoving, FolderRole::kApplication, FolderRole::kApplication},
    {JournalStep::kCopyingUp, FolderRole::kPatch, FolderRole::kApplication,
     JournalStep::kRevertingNew},
    FileStep(JournalStep::kBackingUp, FolderRole::kApplication, FolderRole::kBackup)
        .Undone()
        .RecordedAs(JournalStep::kPuttingBack)};

// The steps of the revert, which undo the run's: the new file goes back to the patch folder
// (where anything else standing is cleared first) and the old one comes back from the backup.
constexpr FileSteps kRevertSteps = {
    {JournalStep::kClearingBackup, FolderRole::kPatch, FolderRole::kPatch},
    kRunSteps.copyUp.Undone(),
    {JournalStep::kRevertingNew, FolderRole::kApplication, FolderRole::kApplication},
    kRunSteps.backUp.Undone(),
    kRunSteps.copyUp.RecordedAs(JournalStep::kPuttingBack)};

// Copies from to a partial name beside to (to with suffix appended), then renames that over to
// (replacing a file there only with replace): a copy cut short is never found at to. Returns 0
// or the error, with the partial copy removed.
HRESULT CopyIntoPlace(FilePath& from, const FilePath& to, bool replace,
                      const SharedWString& suffix);

}  // namespace quorvel
