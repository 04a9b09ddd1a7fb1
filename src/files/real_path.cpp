#include "files/real_path.h"

#include <windows.h>

#include <cwchar>

#include "foundation/final_path.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/scoped_handle.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

// The final path of an existing file or folder; false with error set when it cannot be opened.
bool FinalPath(const SharedWString& path, SharedWString& final, DWORD& error) {
  SharedWString open(path);
  KeepRoot(open);  // a bare drive opens the volume, not its root folder
  ScopedFileHandle handle(CreateFileW(LongPathForm(open).Chars(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) {
    error = GetLastError();
    return false;
  }
  return FinalPathOfHandle(handle.Get(), final, error);
}

}  // namespace

SharedWString ResolvedPath(const SharedWString& fullPath) {
  SharedWString existing = fullPath;
  SharedWString rest;
  while (!existing.IsEmpty()) {
    SharedWString final;
    DWORD error = ERROR_SUCCESS;
    if (FinalPath(existing, final, error)) {
      KeepRoot(final);
      JoinPath(final, rest);
      NormalizePath(final);
      KeepRoot(final);
      return final;
    }
    if (!IsNotFound(HRESULT_FROM_WIN32(error))) {
      // A file system that cannot name its files (or a folder that cannot be opened) keeps the
      // spelling as given: refusing every run there would help nobody.
      KeepRoot(existing);
      JoinPath(existing, rest);
      NormalizePath(existing);
      KeepRoot(existing);
      return existing;
    }
    SharedWString parent = DirectoryPart(existing);
    NormalizePath(parent);
    if (parent.Length() >= existing.Length()) {
      break;
    }
    SharedWString component(existing);
    FileNamePart(component);
    SharedWString below(component);
    JoinPath(below, rest);
    rest = below;
    existing = parent;
  }
  return SharedWString();
}

bool IsSameOrBelow(const SharedWString& path, const SharedWString& folder) {
  const uint32_t length = folder.Length();
  if (path.IsEmpty() || length == 0 || !StartsWithName(path, folder)) {
    return false;
  }
  return path.Length() == length || path.Chars()[length] == L'\\' ||
         folder.Chars()[length - 1] == L'\\';
}

}  // namespace quorvel
