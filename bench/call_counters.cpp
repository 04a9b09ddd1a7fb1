#include "call_counters.h"

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>

#include "import_hook.h"

namespace quorvel::bench {
namespace {

CallTally g_tally;
double g_ticksToMicroseconds = 0;

// Counts one call of kind; when it is a timed kind the object's lifetime is added to its time.
class Counted {
 public:
  explicit Counted(Call call) : index_(static_cast<int>(call)) {
    ++g_tally.calls[index_];
    QueryPerformanceCounter(&start_);
  }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  ~Counted() {
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    g_tally.microseconds[index_] +=
        static_cast<double>(end.QuadPart - start_.QuadPart) * g_ticksToMicroseconds;
  }

 private:
  int index_;
  LARGE_INTEGER start_;
};

void Count(Call call) { ++g_tally.calls[static_cast<int>(call)]; }

double Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * g_ticksToMicroseconds;
}

bool EndsWith(LPCWSTR path, const wchar_t* leaf) {
  const size_t length = wcslen(path);
  const size_t leafLength = wcslen(leaf);
  return length >= leafLength && _wcsicmp(path + length - leafLength, leaf) == 0;
}

// The run log's handle while a write has it open, and when that write began; the journal's
// handle while it is open for records.
HANDLE g_logHandle = nullptr;
double g_logWriteStart = -1;
HANDLE g_journalHandle = nullptr;

decltype(&GetFileAttributesExW) g_getFileAttributesEx;
decltype(&GetFullPathNameW) g_getFullPathName;
decltype(&MoveFileW) g_moveFile;
decltype(&CopyFileExW) g_copyFileEx;
decltype(&DeleteFileW) g_deleteFile;
decltype(&CreateDirectoryW) g_createDirectory;
decltype(&RemoveDirectoryW) g_removeDirectory;
decltype(&_wfopen) g_wfopen;
decltype(&fwrite) g_fwrite;
decltype(&fclose) g_fclose;
decltype(&malloc) g_malloc;
decltype(&calloc) g_calloc;
decltype(&realloc) g_realloc;
decltype(&free) g_free;
decltype(&_wcsicmp) g_wcsicmp;
decltype(&_wcsnicmp) g_wcsnicmp;
decltype(&CompareStringOrdinal) g_compareStringOrdinal;
decltype(&LCMapStringEx) g_lcMapStringEx;
decltype(&CreateFileW) g_createFile;
decltype(&GetFinalPathNameByHandleW) g_getFinalPathNameByHandle;
decltype(&GetFileInformationByHandleEx) g_getFileInformationByHandleEx;
decltype(&WriteFile) g_writeFile;
decltype(&CloseHandle) g_closeHandle;
decltype(&FindFirstFileExW) g_findFirstFileEx;
decltype(&FindNextFileW) g_findNextFile;
decltype(&MoveFileExW) g_moveFileEx;
decltype(&NtOpenFile) g_ntOpenFile;
decltype(&NtSetInformationFile) g_ntSetInformationFile;
decltype(&NtQueryInformationFile) g_ntQueryInformationFile;
decltype(&NtQueryObject) g_ntQueryObject;

NTSTATUS NTAPI CountNtQueryObject(HANDLE handle, OBJECT_INFORMATION_CLASS kind, PVOID data,
                                  ULONG size, PULONG returned) {
  Counted counted(Call::kFileNameQuery);
  return g_ntQueryObject(handle, kind, data, size, returned);
}
decltype(&LockFileEx) g_lockFileEx;
decltype(&UnlockFileEx) g_unlockFileEx;
decltype(&FlushFileBuffers) g_flushFileBuffers;

NTSTATUS NTAPI CountNtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID data,
                                           ULONG size, FILE_INFORMATION_CLASS kind) {
  Counted counted(Call::kNtQueryInformationFile);
  return g_ntQueryInformationFile(file, status, data, size, kind);
}

BOOL WINAPI CountLockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high,
                            LPOVERLAPPED overlapped) {
  Counted counted(Call::kLockFileEx);
  return g_lockFileEx(file, flags, reserved, low, high, overlapped);
}

BOOL WINAPI CountUnlockFileEx(HANDLE file, DWORD reserved, DWORD low, DWORD high,
                              LPOVERLAPPED overlapped) {
  Counted counted(Call::kUnlockFileEx);
  return g_unlockFileEx(file, reserved, low, high, overlapped);
}

