#include "patch/run_driver.h"

#include <ctime>

#include "foundation/run_log.h"
#include "patch/patch_run.h"
#include "patch/run_steps.h"

namespace quorvel {

void WriteBanner(const char* pattern) {
  char date[16] = {};
  char time[16] = {};
  _strdate(date);
  _strtime(time);
  RunLog::Write(pattern, date, time);
}

int RunPatch(const wchar_t* commandLine) {
  PatchRun run;
  if (FAILED(ParseRunArguments(run, commandLine))) {
    WriteBanner("\n======= Quorvel Failed %s %s ============\n");
    return 0;
  }
  WaitForParentProcess(run);
  bool completed = false;
  if (FAILED(PatchFiles(run))) {
    // The launcher comes back even after a failed patch.
    RunPostPatchCommand(run);
  } else {
    completed = SUCCEEDED(RunPostPatchCommand(run));
  }
  // The banner is written while the progress window is still open; the run's record, and with
  // it the window, goes afterwards.
  WriteBanner(completed ? "\n======= Quorvel Complete %s %s ============\n"
                        : "\n======= Quorvel Failed %s %s ============\n");
  return completed ? 1 : 0;
}

}  // namespace quorvel
