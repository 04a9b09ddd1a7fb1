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
  HostSeries series[2] = {
      {"empty entry point", L"rundll32.exe \"" + folder + L"\\bench_empty_entry.dll\",Empty", {},
       {}},
      {"QuorvelW, bad command line", L"rundll32.exe \"" + folder + L"\\Quorvel.dll\",Quorvel", {},
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
  printf("  %-34s %5s %10s %9s %12s\n", "rundll32.exe calling", "reps", "median ms", "vs floor",
         "peak WS MB");
  const double floor = Median(series[0].milliseconds);
  for (const HostSeries& host : series) {
    if (host.failed) {
      printf("  %-34s could not be started\n", host.label);
      continue;
    }
    const double median = Median(host.milliseconds);
    printf("  %-34s %5d %10.2f %9.2f %12.1f\n", host.label, repetitions, median,
           floor > 0 ? median / floor : 0, Median(host.peakMegabytes));
  }
  printf("  (the whole host process, from CreateProcessW to its end; the peak is the median of\n"
         "  %d further runs, watched while they run; the run log folder %s, so the refused run\n"
         "  %s its opening banner, two lines and the closing banner)\n",
         kPeakRuns, logged ? "exists" : "is missing", logged ? "writes" : "cannot write");
}

}  // namespace quorvel::bench
