#include "patch/patch_files.h"

#include <cwchar>
#include <cstdlib>

#include "files/file_path.h"
#include "files/path_strings.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "patch/patch_file.h"
#include "patch/revert_patches.h"
#include "patch/run_steps.h"

namespace quorvel {
namespace {

void SleepPause(DWORD milliseconds) {
  Sleep(milliseconds);
}

RetryPause g_retryPause = SleepPause;

bool SamePath(const SharedWString& a, const SharedWString& b) {
  return !a.IsEmpty() && !b.IsEmpty() && _wcsicmp(a.Chars(), b.Chars()) == 0;
}

// A name as the file system would see it, for spotting a name listed twice: the target's full
// path, or, when it cannot be resolved, the name with backslashes.
SharedWString Identity(const PatchRun& run, const SharedWString& name) {
  SharedWString full = PathIn(run.applicationDirectory, name).FullPath();
  if (!full.IsEmpty()) {
    return full;
  }
  SharedWString text(name);
  NormalizePath(text);
  return text;
}

void TellUser(const SharedWString& message) {
  MessageBoxW(nullptr, message.Chars(), L"Quorvel", MB_ICONERROR);
}

}  // namespace

RetryPause SetRetryPause(RetryPause pause) {
  const RetryPause previous = g_retryPause;
  g_retryPause = pause;
  return previous;
}

void PublishResult(HRESULT result) {
  SharedWString variable;
  Format(variable, L"QUORVEL_RESULT=0x%08x", static_cast<unsigned>(result));
  _wputenv(variable.Chars());
}

void PublishFileName(const SharedWString& name) {
  SharedWString variable;
  Format(variable, L"QUORVEL_FILENAME=%ls", name.Chars());
  _wputenv(variable.Chars());
}

HRESULT CheckFileList(const PatchRun& run, SharedWString& badName) {
  std::vector<SharedWString> seen;
  for (const SharedWString& name : run.files) {
    const SharedWString source = PathIn(run.patchDirectory, name).FullPath();
    const SharedWString target = PathIn(run.applicationDirectory, name).FullPath();
    const SharedWString backup = PathIn(run.backupDirectory, name).FullPath();
    if (SamePath(source, target) || SamePath(source, backup) || SamePath(target, backup)) {
      RunLog::Write(
          "Refusing to patch \"%ls\": its patch, application and backup paths are not three "
          "different files\n",
          name.Chars());
      badName = name;
      return E_INVALIDARG;
    }
    const SharedWString identity = Identity(run, name);
    for (const SharedWString& earlier : seen) {
      if (_wcsicmp(earlier.Chars(), identity.Chars()) == 0) {
        RunLog::Write("Refusing to patch \"%ls\": the file is listed more than once\n",
                      name.Chars());
        badName = name;
        return E_INVALIDARG;
      }
    }
    seen.push_back(identity);
  }
  return S_OK;
}

HRESULT PatchFiles(PatchRun& run) {
  LoggingPatchObserver observer;
  BackupLedger ledger;
  SharedWString failedName;
  HRESULT hr = CheckFileList(run, failedName);
  bool refused = FAILED(hr);

  for (int attempt = 0; !refused && attempt < kPatchAttempts; ++attempt) {
    if (attempt > 0) {
      RunLog::Write("Patch failed. Retry %d ...\n", attempt);
    }
    if (FAILED(hr)) {
      g_retryPause(kRetryPauseMilliseconds);
    }
    while (!run.files.empty()) {
      const SharedWString name = run.files.front();
      hr = PatchFile(name, run.patchDirectory, run.applicationDirectory, run.backupDirectory,
                     &observer, &ledger);
      if (FAILED(hr)) {
        const DWORD code = static_cast<DWORD>(hr) & 0xFFFF;
        RunLog::Write("Copy failed, HResult 0x%08x, error %d %ls\n", static_cast<unsigned>(hr),
                      static_cast<int>(code), SystemErrorText(code).Chars());
        failedName = name;
        break;
      }
      run.appliedFiles.push_back(name);
      run.files.pop_front();
    }
    if (SUCCEEDED(hr)) {
      RunLog::Write("All Quorvel patches successful\n");
      PublishResult(hr);
      return hr;
    }
  }

  PublishResult(hr);
  SharedWString message;
  Format(message, L"Could not patch file \"%ls\", error 0x%08x", failedName.Chars(),
         static_cast<unsigned>(hr));
  RunLog::Write("%ls\n", message.Chars());
  if (!refused) {
    RevertPatches(run);
  }
  PublishFileName(failedName);
  if ((static_cast<DWORD>(hr) & 0x1FFF0000) == 0x00070000) {
    const DWORD code = static_cast<DWORD>(hr) & 0xFFFF;
    Format(message, L"Could not patch file \"%ls\", error %d: %ls", failedName.Chars(),
           static_cast<int>(code), SystemErrorText(code).Chars());
  }
  TellUser(message);
  return hr;
}

}  // namespace quorvel
