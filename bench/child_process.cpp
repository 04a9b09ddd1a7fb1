#include "child_process.h"

#include <psapi.h>

#include "bench_clock.h"
#include "foundation/scoped_handle.h"

namespace quorvel::bench {

namespace {

void AskPeak(HANDLE process, SIZE_T& peak) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (GetProcessMemoryInfo(process, &counters, sizeof(counters)) &&
      counters.PeakWorkingSetSize > peak) {
    peak = counters.PeakWorkingSetSize;
  }
}

}  // namespace

ChildRun RunChild(const wchar_t* application, std::wstring commandLine, bool watchPeak) {
  ChildRun run;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const Stopwatch stopwatch;
  if (!CreateProcessW(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return run;
  }
  ScopedHandle processHandle(process.hProcess);
  ScopedHandle threadHandle(process.hThread);
  if (watchPeak) {
    while (WaitForSingleObject(processHandle.Get(), 1) == WAIT_TIMEOUT) {
      AskPeak(processHandle.Get(), run.peakWorkingSet);
    }
  } else {
    WaitForSingleObject(processHandle.Get(), INFINITE);
  }
  run.microseconds = stopwatch.Microseconds();
  run.started = true;
  GetExitCodeProcess(processHandle.Get(), &run.exitCode);
  if (watchPeak) {
    AskPeak(processHandle.Get(), run.peakWorkingSet);
  }
  return run;
}

std::wstring ProgramPath() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring ProgramFolder() {
  std::wstring path = ProgramPath();
  return path.substr(0, path.find_last_of(L'\\'));
}

}  // namespace quorvel::bench
