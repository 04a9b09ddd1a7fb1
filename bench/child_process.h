#pragma once

#include <windows.h>

#include <string>

namespace quorvel::bench {

struct ChildRun {
  bool started = false;
  DWORD exitCode = ~0u;
  double microseconds = 0;    // from just before CreateProcessW to the end of the wait
  SIZE_T peakWorkingSet = 0;  // bytes; 0 when not watched or the system would not tell
};

// Starts commandLine (application null: the system finds the program named first) and waits for
// its end. With watchPeak the wait wakes every millisecond to ask for the child's peak working
// set, and asks once more before the handle is closed: Wine answers only while the child's
// process still exists, which it may no longer do when the wait returns. Timed runs should not
// watch, since the polling competes with the child for the processor.
ChildRun RunChild(const wchar_t* application, std::wstring commandLine, bool watchPeak);

// This program's own path.
std::wstring ProgramPath();
// The folder of this program, where the DLLs of the build lie.
std::wstring ProgramFolder();

}  // namespace quorvel::bench
