#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"
#include "patch/file_list_file.h"
#include "patch/names_inside.h"

namespace quorvel {

// Holds each existing folder of a run, and each existing folder on the way from it to a listed
// name, open without delete sharing while it lives: on Windows none of them can then be renamed,
// removed or swapped for a link by another program between the checks and the moves. Nothing
// fails when a folder cannot be held: the checks before each retry still see a swap.
class HeldFolders {
 public:
  HeldFolders(const std::vector<RunFolder>& folders, const NameList& names);
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  // Lets go of the folder at fullPath (as FilePath::FullPath gives it), so that the run itself
  // can remove it once its files have left.
  void Release(const SharedWString& fullPath);

  // Holds the folders on the way from directory to name that the run has made since (the
  // folders of the backup), each the first time a file of the run lands in it.
  void HoldMadeWay(const SharedWString& directory, const SharedWString& name);

 private:
  void Hold(const SharedWString& fullPath);

  // By the key (NameKey) of each held folder's full path.
  std::unordered_map<std::wstring, ScopedFileHandle> handles_;
  // The keys (NameKey) of the relative folders HoldMadeWay has seen.
  std::unordered_set<std::wstring> made_;
};

}  // namespace quorvel