BOOL WINAPI CountFlushFileBuffers(HANDLE file) {
  Counted counted(Call::kFlushFileBuffers);
  return g_flushFileBuffers(file);
}

BOOL WINAPI CountMoveFileEx(LPCWSTR from, LPCWSTR to, DWORD flags) {
  Counted counted(Call::kMoveFileExW);
  return g_moveFileEx(from, to, flags);
}

NTSTATUS NTAPI CountNtOpenFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                               PIO_STATUS_BLOCK status, ULONG share, ULONG options) {
  Counted counted(Call::kNtOpenFile);
  return g_ntOpenFile(handle, access, attributes, status, share, options);
}

NTSTATUS NTAPI CountNtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID data,
                                         ULONG size, FILE_INFORMATION_CLASS kind) {
  Counted counted(Call::kNtSetInformationFile);
  return g_ntSetInformationFile(file, status, data, size, kind);
}

HANDLE WINAPI CountCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
  const bool log = EndsWith(path, L"\\Quorvel.log");
  if (log && g_logWriteStart < 0) {
    g_logWriteStart = Now();
  }
  HANDLE handle;
  {
    Counted counted(Call::kCreateFileW);
    handle = g_createFile(path, access, share, sa, disposition, flags, templateFile);
  }
  if (log && handle != INVALID_HANDLE_VALUE) {
    g_logHandle = handle;
  } else if (EndsWith(path, L"\\Quorvel.journal") && handle != INVALID_HANDLE_VALUE) {
    g_journalHandle = handle;
  }
  return handle;
}

DWORD WINAPI CountGetFinalPathNameByHandle(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
  Counted counted(Call::kGetFinalPathNameByHandleW);
  return g_getFinalPathNameByHandle(file, path, size, flags);
}

BOOL WINAPI CountGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              LPVOID data, DWORD size) {
  Counted counted(kind == FileNameInfo ? Call::kFileNameQuery
                                       : Call::kGetFileInformationByHandleEx);
  return g_getFileInformationByHandleEx(file, kind, data, size);
}

BOOL WINAPI CountWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED overlapped) {
  Counted counted(file == g_journalHandle ? Call::kJournalWriteFile : Call::kWriteFile);
  return g_writeFile(file, data, size, written, overlapped);
}

BOOL WINAPI CountCloseHandle(HANDLE handle) {
  BOOL closed;
  {
    Counted counted(Call::kCloseHandle);
    closed = g_closeHandle(handle);
  }
  if (handle == g_logHandle) {
    ++g_tally.calls[static_cast<int>(Call::kLogFileWrite)];
    g_tally.microseconds[static_cast<int>(Call::kLogFileWrite)] += Now() - g_logWriteStart;
    g_logHandle = nullptr;
    g_logWriteStart = -1;
  } else if (handle == g_journalHandle) {
    g_journalHandle = nullptr;
  }
  return closed;
}

HANDLE WINAPI CountFindFirstFileEx(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID data,
                                   FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags) {
  Counted counted(Call::kFindFile);
  return g_findFirstFileEx(pattern, level, data, search, filter, flags);
}

BOOL WINAPI CountFindNextFile(HANDLE find, LPWIN32_FIND_DATAW data) {
  Counted counted(Call::kFindFile);
  return g_findNextFile(find, data);
}

BOOL WINAPI CountGetFileAttributesEx(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  Counted counted(Call::kGetFileAttributesExW);
  return g_getFileAttributesEx(path, level, data);
}

DWORD WINAPI CountGetFullPathName(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
  Counted counted(Call::kGetFullPathNameW);
  return g_getFullPathName(path, size, buffer, filePart);
}

BOOL WINAPI CountMoveFile(LPCWSTR from, LPCWSTR to) {
  Counted counted(Call::kMoveFileW);
  return g_moveFile(from, to);
}

BOOL WINAPI CountCopyFileEx(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID data,
                            LPBOOL cancel, DWORD flags) {
  Counted counted(Call::kCopyFileExW);
  return g_copyFileEx(from, to, progress, data, cancel, flags);
}

BOOL WINAPI CountDeleteFile(LPCWSTR path) {
  Counted counted(Call::kDeleteFileW);
  return g_deleteFile(path);
}

