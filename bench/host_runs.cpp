#include "host_runs.h"

#include <shlobj.h>

#include <cstdio>
#include <vector>

#include "bench_clock.h"
#include "child_process.h"

namespace quorvel::bench {
namespace {

constexpr int kPeakRuns = 3;

struct HostSeries {
  const char* label;
  std::wstring commandLine;
  std::vector<double> milliseconds;
  std::vector<double> peakMegabytes;
  bool failed = false;
};

// The run log's folder in the user's profile: a launcher's installer makes it, and the run
// writes its lines only when it is there.
bool EnsureLogFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE)) {
    return false;
  }
  const std::wstring path = std::wstring(folder) + L"\\Brinmoor";
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

void ReportHostRuns(int repetitions) {
  const bool logged = EnsureLogFolder();
  const std::wstring folder = ProgramFolder();
  HostSeries series[2] = {{"empty entry point",
                           L"rundll32.exe \"" + folder + L"\\bench_empty_entry.dll\",Empty",
                           {},
                           {}},
                          {"QuorvelW, bad command line",
                           L"rundll32.exe \"" + folder + L"\\Quorvel.dll\",Quorvel",
                           {},
                           {}}};
  // Alternating spreads any drift of the machine over both. The peak comes from runs of its
  // own, watched, so that the timed runs are not slowed by the watching.
  for (int r = 0; r < repetitions + kPeakRuns; ++r) {
    for (HostSeries& host : series) {
      const bool watched = r >= repetitions;
      const ChildRun run = RunChild(nullptr, host.commandLine, watched);
      host.failed |= !run.started;
      if (watched) {
        host.peakMegabytes.push_back(static_cast<double>(run.peakWorkingSet) / (1024.0 * 1024.0));
      } else {
        host.milliseconds.push_back(run.microseconds / 1000);
      }
    }
  }
  printf("  %-34s %5s %9s %8s %6s %6s %10s\n", "rundll32.exe calling", "reps", "median ms",
         "min ms", "paired", "of med", "peak WS MB");
  const std::vector<double>& floor = series[0].milliseconds;
  for (const HostSeries& host : series) {
    if (host.failed) {
      printf("  %-34s could not be started\n", host.label);
      continue;
    }
    const double median = Median(host.milliseconds);
    printf("  %-34s %5d %9.1f %8.1f %6.2f %6.2f %10.1f\n", host.label, repetitions, median,
           Minimum(host.milliseconds), PairedRatio(host.milliseconds, floor),
           median / Median(floor), Median(host.peakMegabytes));
  }
  printf(
      "  (the whole host process, from CreateProcessW to its end; the peak is the median of\n"
      "  %d further runs, watched while they run; the run log folder %s, so the refused run\n"
      "  %s its opening banner, two lines and the closing banner)\n",
      kPeakRuns, logged ? "exists" : "is missing", logged ? "writes" : "cannot write");
}

}  // namespace quorvel::bench
