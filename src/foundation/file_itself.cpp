#include "foundation/file_itself.h"

#include "foundation/final_path.h"
#include "foundation/name_key.h"

namespace quorvel {

FileItself CheckFileItself(HANDLE file, const SharedWString& expected, SharedWString& final,
                           SharedWString* seen) {
  final.Clear();
  // Both queries stay on the file; the single query that has both asks the volume too, which
  // costs a hundred times more under Wine.
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  FILE_STANDARD_INFO standard = {};
  if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag)) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) ||
      (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      standard.Directory) {
    return FileItself::kLink;
  }
  if (standard.NumberOfLinks > 1) {
    return FileItself::kOtherNames;
  }
  // The object's name costs half a final path under Wine, and it changes with any link on the
  // way, the volume included.
  SharedWString object;
  if (seen != nullptr && !seen->IsEmpty() && VolumeNameOf(file, object) && object.Equals(*seen)) {
    return FileItself::kItself;
  }
  DWORD error = ERROR_SUCCESS;
  if (!FinalPathOfHandle(file, final, error)) {
    return FileItself::kUnnamed;
  }
  if (CompareNames(final, expected) != 0) {
    return FileItself::kLink;
  }
  if (seen != nullptr && (!object.IsEmpty() || VolumeNameOf(file, object))) {
    *seen = object;
  }
  return FileItself::kItself;
}

HANDLE CreateFileHere(const SharedWString& path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags) {
  if (disposition != OPEN_ALWAYS && disposition != CREATE_NEW) {
    return CreateFileW(path.Chars(), access, share, nullptr, disposition, flags, nullptr);
  }
  // A name that is taken while nothing opens there is a link whose target is missing; a few
  // rounds tell it from another opener that makes or removes the file meanwhile.
  for (int round = 0; round < 3; ++round) {
    if (disposition == OPEN_ALWAYS) {
      const HANDLE existing =
          CreateFileW(path.Chars(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
      if (existing != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) {
        return existing;
      }
    }
    const HANDLE made =
        CreateFileW(path.Chars(), access, share, nullptr, CREATE_NEW, flags, nullptr);
    if (made != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      return made;
    }
    if (disposition == CREATE_NEW) {
      // Taken: a file of its own that the caller deals with, or a link to nothing.
      const DWORD attributes = GetFileAttributesW(path.Chars());
      if (attributes != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
    }
  }
  SetLastError(ERROR_CANT_RESOLVE_FILENAME);
  return INVALID_HANDLE_VALUE;
}

bool OpenFileItself(const SharedWString& path, const SharedWString& expected, DWORD access,
                    DWORD share, DWORD disposition, DWORD flags, ScopedFileHandle& file,
                    FileItself& found, SharedWString& final, DWORD& error, SharedWString* seen) {
  file.Reset(
      CreateFileHere(path, access, share, disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!file.IsValid()) {
    error = GetLastError();
    final.Clear();
    if (error == ERROR_CANT_RESOLVE_FILENAME) {
      found = FileItself::kLink;
      return true;
    }
    return false;
  }
  found = CheckFileItself(file.Get(), expected, final, seen);
  if (found != FileItself::kItself) {
    file.Reset();
  }
  return true;
}

}  // namespace quorvel