BOOL WINAPI CountCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  Counted counted(Call::kCreateDirectoryW);
  return g_createDirectory(path, security);
}

BOOL WINAPI CountRemoveDirectory(LPCWSTR path) {
  Counted counted(Call::kRemoveDirectoryW);
  return g_removeDirectory(path);
}

FILE* __cdecl CountWfopen(const wchar_t* path, const wchar_t* mode) {
  Counted counted(Call::kLogOpen);
  return g_wfopen(path, mode);
}

size_t __cdecl CountFwrite(const void* data, size_t size, size_t count, FILE* file) {
  Counted counted(Call::kLogWrite);
  return g_fwrite(data, size, count, file);
}

int __cdecl CountFclose(FILE* file) {
  Counted counted(Call::kLogClose);
  return g_fclose(file);
}

void* __cdecl CountMalloc(size_t size) {
  Count(Call::kHeapAllocation);
  return g_malloc(size);
}

void* __cdecl CountCalloc(size_t count, size_t size) {
  Count(Call::kHeapAllocation);
  return g_calloc(count, size);
}

void* __cdecl CountRealloc(void* block, size_t size) {
  Count(Call::kHeapAllocation);
  return g_realloc(block, size);
}

void __cdecl CountFree(void* block) {
  if (block != nullptr) {
    Count(Call::kHeapFree);
  }
  g_free(block);
}

int __cdecl CountWcsicmp(const wchar_t* a, const wchar_t* b) {
  Counted counted(Call::kCaseInsensitiveCompare);
  return g_wcsicmp(a, b);
}

int __cdecl CountWcsnicmp(const wchar_t* a, const wchar_t* b, size_t count) {
  Counted counted(Call::kCaseInsensitiveCompare);
  return g_wcsnicmp(a, b, count);
}

int WINAPI CountCompareStringOrdinal(LPCWCH a, int aLength, LPCWCH b, int bLength,
                                     BOOL ignoreCase) {
  if (!ignoreCase) {
    return g_compareStringOrdinal(a, aLength, b, bLength, ignoreCase);
  }
  Counted counted(Call::kCaseInsensitiveCompare);
  return g_compareStringOrdinal(a, aLength, b, bLength, ignoreCase);
}

int WINAPI CountLcMapStringEx(LPCWSTR locale, DWORD flags, LPCWSTR source, int sourceLength,
                              LPWSTR destination, int destinationLength, LPNLSVERSIONINFO version,
                              LPVOID reserved, LPARAM sortHandle) {
  Counted counted(Call::kCaseInsensitiveCompare);
  return g_lcMapStringEx(locale, flags, source, sourceLength, destination, destinationLength,
                         version, reserved, sortHandle);
}

template <typename Function>
bool Redirect(const char* dll, const char* name, Function replacement, Function& original) {
  original =
      reinterpret_cast<Function>(ReplaceImport(dll, name, reinterpret_cast<void*>(replacement)));
  return original != nullptr;
}

}  // namespace

CallTally CallTally::operator-(const CallTally& earlier) const {
  CallTally difference;
  for (int i = 0; i < kCallKinds; ++i) {
    difference.calls[i] = calls[i] - earlier.calls[i];
    difference.microseconds[i] = microseconds[i] - earlier.microseconds[i];
  }
  return difference;
}

