#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvel::bench {

// The relative name of the index-th file of a patch laid out as a studio's build lays it out:
// data\<kind>\pack<NN>\<kind>_<NNNNN>.<ext>, sixteen files to a folder. A name does not depend on
// the size of the patch, so the first names of a large patch are those of a small one.
std::wstring PatchName(size_t index);
std::vector<std::wstring> PatchNames(size_t count);

// The three folders of a run inside one root, with the names of the patch. The application
// folder holds an old file and the patch folder a new file for every name; the backup folder
// starts empty.
class PatchTree {
 public:
  // Creates the tree under root (which must not exist). Ok() tells whether that worked.
  PatchTree(const std::wstring& root, std::vector<std::wstring> names);
  PatchTree(const PatchTree&) = delete;
  PatchTree& operator=(const PatchTree&) = delete;
  // Removes the whole tree.
  ~PatchTree();

  bool Ok() const { return ok_; }
  const std::wstring& Root() const { return root_; }
  const std::wstring& Patch() const { return patch_; }
  const std::wstring& Application() const { return application_; }
  const std::wstring& Backup() const { return backup_; }
  const std::vector<std::wstring>& Names() const { return names_; }
  // Every folder that the names need below a run folder, parents before children.
  const std::vector<std::wstring>& Folders() const { return folders_; }

  // Creates the names' folders below base (one of the run folders).
  bool CreateFolders(const std::wstring& base) const;
  // Removes the names' folders below base that are empty, children before parents.
  void RemoveEmptyFolders(const std::wstring& base) const;
  // Moves every name from one run folder to another; false at the first move that fails.
  bool MoveAll(const std::wstring& from, const std::wstring& to) const;

  // The patched state by plain moves: old files to the backup folder, new files over the
  // application folder, the patch folder's emptied folders removed (as a patch run leaves it).
  bool ApplyPlainly() const;
  // Back to the starting state by plain moves: new files to the patch folder, old files back,
  // the backup folder's emptied folders removed (as a revert leaves it).
  bool RevertPlainly() const;

 private:
  std::wstring root_;
  std::wstring patch_;
  std::wstring application_;
  std::wstring backup_;
  std::vector<std::wstring> names_;
  std::vector<std::wstring> folders_;
  bool ok_ = false;
};

// Removes a file or a folder with everything in it.
void RemoveTree(const std::wstring& path);

// A fresh folder under the system's temporary folder, named for purpose.
std::wstring FreshFolderName(const wchar_t* purpose);

}  // namespace quorvel::bench
