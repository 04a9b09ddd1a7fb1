#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "foundation/name_key.h"
#include "foundation/shared_string.h"
#include "patch/run/name_list.h"
#include "patch/steps/held_folders.h"

namespace quorvel {

// The folders below a run folder that a run's files leave, each with the number of listed names
// still to leave it, so that a folder is removed when the last of them has left it: one attempt
// per folder, however many files it held, and none while a listed file is still on its way out.
class EmptiedFolders {
 public:
  // directory: the run folder the files leave, as given, of role; names: every name whose file
  // may leave it. held: the run's held folders, each let go just before the run removes it.
  // With keepExisting (a revert), a folder that existed when the run began stays.
  EmptiedFolders(const SharedWString& directory, FolderRole role, const NameList& names,
                 HeldFolders* held = nullptr, bool keepExisting = false);

  // Tells that the file of name has left: each folder above it (below directory) that no listed
  // name still needs is removed when empty, deepest first, stopping at the first that stays.
  void Left(const SharedWString& name);

  // Lets go of the held folders on the way from the run's folder of role to name, which the run
  // is about to remove when they are left empty (the folders of a file the patch deletes); with
  // again, holds those that stayed once more.
  void LetGoOfWay(FolderRole role, const SharedWString& name, bool again = false);

  // The run's held folders; null when none are held.
  HeldFolders* Held() const { return held_; }

  // The folder below which the emptied folders on the way from directory (the run's folder of
  // role, as given) to name may go: directory, or with keepExisting the deepest folder on the
  // way that existed before the run.
  SharedWString RemovalRoot(const SharedWString& directory, FolderRole role,
                            const SharedWString& name) const;

 private:
  SharedWString directory_;
  FolderRole role_;
  HeldFolders* held_;
  bool keepExisting_;
  // Names still to leave, by the key (NameKey) of each folder on their way, below directory.
  std::unordered_map<NameKey, size_t, NameKey::Hash> remaining_;
};

}  // namespace quorvel
