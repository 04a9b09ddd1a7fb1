#pragma once

// What a run hands its launcher: the result and the failed name, in the environment the
// restarted launcher inherits.

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// Sets QUORVEL_RESULT in the process environment and removes QUORVEL_FILENAME, so that only a
// name that this run publishes after it reaches the launcher.
void PublishResult(HRESULT result);
// Sets QUORVEL_FILENAME in the process environment (an empty name removes it).
void PublishFileName(const SharedWString& name);

}  // namespace quorvel
