#pragma once

#include <windows.h>

namespace quorvel {

// One patch run on the calling thread: arguments, wait, patch, post-patch command, then the
// closing banner. Returns 1 when the run completed and 0 when it failed. No exception leaves it:
// one that escapes a step (see heap.h) is logged and the run ends Failed, with the launcher
// restarted once the arguments have named it.
int RunPatch(const wchar_t* commandLine);

// Writes a banner pattern with two %s: the date (MM/DD/YY) and the time (HH:MM:SS).
void WriteBanner(const char* pattern);

}  // namespace quorvel
