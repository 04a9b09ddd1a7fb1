#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/name_key.h"
#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"
#include "patch/run/name_list.h"

namespace quorvel {

// What a folder is to a run; also its place in a plan's folders.
enum class FolderRole : size_t { kPatch = 0, kApplication = 1, kBackup = 2 };
constexpr size_t kRunFolderCount = 3;
constexpr FolderRole kRunFolderRoles[kRunFolderCount] = {
    FolderRole::kPatch, FolderRole::kApplication, FolderRole::kBackup};

// A folder of the run, as the checks found it.
struct PlanFolder {
  FolderRole role = FolderRole::kPatch;
  const char* what = "";  // what the log calls it
  SharedWString given;    // as the command line gave it
  SharedWString full;     // its full path: the form the run opens it and its files by
  SharedWString real;     // its final path when the run was checked
  // Its file index when the run was checked, 0 when it was not there: the same folder however
  // it is spelt.
  uint64_t identity = 0;
  // Open from the checks on, without delete sharing, so that on Windows it cannot be renamed,
  // removed or swapped for a link; invalid when it was not there.
  ScopedFileHandle handle;
};

// One listed name of the run.
struct PlannedName {
  SharedWString name;  // as listed
  NameKey key;         // how the run compares it
  size_t index = 0;    // its place in the list, by which the journal records it
  // Where each folder on its way ends in the name (ForEachFolderEnd), outermost first.
  std::vector<uint32_t> folderEnds;
  // What stood at its path in each folder when the run was checked, by role.
  CheckedFile found[kRunFolderCount];
  // How many folders on its way, from the top, stood in each folder when the run was checked.
  uint32_t foldersThere[kRunFolderCount] = {0, 0, 0};

  const CheckedFile& FoundIn(FolderRole role) const { return found[static_cast<size_t>(role)]; }
  uint32_t FoldersThereIn(FolderRole role) const { return foldersThere[static_cast<size_t>(role)]; }
};

// The plan of one run: its three folders and its names, built once by the checks before the
// run and read by every stage after it.
class RunPlan {
 public:
  RunPlan() = default;
  RunPlan(const RunPlan&) = delete;
  RunPlan& operator=(const RunPlan&) = delete;

  // The folders as given and the names as listed, with their keys and ways, nothing checked
  // yet: no final path, identity, handle or what stood at each place.
  void Describe(const SharedWString& patch, const SharedWString& application,
                const SharedWString& backup, const NameList& names);

  PlanFolder& Folder(FolderRole role) { return folders_[static_cast<size_t>(role)]; }
  const PlanFolder& Folder(FolderRole role) const { return folders_[static_cast<size_t>(role)]; }

  std::vector<PlannedName>& Names() { return names_; }
  const std::vector<PlannedName>& Names() const { return names_; }
  // The listed name that compares equal to name; null when none does.
  const PlannedName* Find(const SharedWString& name) const;

  // Lets go of the run's folders: the files have stopped moving, and the player may move the
  // folders while a message is up.
  void LetGoOfFolders() {
    for (PlanFolder& folder : folders_) {
      folder.handle.Reset();
    }
  }

  // The full path of a name in a folder of the run, as the run opens it.
  SharedWString PathOf(FolderRole role, const PlannedName& name) const;

 private:
  PlanFolder folders_[kRunFolderCount];
  std::vector<PlannedName> names_;
  std::unordered_map<NameKey, size_t, NameKey::Hash> byKey_;
};

// Opens the existing folder to hold it while the run lasts, without delete sharing, so that on
// Windows it cannot be renamed or removed, and takes its final path and its number from that
// handle. A folder that cannot be opened keeps its final path unset, and its number is asked
// for by its path.
void HoldPlanFolder(PlanFolder& folder);

// Whether the folder at path is the folder held open in folder: asked of the system, which
// refuses a deleting open of a folder held without delete sharing, whatever path reaches it
// (another drive letter, a link, a short name). False when the folder is not held, or path
// leads to another folder or nowhere.
bool HoldsFolderAt(const PlanFolder& folder, const SharedWString& path);

}  // namespace quorvel
