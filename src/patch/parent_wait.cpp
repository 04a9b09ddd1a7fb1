#include "patch/parent_wait.h"

#include <new>

#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "patch/progress_window.h"

namespace quorvel {

HRESULT WaitForParentProcess(PatchRun& run) {
  RunLog::Write("Waiting for the parent process to end\n");
  run.Progress().WaitingForLauncher();
  if (run.parentPid == GetCurrentProcessId()) {
    // A host that runs the library in-process and names itself would wait for its own end.
    RunLog::Write("The parent process is this process (pid %d), not waiting for it\n",
                  static_cast<int>(run.parentPid));
  } else {
    ScopedHandle parent(OpenProcess(SYNCHRONIZE, FALSE, run.parentPid));
    if (!parent.IsValid()) {
      const DWORD error = GetLastError();
      RunLog::Write("Could not open the parent process, HResult: 0x%08x, error: %d %ls",
                    static_cast<unsigned>(HRESULT_FROM_WIN32(error)), static_cast<int>(error),
                    SystemErrorText(error).Chars());
    } else if (WaitForSingleObject(parent.Get(), INFINITE) == WAIT_FAILED) {
      const DWORD error = GetLastError();
      RunLog::Write("Could not wait for the parent process, HResult: 0x%08x, error: %d %ls\n",
                    static_cast<unsigned>(HRESULT_FROM_WIN32(error)), static_cast<int>(error),
                    SystemErrorText(error).Chars());
    }
  }
  // The run goes on in every case; without memory for the window it goes on without one.
  if (!run.displayText.IsEmpty()) {
    run.progressWindow.reset(new (std::nothrow) ProgressWindowThread(run.displayText));
  }
  return S_OK;
}

}  // namespace quorvel
