#include "patch/patch_files.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "files/file_path.h"
#include "foundation/format.h"
#include "foundation/path_strings.h"
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

// Whether path lies inside folder (both full paths; an empty one is never inside anything).
bool Inside(const SharedWString& path, const SharedWString& folder) {
  if (path.IsEmpty() || folder.IsEmpty()) {
    return false;
  }
  const uint32_t length = folder.Length();
  return path.Length() > length && _wcsnicmp(path.Chars(), folder.Chars(), length) == 0 &&
         (path.Chars()[length] == L'\\' || folder.Chars()[length - 1] == L'\\');
}

// The three roles of a run: where new files come from, where they go, where old ones are kept.
struct Role {
  const char* what;
  SharedWString folder;  // full path
  SharedWString path;    // full path of the name in this role
};

SharedWString FolderPath(const SharedWString& directory) {
  // Joining "." resolves a drive root such as D:\ to itself rather than to the drive's
  // current directory.
  return PathIn(directory, L".").FullPath();
}

// A name as the file system would see it, for spotting a name listed twice: its application
// path in full, or, when that cannot be resolved, the name with backslashes.
SharedWString Identity(const SharedWString& name, const SharedWString& applicationPath) {
  if (!applicationPath.IsEmpty()) {
    return applicationPath;
  }
  SharedWString text(name);
  NormalizePath(text);
  return text;
}

// The position of the first identity that an earlier one repeats (ignoring case); the count
// when none does. Sorting keeps this at n log n comparisons: a patch of thousands of files
// would otherwise compare every name with every earlier one.
size_t FirstRepeated(const std::vector<SharedWString>& identities) {
  std::vector<size_t> order(identities.size());
  for (size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
  }
  // Equal identities end up side by side, each group in list order.
  std::sort(order.begin(), order.end(), [&identities](size_t a, size_t b) {
    const int compared = _wcsicmp(identities[a].Chars(), identities[b].Chars());
    return compared != 0 ? compared < 0 : a < b;
  });
  size_t first = identities.size();
  for (size_t i = 1; i < order.size(); ++i) {
    if (order[i] < first &&
        _wcsicmp(identities[order[i - 1]].Chars(), identities[order[i]].Chars()) == 0) {
      first = order[i];
    }
  }
  return first;
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
  Role roles[3] = {{"patch", FolderPath(run.patchDirectory), SharedWString()},
                   {"application", FolderPath(run.applicationDirectory), SharedWString()},
                   {"backup", FolderPath(run.backupDirectory), SharedWString()}};
  // The application paths are resolved first, to find the first repeated name; the checks
  // below still run name by name, so the first faulty name is the one refused.
  std::vector<SharedWString> applicationPaths;
  std::vector<SharedWString> identities;
  applicationPaths.reserve(run.files.size());
  identities.reserve(run.files.size());
  for (const SharedWString& name : run.files) {
    applicationPaths.push_back(PathIn(run.applicationDirectory, name).FullPath());
    identities.push_back(Identity(name, applicationPaths.back()));
  }
  const size_t firstRepeated = FirstRepeated(identities);
  size_t index = 0;
  for (const SharedWString& name : run.files) {
    roles[0].path = PathIn(run.patchDirectory, name).FullPath();
    roles[1].path = applicationPaths[index];
    roles[2].path = PathIn(run.backupDirectory, name).FullPath();
    for (int r = 0; r < 3; ++r) {
      for (int q = 0; q < 3; ++q) {
        // A name that is a folder of the run, or one that holds it (such as Patch, . or ..),
        // would move that whole folder as if it were a file.
        if (SamePath(roles[r].path, roles[q].folder) || Inside(roles[q].folder, roles[r].path)) {
          RunLog::Write("Refusing to patch \"%ls\": its %s path <%ls> is or holds the %s folder\n",
                        name.Chars(), roles[r].what, roles[r].path.Chars(), roles[q].what);
          badName = name;
          return E_INVALIDARG;
        }
        if (q == r) {
          continue;
        }
        if (q > r && SamePath(roles[r].path, roles[q].path)) {
          RunLog::Write(
              "Refusing to patch \"%ls\": its patch, application and backup paths are not three "
              "different files\n",
              name.Chars());
          badName = name;
          return E_INVALIDARG;
        }
        // A path in another role's folder would touch that role's files (a name such as
        // Patch\x when the patch folder lies inside the application folder), unless this role's
        // whole folder lies there, as the patch folder inside the application folder does.
        if (Inside(roles[r].path, roles[q].folder) && !SamePath(roles[r].folder, roles[q].folder) &&
            !Inside(roles[r].folder, roles[q].folder)) {
          RunLog::Write("Refusing to patch \"%ls\": its %s path <%ls> lies in the %s folder <%ls>\n",
                        name.Chars(), roles[r].what, roles[r].path.Chars(), roles[q].what,
                        roles[q].folder.Chars());
          badName = name;
          return E_INVALIDARG;
        }
      }
    }
    if (index == firstRepeated) {
      RunLog::Write("Refusing to patch \"%ls\": the file is listed more than once\n",
                    name.Chars());
      badName = name;
      return E_INVALIDARG;
    }
    ++index;
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
