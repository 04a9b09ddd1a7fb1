#pragma once

#include <cstdint>

namespace quorvel::bench {

// The calls a patch run makes that the benchmark counts: the file-system calls and the log's
// stream calls, the opens, name queries, writes, listings and case-insensitive comparisons beside
// them (timed as well), and heap calls (only counted).
enum class Call {
  kGetFileAttributesExW,
  kGetFullPathNameW,
  kMoveFileW,
  kCopyFileExW,
  kDeleteFileW,
  kCreateDirectoryW,
  kRemoveDirectoryW,
  kLogOpen,         // _wfopen
  kLogWrite,        // fwrite
  kLogClose,        // fclose
  kHeapAllocation,  // malloc, calloc, realloc
  kHeapFree,
  kCaseInsensitiveCompare,  // _wcsicmp, _wcsnicmp
  kCreateFileW,
  kGetFinalPathNameByHandleW,
  kGetFileInformationByHandleEx,
  kWriteFile,
  kCloseHandle,
  kFindFile,  // FindFirstFileExW, FindNextFileW
  kMoveFileExW,
  kNtOpenFile,
  kNtSetInformationFile,  // the renames by handle
  kFileNameQuery,         // FileNameInfo (not counted with the other classes above), NtQueryObject
  kNtQueryInformationFile,
  kLockFileEx,
  kUnlockFileEx,
  kFlushFileBuffers,
  kLogFileWrite,      // a write of the run log, from its first CreateFileW to its CloseHandle
  kJournalWriteFile,  // WriteFile on the run journal (not counted as WriteFile above)
  kCount
};

constexpr int kCallKinds = static_cast<int>(Call::kCount);

struct CallTally {
  uint64_t calls[kCallKinds] = {};
  double microseconds[kCallKinds] = {};  // only for timed kinds

  uint64_t Calls(Call call) const { return calls[static_cast<int>(call)]; }
  CallTally operator-(const CallTally& earlier) const;
};

// Sends this program's calls of the counted functions through counters. False when one of them
// could not be redirected (then none is counted reliably). Once per process.
bool InstallCallCounters();
// What has been counted so far.
CallTally CurrentTally();
const char* CallName(Call call);
bool CallIsTimed(Call call);

}  // namespace quorvel::bench
