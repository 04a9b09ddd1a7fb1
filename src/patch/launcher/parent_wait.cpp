#include "patch/launcher/parent_wait.h"

#include <new>

#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "patch/window/progress_window.h"

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
      QUORVEL_WRITE_FAILURE(RunLog::Write, QUORVEL_FAILURE_TAIL_COLONS_UNENDED,
                            HRESULT_FROM_WIN32(error), error, SystemErrorText(error),
                            "Could not open the parent process");
    } else if (WaitForSingleObject(parent.Get(), INFINITE) == WAIT_FAILED) {
      const DWORD error = GetLastError();
      QUORVEL_WRITE_FAILURE(RunLog::Write, QUORVEL_FAILURE_TAIL_COLONS, HRESULT_FROM_WIN32(error),
                            error, SystemErrorText(error), "Could not wait for the parent process");
    }
  }
  // The run goes on in every case; without memory for the window it goes on without one.
  if (!run.displayText.IsEmpty()) {
    run.progressWindow.reset(new (std::nothrow) ProgressWindowThread(run.displayText, run.texts));
  }
  return S_OK;
}

}  // namespace quorvel
