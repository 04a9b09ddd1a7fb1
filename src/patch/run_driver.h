#pragma once

#include <windows.h>

namespace quorvel {

// One patch run on the calling thread: arguments, wait, patch, post-patch command, then the
// closing banner. Returns 1 when the run completed and 0 when it failed.
int RunPatch(const wchar_t* commandLine);

// Writes a banner pattern with two %s: the date (MM/DD/YY) and the time (HH:MM:SS).
void WriteBanner(const char* pattern);

}  // namespace quorvel
