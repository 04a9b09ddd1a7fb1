#include "patch/launcher/game_lock.h"

#include "files/folder_paths.h"
#include "files/real_path.h"
#include "foundation/failure_line.h"
#include "foundation/file_itself.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

constexpr DWORD kPollMilliseconds = 50;

DWORD g_waitMilliseconds = kGameLockWaitMilliseconds;

// How many times an open refused for access is tried again: the lock of a run that is ending is
// pending deletion for a moment, and Windows refuses it so.
constexpr int kAccessRetries = 20;

// Opens the lock file without sharing (a second opener fails with 32); the link itself where
// one stands at its name. Not deleted on close: under Wine that would delete a link's target.
HANDLE OpenLock(const SharedWString& path) {
  return CreateFileHere(path, GENERIC_READ | DELETE, 0, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
}

// Whether the open file is a plain file of one name at real, the lock's path in the folder as the
// file system names it: a link or a second name planted there would make the run hold a file it
// does not own.
bool IsItself(HANDLE file, const SharedWString& real) {
  SharedWString final;
  const FileItself found = CheckFileItself(file, real, final);
  // Past the length Wine can name a handle, the attributes and the count of names must do.
  return found == FileItself::kItself || found == FileItself::kUnnamed;
}

}  // namespace

DWORD SetGameLockWait(DWORD milliseconds) {
  const DWORD previous = g_waitMilliseconds;
  g_waitMilliseconds = milliseconds;
  return previous;
}

HRESULT GameLock::Take(const PatchRun& run) {
  const SharedWString folder = FolderPath(run.applicationDirectory).FullPath();
  const DWORD attributes = GetFileAttributesW(folder.Chars());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return S_OK;  // the checks refuse the folder and say why
  }
  const SharedWString path = PathIn(run.applicationDirectory, kGameLockName).FullPath();
  const ULONGLONG start = GetTickCount64();
  bool waited = false;
  for (int refused = 0;; Sleep(kPollMilliseconds)) {
    file_.Reset(OpenLock(path));
    const DWORD error = file_.IsValid() ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_ACCESS_DENIED && ++refused < kAccessRetries) {
      continue;
    }
    if (error != ERROR_SHARING_VIOLATION) {
      if (waited) {
        RunLog::Write("The other run on the game has ended\n");
      }
      if (error == ERROR_CANT_RESOLVE_FILENAME) {
        RunLog::Write("The lock <%ls> is a link or a second name: going on without it\n",
                      path.Chars());
      } else if (error != ERROR_SUCCESS) {
        QUORVEL_LOG_FAILED_RESULT(FailureResult(error),
                                  "Could not take the lock <%ls>, going on without it",
                                  path.Chars());
      } else if (!IsItself(file_.Get(), PathIn(ResolvedPath(folder), kGameLockName).FullPath())) {
        RunLog::Write("The lock <%ls> is a link or a second name: going on without it\n",
                      path.Chars());
        file_.Reset();
      }
      verified_ = file_.IsValid();
      return S_OK;
    }
    const ULONGLONG waiting = GetTickCount64() - start;
    if (!waited) {
      waited = true;
      RunLog::Write("Another run is patching the game in <%ls>: waiting for it to end\n",
                    folder.Chars());
      run.Progress().WaitingForOtherRun();
    }
    if (waiting >= g_waitMilliseconds) {
      RunLog::Write(
          "Gave up waiting for the other run on the game after %u seconds: nothing "
          "was changed\n",
          static_cast<unsigned>(waiting / 1000));
      return kGameLockTimedOut;
    }
  }
}

void GameLock::Release() {
  // The file was found to be itself and nobody could rename it since: it goes, as the run's own.
  FILE_DISPOSITION_INFO remove = {TRUE};
  if (verified_ &&
      !SetFileInformationByHandle(file_.Get(), FileDispositionInfo, &remove, sizeof(remove))) {
    const DWORD error = GetLastError();
    QUORVEL_LOG_FAILED_RESULT(FailureResult(error), "Could not remove the lock of the game");
  }
  verified_ = false;
  file_.Reset();
}

}  // namespace quorvel
