#include "foundation/file_itself.h"

#include "foundation/final_path.h"
#include "foundation/name_key.h"

namespace quorvel {

FileItself CheckFileItself(HANDLE file, const SharedWString& expected, SharedWString& final) {
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
  DWORD error = ERROR_SUCCESS;
  const bool named = FinalPathOfHandle(file, final, error);
  if (standard.NumberOfLinks > 1) {
    return FileItself::kOtherNames;
  }
  if (!named) {
    return FileItself::kUnnamed;
  }
  return CompareNames(final, expected) == 0 ? FileItself::kItself : FileItself::kLink;
}

bool OpenFileItself(const SharedWString& path, const SharedWString& expected, DWORD access,
                    DWORD share, DWORD disposition, DWORD flags, ScopedFileHandle& file,
                    FileItself& found, SharedWString& final, DWORD& error) {
  file.Reset(CreateFileW(path.Chars(), access, share, nullptr, disposition,
                         flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) {
    error = GetLastError();
    final.Clear();
    return false;
  }
  found = CheckFileItself(file.Get(), expected, final);
  if (found != FileItself::kItself) {
    file.Reset();
  }
  return true;
}

}  // namespace quorvel
