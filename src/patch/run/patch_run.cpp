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

// The window must close before anything else goes: its thread still shows displayText. The
// members then go in the reverse order of their declaration.
PatchRun::~PatchRun() { progressWindow.reset(); }

}  // namespace quorvel
