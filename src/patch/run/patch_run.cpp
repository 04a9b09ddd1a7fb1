#include "patch/run/patch_run.h"

#include "patch/window/progress_window.h"

namespace quorvel {

PatchRun::PatchRun() = default;

RunProgress& PatchRun::Progress() const {
  if (progressWindow != nullptr) {
    return *progressWindow;
  }
  return NoRunProgress();
}

PatchRun::~PatchRun() {
  // The window must close before anything else goes: its thread still shows displayText.
  progressWindow.reset();
  displayText.Clear();
  postPatchArguments.Clear();
  postPatchCommand.Clear();
  appliedFiles.clear();
  files.clear();
  backupDirectory.Clear();
  applicationDirectory.Clear();
  patchDirectory.Clear();
}

}  // namespace quorvel
