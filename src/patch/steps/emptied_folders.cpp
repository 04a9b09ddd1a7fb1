#include "patch/steps/emptied_folders.h"

#include <windows.h>

#include "files/file_path.h"
#include "files/folder_paths.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"

namespace quorvel {
namespace {

// Removes the empty folder at path; true when it is gone, or was never there.
bool RemoveFolderAt(const SharedWString& path) {
  if (RemoveDirectoryW(LongPathForm(path).Chars())) {
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

EmptiedFolders::EmptiedFolders(const SharedWString& directory, FolderRole role,
                               const NameList& names, HeldFolders* held, bool keepExisting)
    : directory_(directory),
      role_(role),
      held_(held),
      keepExisting_(keepExisting && held != nullptr) {
  for (const SharedWString& name : names) {
    const NameKey key(name);
    ForEachFolderEnd(key, [&](uint32_t end) { ++remaining_[key.Prefix(end)]; });
  }
}

void EmptiedFolders::LetGoOfWay(FolderRole role, const SharedWString& name, bool again) {
  if (held_ != nullptr) {
    const SharedWString& directory = held_->Given(role);
    ForEachFolderEnd(name, [&](uint32_t end) {
      const SharedWString path = PathIn(directory, name.Mid(0, end - 1)).FullPath();
      again ? held_->HoldAgain(path) : held_->Release(path);
    });
  }
}

SharedWString EmptiedFolders::RemovalRoot(const SharedWString& directory, FolderRole role,
                                          const SharedWString& name) const {
  SharedWString root(directory);
  ForEachFolderEnd(name, [&](uint32_t end) {
    if (keepExisting_ && held_->Existed(role, name.Mid(0, end - 1))) {
      root = PathIn(directory, name.Mid(0, end - 1)).Path();
    }
  });
  return root;
}

void EmptiedFolders::Left(const SharedWString& name) {
  const NameKey key(name);
  uint32_t deepest = 0;
  ForEachFolderEnd(key, [&](uint32_t end) {
    const auto folder = remaining_.find(key.Prefix(end));
    if (folder != remaining_.end() && folder->second > 0) {
      --folder->second;
    }
    deepest = end;
  });
  for (uint32_t end = deepest; end > 0;) {
    const auto folder = remaining_.find(key.Prefix(end));
    if (folder == remaining_.end() || folder->second > 0 ||
        (keepExisting_ && held_->Existed(role_, name.Mid(0, end - 1)))) {
      return;
    }
    // A folder that stays (other files in it, in use) ends the climb, as one with listed
    // files still to leave does; one that was never there (the name brought no file) does not.
    const SharedWString path = PathIn(directory_, name.Mid(0, end - 1)).FullPath();
    if (path.IsEmpty()) {
      return;
    }
    if (held_ != nullptr ? !held_->RemoveEmptied(path) : !RemoveFolderAt(path)) {
      return;
    }
    do {
      --end;
    } while (end > 0 && key.Chars()[end] != L'\\');
  }
}

}  // namespace quorvel
