#include "patch/entry/run_driver.h"

#include <ctime>
#include <exception>
#include <new>

#include "foundation/run_log.h"
#include "patch/apply/patch_files.h"
#include "patch/arguments/run_arguments.h"
#include "patch/launcher/game_lock.h"
#include "patch/launcher/parent_wait.h"
#include "patch/launcher/post_patch_command.h"
#include "patch/run/patch_run.h"
#include "patch/run/run_result.h"

namespace quorvel {
namespace {

const char kFailedBanner[] = "\n======= Quorvel Failed %s %s ============\n";

// The steps in order. launcherDue is true from when the arguments have named the launcher until
// the post-patch command has been tried. lock is the caller's, so that a run stopped by an
// exception still holds the game while it restarts the launcher.
int RunSteps(PatchRun& run, const wchar_t* commandLine, bool& launcherDue, GameLock& lock) {
  if (FAILED(ParseRunArguments(run, commandLine))) {
    WriteBanner(kFailedBanner);
    return 0;
  }
  launcherDue = true;
  WaitForParentProcess(run);
  if (FAILED(lock.Take(run))) {
    // The run that holds the game restarts the launcher; this one changed nothing.
    launcherDue = false;
    PublishResult(kGameLockTimedOut);
    WriteBanner(kFailedBanner);
    return 0;
  }
  const HRESULT patched = PatchFiles(run);
  // The launcher comes back even after a failed patch. The lock is held until it has started,
  // so that a run that ends at the same moment sees it running and starts no second one.
  const HRESULT restarted = RunPostPatchCommand(run);
  lock.Release();
  launcherDue = false;
  const bool completed = SUCCEEDED(patched) && SUCCEEDED(restarted);
  // The banner is written while the progress window is still open; the run's record, and with
  // it the window, goes afterwards.
  WriteBanner(completed ? "\n======= Quorvel Complete %s %s ============\n" : kFailedBanner);
  return completed ? 1 : 0;
}

// Ends a run that an exception stopped: the launcher comes back as after any failed patch, told
// the result, and the run ends Failed.
int EndStoppedRun(PatchRun& run, bool launcherDue, const char* what, HRESULT result) {
  RunLog::Write("The run stopped on an exception (%s), HResult 0x%08x\n", what,
                static_cast<unsigned>(result));
  if (launcherDue) {
    PublishResult(result);
    try {
      RunPostPatchCommand(run);
    } catch (...) {
      RunLog::Write("Could not restart the launcher after the exception\n");
    }
  }
  WriteBanner(kFailedBanner);
  return 0;
}

}  // namespace

void WriteBanner(const char* pattern) {
  char date[16] = {};
  char time[16] = {};
  _strdate(date);
  _strtime(time);
  RunLog::Write(pattern, date, time);
}

int RunPatch(const wchar_t* commandLine) {
  PatchRun run;
  bool launcherDue = false;
  GameLock lock;
  try {
    return RunSteps(run, commandLine, launcherDue, lock);
  } catch (const std::bad_alloc& error) {
    return EndStoppedRun(run, launcherDue, error.what(), E_OUTOFMEMORY);
  } catch (const std::exception& error) {
    return EndStoppedRun(run, launcherDue, error.what(), E_UNEXPECTED);
  } catch (...) {
    return EndStoppedRun(run, launcherDue, "unknown", E_UNEXPECTED);
  }
}

}  // namespace quorvel
