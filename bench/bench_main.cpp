// The benchmark: what a patch run costs per file against the floor of the work it must do, what
// the host process costs, and what string operations allocate. Prints figures only.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "case_runner.h"
#include "child_process.h"
#include "command_line_capacity.h"
#include "foundation/run_log.h"
#include "host_runs.h"
#include "patch/arguments/run_arguments.h"
#include "patch/run/patch_run.h"
#include "patch_tree.h"
#include "string_allocations.h"

namespace quorvel::bench {
namespace {

struct CaseFigures {
  std::vector<double> run;    // microseconds of every repetition of the run
  std::vector<double> floor;  // and of its floor
  std::vector<double> parse;  // of each parse of a list file, in list-file cases
  SIZE_T peakWorkingSet = 0;  // bytes
  std::string text;           // what the child wrote
};

// Runs one case in a child process and reads what it wrote.
bool RunCaseChild(BenchCase benchCase, size_t files, int repetitions, CaseFigures& figures,
                  bool listFile = false) {
  const std::wstring results = FreshFolderName(L"results") + L".txt";
  const ChildRun child =
      RunChild(ProgramPath().c_str(),
               L"\"" + ProgramPath() + L"\" " +
                   CaseArguments(benchCase, files, repetitions, results, listFile),
               false);
  FILE* in = _wfopen(results.c_str(), L"r");
  if (in != nullptr) {
    char line[512];
    while (fgets(line, sizeof(line), in) != nullptr) {
      figures.text += line;
      if (strncmp(line, "run ", 4) == 0) {
        figures.run.push_back(atof(line + 4));
      } else if (strncmp(line, "floor ", 6) == 0) {
        figures.floor.push_back(atof(line + 6));
      } else if (strncmp(line, "parse ", 6) == 0) {
        figures.parse.push_back(atof(line + 6));
      } else if (strncmp(line, "peak ", 5) == 0) {
        figures.peakWorkingSet = static_cast<SIZE_T>(_strtoui64(line + 5, nullptr, 10));
      }
    }
    fclose(in);
    DeleteFileW(results.c_str());
  }
  const bool ok = child.started && child.exitCode == 0;
  if (!ok) {
    printf("  a child run failed (exit code %lu)\n%s", child.exitCode, figures.text.c_str());
  }
  return ok;
}

double Megabytes(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void PrintRow(const char* label, size_t files, const std::vector<double>& microseconds,
              const std::vector<double>& floor, SIZE_T peak) {
  const double median = Median(microseconds);
  printf("  %-38s %5zu %4zu %9.1f %8.1f %8.1f %6.2f %6.2f %7.1f\n", label, files,
         microseconds.size(), median / 1000, Minimum(microseconds) / 1000,
         median / static_cast<double>(files), PairedRatio(microseconds, floor),
         Median(floor) > 0 ? median / Median(floor) : 0, Megabytes(peak));
}

void PrintHeader() {
  printf("  %-38s %5s %4s %9s %8s %8s %6s %6s %7s\n", "", "files", "reps", "median ms", "min ms",
         "us/file", "ratio", "ratio", "peak WS");
  printf("  %-38s %5s %4s %9s %8s %8s %6s %6s %7s\n", "", "", "", "", "", "(median)", "paired",
         "of med", "MB");
}

struct Comparison {
  const char* floorLabel;
  BenchCase floorAlone;
  const char* runLabel;
  BenchCase runAlone;
  BenchCase pair;
};

// The run against its floor: timed by turns in one child process, so that a slower or faster
// spell of the shared machine falls on both; the peak working set of each comes from a child
// that does only that once. Returns the run's median microseconds per file (0 when it failed)
// and adds the parses of a list file to parses.
double Compare(const Comparison& comparison, size_t files, int repetitions, bool listFile = false,
               std::vector<double>* parses = nullptr) {
  CaseFigures timed;
  CaseFigures floorAlone;
  CaseFigures runAlone;
  if (!RunCaseChild(comparison.pair, files, repetitions, timed, listFile) ||
      !RunCaseChild(comparison.floorAlone, files, 1, floorAlone, listFile) ||
      !RunCaseChild(comparison.runAlone, files, 1, runAlone, listFile)) {
    return 0;
  }
  PrintRow(comparison.floorLabel, files, timed.floor, timed.floor, floorAlone.peakWorkingSet);
  PrintRow(comparison.runLabel, files, timed.run, timed.floor, runAlone.peakWorkingSet);
  if (parses != nullptr) {
    parses->insert(parses->end(), timed.parse.begin(), timed.parse.end());
  }
  return Median(timed.run) / static_cast<double>(files);
}

// Patches too large for one command line, with their names in a list file: each run parses the
// list (its "File:" log lines included) before it is timed; the peak working set includes it.
void CompareListFiles(const Comparison& patch, const Comparison& revert) {
  const size_t small = 1000;
  const size_t large = 20000;
  printf(
      "\nThe same with the names in a list file (\"@<list>\" in the count's place), parsed\n"
      "before every run:\n");
  PrintHeader();
  double perFile[2][2] = {};
  std::vector<double> parses[2];
  const Comparison* comparisons[] = {&patch, &revert};
  for (int c = 0; c < 2; ++c) {
    perFile[c][0] = Compare(*comparisons[c], small, 5, true, &parses[0]);
    perFile[c][1] = Compare(*comparisons[c], large, 3, true, &parses[1]);
  }
  printf("  per-file cost at %zu against %zu: PatchFiles %.2f, RevertPatches %.2f\n", large, small,
         perFile[0][0] > 0 ? perFile[0][1] / perFile[0][0] : 0,
         perFile[1][0] > 0 ? perFile[1][1] / perFile[1][0] : 0);
  printf(
      "  ParseRunArguments with the list file (median): %.1f ms at %zu (%.1f us/name), "
      "%.1f ms at %zu (%.1f us/name)\n",
      Median(parses[0]) / 1000, small, Median(parses[0]) / static_cast<double>(small),
      Median(parses[1]) / 1000, large, Median(parses[1]) / static_cast<double>(large));
}

// The largest list that one command line carries, checked by parsing it as a run does.
size_t ReportCommandLineCapacity() {
  const size_t largest = LargestPatchOnOneCommandLine();
  size_t shortest = ~size_t(0);
  size_t longest = 0;
  size_t total = 0;
  for (size_t i = 0; i < largest; ++i) {
    const size_t length = PatchName(i).size();
    shortest = length < shortest ? length : shortest;
    longest = length > longest ? length : longest;
    total += length;
  }
  const size_t used = HostCommandLine(largest).size() + 1;
  const size_t next = HostCommandLine(largest + 1).size() + 1;

  const std::wstring log = FreshFolderName(L"parse") + L".log";
  RunLog::SetPath(L"%ls", log.c_str());
  PatchRun run;
  const HRESULT parsed = ParseRunArguments(run, RunArguments(largest).c_str());
  DeleteFileW(log.c_str());
  RunLog::SetPath(L"");

  printf("Largest patch on one command line: %zu files\n", largest);
  printf("  names like %ls: %zu to %zu characters, mean %.1f\n", PatchName(0).c_str(), shortest,
         longest, static_cast<double>(total) / static_cast<double>(largest));
  printf(
      "  rundll32 command line with the run's folders under C:\\Program Files (x86): %zu of\n"
      "  %zu characters with the terminator (one more file would need %zu)\n",
      used, kCommandLineLimit, next);
  printf("  parsed as a run: 0x%08x, %zu files\n\n", static_cast<unsigned>(parsed),
         run.files.size());
  return largest;
}

int RunAll() {
  printf("Quorvel benchmark: medians of repetitions, each case in a process of its own\n\n");
  const size_t largest = ReportCommandLineCapacity();

  struct Size {
    size_t files;
    int repetitions;
  };
  const Size sizes[] = {{100, 9}, {1000, 5}, {largest, 5}};
  const Comparison patch = {"floor: 2 MoveFileW + 2 log writes/file", BenchCase::kPatchFloor,
                            "PatchFiles", BenchCase::kPatch, BenchCase::kPatchPair};
  const Comparison revert = {"floor: 2 MoveFileW + 1 log write/file", BenchCase::kRevertFloor,
                             "RevertPatches", BenchCase::kRevert, BenchCase::kRevertPair};
  printf(
      "Patch runs: every file replaces an existing one, in a nested tree. Ratio to the floor:\n"
      "  \"paired\" is the median of each repetition against the floor measured beside it,\n"
      "  \"of med\" the median against the floor's median.\n");
  PrintHeader();
  for (const Comparison* comparison : {&patch, &revert}) {
    for (const Size& size : sizes) {
      Compare(*comparison, size.files, size.repetitions);
    }
  }
  CompareListFiles(patch, revert);

  printf("\nWhere the time goes, counted at this program's imports:\n");
  CaseFigures calls;
  if (RunCaseChild(BenchCase::kCalls, largest, 1, calls)) {
    printf("%s", calls.text.c_str());
  }

  printf("\nHost process:\n");
  ReportHostRuns(9);

  printf("\nString allocations:\n");
  ReportStringAllocations();
  return 0;
}

}  // namespace
}  // namespace quorvel::bench

int wmain(int argc, wchar_t** argv) {
  if (quorvel::bench::IsCaseRun(argc, argv)) {
    return quorvel::bench::RunCase(argc, argv);
  }
  return quorvel::bench::RunAll();
}
