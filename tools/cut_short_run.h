#pragma once

#include <windows.h>

// The exit code of cut_short_run when it ended itself before the chosen journal record.
constexpr DWORD kCutShortExitCode = 3;
