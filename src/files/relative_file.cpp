#include "files/relative_file.h"

#include <winternl.h>

#include <cstring>
#include <vector>

#include "files/folder_identity.h"
#include "foundation/win32_result.h"

#ifndef __MINGW32__
// In ntdll's import library, but not in every SDK's headers.
extern "C" NTSTATUS NTAPI NtSetInformationFile(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS);
#endif

namespace quorvel {
namespace {

constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileSynchronousIoNonAlert = 0x20;
constexpr ULONG kFileOpenForBackupIntent = 0x4000;
constexpr ULONG kFileDirectoryFile = 0x1;
constexpr ULONG kFileCreate = 2;

HRESULT ResultOf(NTSTATUS status) {
  return NT_SUCCESS(status) ? S_OK : HRESULT_FROM_WIN32(RtlNtStatusToDosError(status));
}

// Names leaf inside the open folder parent for an open or a create, name pointing into leaf.
void NameIn(HANDLE parent, const SharedWString& leaf, UNICODE_STRING& name,
            OBJECT_ATTRIBUTES& attributes) {
  name.Buffer = const_cast<wchar_t*>(leaf.Chars());
  name.Length = static_cast<USHORT>(leaf.Length() * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, parent, nullptr);
}

// Opens leaf inside the open folder parent, sharing all access. Returns 0 with opened set, or
// the error with nothing open.
HRESULT OpenIn(HANDLE parent, const SharedWString& leaf, ACCESS_MASK access, ULONG options,
               ScopedFileHandle& opened) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  NameIn(parent, leaf, name, attributes);
  IO_STATUS_BLOCK status = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS result =
      NtOpenFile(&handle, access | SYNCHRONIZE, &attributes, &status,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 options | kFileSynchronousIoNonAlert | kFileOpenForBackupIntent);
  if (!NT_SUCCESS(result)) {
    return ResultOf(result);
  }
  opened.Reset(handle);
  return S_OK;
}

}  // namespace

HRESULT RelativeFile::Open(HANDLE folder, const SharedWString& leaf) {
  handle_.Reset();
  return OpenIn(folder, leaf, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                kFileNonDirectoryFile, handle_);
}

HRESULT RelativeFile::MoveInto(HANDLE folder, const SharedWString& leaf, bool replace) {
  // SetFileInformationByHandle refuses a root folder under Wine; the native call takes it.
  const size_t bytes = leaf.Length() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  FILE_RENAME_INFO* information = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  information->ReplaceIfExists = replace ? TRUE : FALSE;
  information->RootDirectory = folder;
  information->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(information->FileName, leaf.Chars(), bytes);
  IO_STATUS_BLOCK status = {};
  return ResultOf(
      NtSetInformationFile(handle_.Get(), &status, information, static_cast<ULONG>(buffer.size()),
                           static_cast<FILE_INFORMATION_CLASS>(kFileRenameInformation)));
}

HRESULT RelativeFile::Delete() {
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(handle_.Get(), FileBasicInfo, &basic, sizeof(basic)) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    basic.FileAttributes |= basic.FileAttributes == 0 ? FILE_ATTRIBUTE_NORMAL : 0;
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;  // 0 keeps each time
    if (!SetFileInformationByHandle(handle_.Get(), FileBasicInfo, &basic, sizeof(basic))) {
      return FailureResult(GetLastError());
    }
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (!SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition,
                                  sizeof(disposition))) {
    return FailureResult(GetLastError());
  }
  handle_.Reset();  // the file goes as the last handle to it closes
  return S_OK;
}

HRESULT CreateFolderIn(HANDLE parent, const SharedWString& leaf, ScopedFileHandle& folder) {
  folder.Reset();
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  NameIn(parent, leaf, name, attributes);
  IO_STATUS_BLOCK status = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS created = NtCreateFile(
      &handle, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &status, nullptr,
      FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, kFileCreate,
      kFileDirectoryFile | kFileSynchronousIoNonAlert | kFileOpenForBackupIntent, nullptr, 0);
  if (!NT_SUCCESS(created)) {
    const HRESULT result = ResultOf(created);
    // A name taken says so as the path calls do.
    return result == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
               ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)
               : result;
  }
  folder.Reset(handle);
  return S_OK;
}

HRESULT RemoveFolderIn(HANDLE parent, const SharedWString& leaf, uint64_t index) {
  ScopedFileHandle folder;
  const HRESULT opened =
      OpenIn(parent, leaf, DELETE | FILE_READ_ATTRIBUTES, kFileDirectoryFile, folder);
  if (FAILED(opened)) {
    return opened;
  }
  if (index != 0 && IndexOfHandle(folder.Get()) != index) {
    return S_FALSE;
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (!SetFileInformationByHandle(folder.Get(), FileDispositionInfo, &disposition,
                                  sizeof(disposition))) {
    return FailureResult(GetLastError());
  }
  return S_OK;  // the folder goes as its handle closes
}

bool RenamesFollowPaths() {
  // Wine's ntdll names itself; Windows' has no such export.
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

}  // namespace quorvel
