#pragma once

#include <windows.h>

// The exit code of cut_short_run when it ended itself before the chosen journal record.
constexpr DWORD kCutShortExitCode = 3;

// The size of a file whose copy the tests cut short part-way: large enough that a run is seen
// copying it.
constexpr DWORD kLargeFileBytes = 48u << 20;