bool InstallCallCounters() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_ticksToMicroseconds = 1e6 / static_cast<double>(frequency.QuadPart);
  const char* kernel = "kernel32.dll";
  const char* runtime = "msvcrt.dll";
  bool all = true;
  all &= Redirect(kernel, "GetFileAttributesExW", &CountGetFileAttributesEx, g_getFileAttributesEx);
  all &= Redirect(kernel, "GetFullPathNameW", &CountGetFullPathName, g_getFullPathName);
  all &= Redirect(kernel, "MoveFileW", &CountMoveFile, g_moveFile);
  all &= Redirect(kernel, "CopyFileExW", &CountCopyFileEx, g_copyFileEx);
  all &= Redirect(kernel, "DeleteFileW", &CountDeleteFile, g_deleteFile);
  all &= Redirect(kernel, "CreateDirectoryW", &CountCreateDirectory, g_createDirectory);
  all &= Redirect(kernel, "RemoveDirectoryW", &CountRemoveDirectory, g_removeDirectory);
  all &= Redirect(runtime, "_wfopen", &CountWfopen, g_wfopen);
  all &= Redirect(runtime, "fwrite", &CountFwrite, g_fwrite);
  all &= Redirect(runtime, "fclose", &CountFclose, g_fclose);
  all &= Redirect(runtime, "malloc", &CountMalloc, g_malloc);
  all &= Redirect(runtime, "calloc", &CountCalloc, g_calloc);
  all &= Redirect(runtime, "realloc", &CountRealloc, g_realloc);
  all &= Redirect(runtime, "free", &CountFree, g_free);
  all &=
      Redirect(kernel, "CompareStringOrdinal", &CountCompareStringOrdinal, g_compareStringOrdinal);
  all &= Redirect(kernel, "CreateFileW", &CountCreateFile, g_createFile);
  all &= Redirect(kernel, "GetFinalPathNameByHandleW", &CountGetFinalPathNameByHandle,
                  g_getFinalPathNameByHandle);
  all &= Redirect(kernel, "GetFileInformationByHandleEx", &CountGetFileInformationByHandleEx,
                  g_getFileInformationByHandleEx);
  all &= Redirect(kernel, "WriteFile", &CountWriteFile, g_writeFile);
  all &= Redirect(kernel, "CloseHandle", &CountCloseHandle, g_closeHandle);
  all &= Redirect(kernel, "FindFirstFileExW", &CountFindFirstFileEx, g_findFirstFileEx);
  all &= Redirect(kernel, "FindNextFileW", &CountFindNextFile, g_findNextFile);
  // Names compare through CompareStringOrdinal; the runtime's compares remain only where the
  // linker kept them, so they are counted when imported and not required.
  Redirect(runtime, "_wcsicmp", &CountWcsicmp, g_wcsicmp);
  Redirect(runtime, "_wcsnicmp", &CountWcsnicmp, g_wcsnicmp);
  // Imported only by builds that move files by these calls.
  Redirect(kernel, "MoveFileExW", &CountMoveFileEx, g_moveFileEx);
  Redirect("ntdll.dll", "NtOpenFile", &CountNtOpenFile, g_ntOpenFile);
  Redirect("ntdll.dll", "NtSetInformationFile", &CountNtSetInformationFile, g_ntSetInformationFile);
  Redirect("ntdll.dll", "NtQueryInformationFile", &CountNtQueryInformationFile,
           g_ntQueryInformationFile);
  Redirect(kernel, "LCMapStringEx", &CountLcMapStringEx, g_lcMapStringEx);
  Redirect("ntdll.dll", "NtQueryObject", &CountNtQueryObject, g_ntQueryObject);
  Redirect(kernel, "LockFileEx", &CountLockFileEx, g_lockFileEx);
  Redirect(kernel, "UnlockFileEx", &CountUnlockFileEx, g_unlockFileEx);
  Redirect(kernel, "FlushFileBuffers", &CountFlushFileBuffers, g_flushFileBuffers);
  return all;
}

CallTally CurrentTally() { return g_tally; }

const char* CallName(Call call) {
  static const char* const kNames[kCallKinds] = {"GetFileAttributesExW",
                                                 "GetFullPathNameW",
                                                 "MoveFileW",
                                                 "CopyFileExW",
                                                 "DeleteFileW",
                                                 "CreateDirectoryW",
                                                 "RemoveDirectoryW",
                                                 "log _wfopen",
                                                 "log fwrite",
                                                 "log fclose",
                                                 "malloc/calloc/realloc",
                                                 "free",
                                                 "name compares and folds",
                                                 "CreateFileW",
                                                 "GetFinalPathNameByHandleW",
                                                 "GetFileInformationByHandleEx",
                                                 "WriteFile",
                                                 "CloseHandle",
                                                 "FindFirstFileExW, FindNextFileW",
                                                 "MoveFileExW",
                                                 "NtOpenFile",
                                                 "NtSetInformationFile",
                                                 "name queries",
                                                 "NtQueryInformationFile",
                                                 "LockFileEx",
                                                 "UnlockFileEx",
                                                 "FlushFileBuffers",
                                                 "log write, open to close",
                                                 "journal WriteFile"};
  return kNames[static_cast<int>(call)];
}

bool CallIsTimed(Call call) { return call != Call::kHeapAllocation && call != Call::kHeapFree; }

}  // namespace quorvel::bench
