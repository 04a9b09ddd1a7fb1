#include "patch/launcher/post_patch_command.h"

#include <windows.h>
// psapi and shellapi need windows.h first.
#include <psapi.h>
#include <shellapi.h>

#include <cwchar>
#include <vector>

#include "files/file_path.h"
#include "files/folder_paths.h"
#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/name_key.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "foundation/win32_result.h"
#include "patch/arguments/environment_references.h"
#include "patch/run/failure_box.h"
#include "patch/steps/patch_one_file.h"

namespace quorvel {

const wchar_t kDefaultLauncher[] = L"DastryLauncher.exe";

namespace {

// Looks for the launcher in folder and copies it to candidate when it is there.
void FetchLauncher(const SharedWString& commandPath, const SharedWString& folder,
                   FilePath& candidate) {
  RunLog::Write("<%ls> not found! Looking for DastryLauncher.exe in <%ls>\n", commandPath.Chars(),
                folder.Chars());
  FilePath found = PathIn(folder, kDefaultLauncher);
  if (found.Exists()) {
    RunLog::Write("Found <%ls> copying it to <%ls>\n", found.Path().Chars(),
                  candidate.Path().Chars());
    // Under a partial name first: a copy cut short by a full disk must not stand in the game
    // folder as a launcher that every later run would take for the real one.
    CopyIntoPlace(found, candidate, false, PatchFileObserver().PartialSuffix());
  }
}

// Settles the command when the command line gave none that exists.
void ChooseDefaultLauncher(PatchRun& run) {
  FilePath candidate = PathIn(run.applicationDirectory, kDefaultLauncher);
  run.postPatchCommand = candidate.Path();
  if (candidate.Exists()) {
    return;
  }
  FilePath application = FolderPath(run.applicationDirectory);
  if (application.Exists() && application.IsDirectory()) {
    FetchLauncher(run.postPatchCommand, run.patchDirectory, candidate);
    if (!candidate.Exists()) {
      FetchLauncher(run.postPatchCommand, run.backupDirectory, candidate);
    }
  } else {
    // The copy would create the folder, and a run refused for it must change nothing.
    RunLog::Write(
        "<%ls> not found, and the application directory <%ls> is not a folder: "
        "not copying DastryLauncher.exe into it\n",
        run.postPatchCommand.Chars(), run.applicationDirectory.Chars());
  }
  if (!candidate.Exists()) {
    RunLog::Write("Could not find an executable anywhere!");
  }
}

std::vector<DWORD> ProcessIds(bool& ok) {
  std::vector<DWORD> ids(4096 / sizeof(DWORD));
  for (;;) {
    const DWORD size = static_cast<DWORD>(ids.size() * sizeof(DWORD));
    DWORD returned = 0;
    if (!EnumProcesses(ids.data(), size, &returned)) {
      ok = false;
      return {};
    }
    if (returned != size) {
      ids.resize(returned / sizeof(DWORD));
      ok = true;
      return ids;
    }
    ids.resize(ids.size() * 2);
  }
}

}  // namespace

bool IsLauncherRunning(const SharedWString& commandPath) {
  const SharedWString full = FilePath(commandPath).FullPath();
  // Without a drive and a path to compare, every process would match.
  if (full.Length() < 3) {
    return false;
  }
  const SharedWString drive = full.Mid(0, 1);
  const SharedWString rest = full.Mid(2, full.Length());
  bool ok = false;
  const std::vector<DWORD> ids = ProcessIds(ok);
  if (!ok) {
    return false;
  }
  for (DWORD id : ids) {
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    if (!process.IsValid()) {
      continue;
    }
    wchar_t image[MAX_PATH] = {};
    if (GetProcessImageFileNameW(process.Get(), image, MAX_PATH) == 0) {
      continue;
    }
    // The image is named in device form (\Device\HarddiskVolume2\...): drop leading components
    // until it is no longer than the command's path without its drive.
    SharedWString name(image);
    while (!name.IsEmpty() && name.Length() > rest.Length()) {
      const wchar_t* next = wcschr(name.Chars() + 1, L'\\');
      if (next == nullptr) {
        name.Clear();
      } else {
        name = SharedWString(next);
      }
    }
    if (CompareNames(name, rest) != 0) {
      continue;
    }
    const SharedWString named = FilePath(name).FullPath();
    if (CompareNames(named.Mid(0, 1), drive) == 0) {
      return true;
    }
  }
  return false;
}

HRESULT RunPostPatchCommand(PatchRun& run) {
  if (run.postPatchCommand.IsEmpty()) {
    ChooseDefaultLauncher(run);
  }
  if (IsLauncherRunning(run.postPatchCommand)) {
    RunLog::Write("A launcher is already running\n");
    return S_OK;
  }
  run.postPatchArguments = ExpandQuotedArguments(run.postPatchArguments);

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = run.postPatchCommand.Chars();
  info.lpParameters = run.postPatchArguments.Chars();
  info.nShow = SW_SHOWNORMAL;
  RunLog::Write("Executing post patch command: %ls %ls\n", run.postPatchCommand.Chars(),
                run.postPatchArguments.Chars());
  if (ShellExecuteExW(&info)) {
    // The run does not wait for the launcher; it only lets go of its handle.
    ScopedHandle started(info.hProcess);
    return S_OK;
  }
  const DWORD code = GetLastError();
  // A start that fails without an error code still fails.
  const HRESULT hr = FailureResult(code);
  const SharedWString text = SystemErrorText(code);
  QUORVEL_WRITE_FAILURE(RunLog::Write, QUORVEL_FAILURE_TAIL_HRESULT_COLON, hr, code, text,
                        "Failed to launch post patch command");
  ShowFailureBox(run, RestartFailedMessage(run.texts, code, text));
  return hr;
}

}  // namespace quorvel
