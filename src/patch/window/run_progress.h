#pragma once

#include <windows.h>

#include <cstddef>

#include "foundation/shared_string.h"

namespace quorvel {

// What a run tells whoever shows its progress to the player. Every call comes from the run's
// thread and returns at once; none may block on another thread. The defaults do nothing, so a
// run without a window pays one empty call per event.
class RunProgress {
 public:
  // The run waits for the launcher process to end.
  virtual void WaitingForLauncher() {}
  // The run waits for another run on the same game to end.
  virtual void WaitingForOtherRun() {}
  // Before the cut-short run that the previous process left behind is restored.
  virtual void Restoring() {}
  // The file name, number (from 1) of the count files of the cut-short run, is being put back.
  virtual void RestoringFile(size_t /*number*/, size_t /*count*/, const SharedWString& /*name*/) {}
  // The file name is being applied, after the applied files before it; remaining files, name
  // among them, are still to be applied.
  virtual void Applying(size_t /*applied*/, size_t /*remaining*/, const SharedWString& /*name*/) {}
  // An attempt failed on the file name with result; attempt nextAttempt (from 1) of attempts
  // follows after a pause.
  virtual void WaitingToRetry(const SharedWString& /*name*/, HRESULT /*result*/,
                              int /*nextAttempt*/, int /*attempts*/) {}
  // The file name, number (from 1) of the count applied files, is being put back.
  virtual void Reverting(size_t /*number*/, size_t /*count*/, const SharedWString& /*name*/) {}

 protected:
  // Nobody deletes a sink through this interface; its owner knows its type.
  ~RunProgress() = default;
};

// The sink of a run that has no window: it ignores every event.
RunProgress& NoRunProgress();

}  // namespace quorvel
