#include "files/folder_identity.h"

#include <windows.h>
#include <winternl.h>

#include "foundation/path_strings.h"
#include "foundation/scoped_handle.h"

namespace quorvel {

uint64_t FileIndexOf(const SharedWString& path) {
  SharedWString open(path);
  KeepRoot(open);  // the root folder, not the volume
  const ScopedFileHandle handle(CreateFileW(LongPathForm(open).Chars(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
  return !handle.IsValid() ? 0 : IndexOfHandle(handle.Get());
}

ScopedFileHandle OpenFolderToHold(const SharedWString& fullPath) {
  SharedWString open(fullPath);
  KeepRoot(open);
  // Sharing is judged only against handles that may read, write or delete.
  return ScopedFileHandle(CreateFileW(LongPathForm(open).Chars(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

uint64_t IndexOfHandle(HANDLE handle) {
  // The internal information is the index alone; GetFileInformationByHandle would also query the
  // volume, which costs a thousand times more under Wine.
  IO_STATUS_BLOCK status = {};
  FILE_INTERNAL_INFORMATION information = {};
  return NT_SUCCESS(NtQueryInformationFile(handle, &status, &information, sizeof(information),
                                           FileInternalInformation))
             ? static_cast<uint64_t>(information.IndexNumber.QuadPart)
             : 0;
}

}  // namespace quorvel
