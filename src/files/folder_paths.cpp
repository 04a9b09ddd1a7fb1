#include "files/folder_paths.h"

#include <cwchar>

#include "foundation/path_strings.h"

namespace quorvel {

FilePath PathIn(const SharedWString& directory, const SharedWString& name) {
  // Joined before normalising: a folder given as D:\ would otherwise become the drive-relative
  // D: and the name would land in that drive's current directory.
  SharedWString path(directory);
  JoinPath(path, name);
  return FilePath(path);
}

FilePath FolderPath(const SharedWString& directory) {
  // A \\?\ path takes "." literally, and needs no help with a drive root.
  if (wcsncmp(directory.Chars(), L"\\\\?\\", 4) == 0) {
    return FilePath(directory);
  }
  return PathIn(directory, L".");
}

}  // namespace quorvel
