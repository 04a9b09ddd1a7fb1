#include "case_runner.h"

// The system headers below need windows.h first.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "bench_clock.h"
#include "call_counters.h"
#include "floor_loop.h"
#include "foundation/run_log.h"
#include "patch/apply/patch_files.h"
#include "patch/apply/revert_patches.h"
#include "patch/arguments/run_arguments.h"
#include "patch/checks/run_checks.h"
#include "patch/run/patch_run.h"
#include "patch/steps/held_folders.h"
#include "patch_tree.h"

namespace quorvel::bench {
namespace {

const wchar_t* const kCaseNames[] = {L"patch",      L"patch-floor", L"revert", L"revert-floor",
                                     L"patch-pair", L"revert-pair", L"calls"};

// The list file of a list-file case, empty in the others.
std::wstring g_listFile;
// The microseconds of each parse of the list file, written with the results.
std::vector<double> g_parses;

// Writes the tree's names, UTF-8 with CR LF, as a launcher writes a list file.
bool WriteListFile(const PatchTree& tree, const std::wstring& path) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) {
    return false;
  }
  for (const std::wstring& name : tree.Names()) {
    fprintf(out, "%ls\r\n", name.c_str());  // the names are ASCII
  }
  return fclose(out) == 0;
}

// A run record for the tree: its folders as a launcher passes them, the names as still to apply
// (patch) or as applied (revert), parsed from the list file when there is one.
bool FillRun(PatchRun& run, const PatchTree& tree, bool applied) {
  if (!g_listFile.empty()) {
    // The command is a folder, which counts as found: no process is asked for its executable.
    const std::wstring line = L"12 \"" + tree.Patch() + L"\" \"" + tree.Application() + L"\" \"" +
                              tree.Backup() + L"\" \"@" + g_listFile + L"\" \"" + tree.Root() +
                              L"\"";
    const Stopwatch stopwatch;
    const HRESULT hr = ParseRunArguments(run, line.c_str());
    g_parses.push_back(stopwatch.Microseconds());
    if (applied) {
      run.appliedFiles.swap(run.files);
    }
    return hr == S_OK && (applied ? run.appliedFiles : run.files).size() == tree.Names().size();
  }
  run.patchDirectory = tree.Patch().c_str();
  run.applicationDirectory = tree.Application().c_str();
  run.backupDirectory = tree.Backup().c_str();
  NameList& list = applied ? run.appliedFiles : run.files;
  for (const std::wstring& name : tree.Names()) {
    list.push_back(SharedWString(name.c_str()));
  }
  return true;
}

bool TimedPatch(const PatchTree& tree, double& microseconds) {
  PatchRun run;
  if (!FillRun(run, tree, false)) {
    return false;
  }
  const Stopwatch stopwatch;
  const HRESULT hr = PatchFiles(run);
  microseconds = stopwatch.Microseconds();
  return hr == S_OK && run.appliedFiles.size() == tree.Names().size();
}

// The revert as a failed run makes it: through the plan its checks built and the folders it
// holds, both ready before the revert begins and neither timed nor counted (tally: the calls of
// the revert alone).
bool TimedRevert(const PatchTree& tree, double& microseconds, CallTally* tally = nullptr) {
  PatchRun run;
  if (!FillRun(run, tree, false)) {
    return false;
  }
  RunPlan plan;
  RunRefusal refusal;
  if (FAILED(CheckRun(run, refusal, plan, true))) {
    return false;
  }
  HeldFolders held(plan);
  run.plan = &plan;
  run.heldFolders = &held;
  run.appliedFiles.swap(run.files);
  const CallTally before = CurrentTally();
  const Stopwatch stopwatch;
  const HRESULT hr = RevertPatches(run);
  microseconds = stopwatch.Microseconds();
  if (tally != nullptr) {
    *tally = CurrentTally() - before;
  }
  return hr == S_OK;
}

bool TimedFloor(const FloorLoop& loop, double& microseconds) {
  const Stopwatch stopwatch;
  const bool ok = loop.Run();
  microseconds = stopwatch.Microseconds();
  return ok;
}

// Each of these starts and ends with the tree as it was made: old files in the application
// folder, new ones in the patch folder, no folders in the backup folder.

bool PatchOnce(const PatchTree& tree, double& microseconds) {
  return TimedPatch(tree, microseconds) && tree.RevertPlainly();
}

bool RevertOnce(const PatchTree& tree, double& microseconds) {
  return tree.ApplyPlainly() && TimedRevert(tree, microseconds);
}

std::wstring FloorLog(const PatchTree& tree) { return tree.Root() + L"\\floor.log"; }

// The floor finds every folder in place: it moves and writes, nothing else.
bool PatchFloorOnce(const PatchTree& tree, double& microseconds) {
  const FloorLoop loop = FloorLoop::Patch(tree, FloorLog(tree));
  const bool ok = tree.CreateFolders(tree.Backup()) && TimedFloor(loop, microseconds) &&
                  tree.MoveAll(tree.Application(), tree.Patch()) &&
                  tree.MoveAll(tree.Backup(), tree.Application());
  tree.RemoveEmptyFolders(tree.Backup());
  return ok;
}

bool RevertFloorOnce(const PatchTree& tree, double& microseconds) {
  const FloorLoop loop = FloorLoop::Revert(tree, FloorLog(tree));
  const bool ok = tree.CreateFolders(tree.Backup()) &&
                  tree.MoveAll(tree.Application(), tree.Backup()) &&
                  tree.MoveAll(tree.Patch(), tree.Application()) && TimedFloor(loop, microseconds);
  tree.RemoveEmptyFolders(tree.Backup());
  return ok;
}

// One repetition of a case; pairs take turns in which of the two goes first.
bool Repetition(BenchCase benchCase, int repetition, const PatchTree& tree, FILE* out) {
  double run = 0;
  double floor = 0;
  bool ok = false;
  switch (benchCase) {
    case BenchCase::kPatch:
      ok = PatchOnce(tree, run);
      break;
    case BenchCase::kRevert:
      ok = RevertOnce(tree, run);
      break;
    case BenchCase::kPatchFloor:
      ok = PatchFloorOnce(tree, floor);
      break;
    case BenchCase::kRevertFloor:
      ok = RevertFloorOnce(tree, floor);
      break;
    case BenchCase::kPatchPair:
      ok = repetition % 2 == 0 ? PatchFloorOnce(tree, floor) && PatchOnce(tree, run)
                               : PatchOnce(tree, run) && PatchFloorOnce(tree, floor);
      break;
    case BenchCase::kRevertPair:
      ok = repetition % 2 == 0 ? RevertFloorOnce(tree, floor) && RevertOnce(tree, run)
                               : RevertOnce(tree, run) && RevertFloorOnce(tree, floor);
      break;
    case BenchCase::kCalls:
      break;
  }
  if (run > 0) {
    fprintf(out, "run %.1f\n", run);
  }
  if (floor > 0) {
    fprintf(out, "floor %.1f\n", floor);
  }
  return ok;
}

void WriteTallyRow(FILE* out, Call call, const CallTally* tallies, size_t columns, size_t files) {
  fprintf(out, "  %-24s", CallName(call));
  for (size_t c = 0; c < columns; ++c) {
    const uint64_t calls = tallies[c].Calls(call);
    const double perFile = static_cast<double>(calls) / static_cast<double>(files);
    if (CallIsTimed(call) && calls != 0) {
      fprintf(out, " %8.2f %7.1f", perFile,
              tallies[c].microseconds[static_cast<int>(call)] / static_cast<double>(calls));
    } else {
      fprintf(out, " %8.2f %7s", perFile, "");
    }
  }
  fprintf(out, "\n");
}

// One patch, its revert and both floors with every counted call counted: the calls per file by
// kind, and the mean microseconds of one call of each timed kind.
int CountCalls(const PatchTree& tree, FILE* out) {
  if (!InstallCallCounters()) {
    fprintf(out, "could not redirect the counted calls\n");
    return 1;
  }
  // Columns: PatchFiles, its floor, RevertPatches, its floor.
  CallTally tallies[4];
  double totals[4] = {};
  double unused = 0;
  CallTally before = CurrentTally();
  Stopwatch stopwatch;
  bool ok = TimedPatch(tree, unused);
  totals[0] = stopwatch.Microseconds();
  tallies[0] = CurrentTally() - before;

  ok = ok && TimedRevert(tree, totals[2], &tallies[2]);

  // The floor finds every folder in place.
  ok = ok && tree.CreateFolders(tree.Backup());
  const FloorLoop patchFloor = FloorLoop::Patch(tree, FloorLog(tree));
  const FloorLoop revertFloor = FloorLoop::Revert(tree, FloorLog(tree));
  before = CurrentTally();
  stopwatch = Stopwatch();
  ok = ok && patchFloor.Run();
  totals[1] = stopwatch.Microseconds();
  tallies[1] = CurrentTally() - before;

  before = CurrentTally();
  stopwatch = Stopwatch();
  ok = ok && revertFloor.Run();
  totals[3] = stopwatch.Microseconds();
  tallies[3] = CurrentTally() - before;
  if (!ok) {
    fprintf(out, "a counted run failed\n");
    return 1;
  }

  const size_t files = tree.Names().size();
  fprintf(out, "  calls per file (and mean us per call) with %zu files:\n", files);
  fprintf(out, "  %-24s %16s %16s %16s %16s\n", "", "PatchFiles", "its floor", "RevertPatches",
          "its floor");
  for (int i = 0; i < kCallKinds; ++i) {
    WriteTallyRow(out, static_cast<Call>(i), tallies, 4, files);
  }
  fprintf(out, "  %-24s", "us per file, all");
  for (double total : totals) {
    fprintf(out, " %16.1f", total / static_cast<double>(files));
  }
  fprintf(out, "\n  %-24s", "us per file, timed calls");
  for (const CallTally& tally : tallies) {
    double sum = 0;
    for (int i = 0; i < kCallKinds; ++i) {
      // A log write's span holds calls timed in their own rows.
      sum += static_cast<Call>(i) == Call::kLogFileWrite ? 0 : tally.microseconds[i];
    }
    fprintf(out, " %16.1f", sum / static_cast<double>(files));
  }
  fprintf(out,
          "\n  (timing through the counters adds to both; the figures above are for\n"
          "  finding where the time goes, the timed comparisons are measured without them)\n");
  return 0;
}

bool ArgumentValue(int argc, wchar_t** argv, const wchar_t* name, std::wstring& value) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (wcscmp(argv[i], name) == 0) {
      value = argv[i + 1];
      return true;
    }
  }
  return false;
}

}  // namespace

std::wstring CaseArguments(BenchCase benchCase, size_t files, int repetitions,
                           const std::wstring& resultFile, bool listFile) {
  return std::wstring(L"--case ") + kCaseNames[static_cast<int>(benchCase)] + L" --files " +
         std::to_wstring(files) + L" --repetitions " + std::to_wstring(repetitions) +
         L" --results \"" + resultFile + L"\"" + (listFile ? L" --list 1" : L"");
}

bool IsCaseRun(int argc, wchar_t** argv) {
  std::wstring unused;
  return ArgumentValue(argc, argv, L"--case", unused);
}

int RunCase(int argc, wchar_t** argv) {
  std::wstring name;
  std::wstring files;
  std::wstring repetitions;
  std::wstring results;
  if (!ArgumentValue(argc, argv, L"--case", name) ||
      !ArgumentValue(argc, argv, L"--files", files) ||
      !ArgumentValue(argc, argv, L"--repetitions", repetitions) ||
      !ArgumentValue(argc, argv, L"--results", results)) {
    return 2;
  }
  int index = -1;
  for (int i = 0; i < static_cast<int>(sizeof(kCaseNames) / sizeof(kCaseNames[0])); ++i) {
    if (name == kCaseNames[i]) {
      index = i;
    }
  }
  if (index < 0) {
    return 2;
  }
  const auto benchCase = static_cast<BenchCase>(index);
  const PatchTree tree(FreshFolderName(kCaseNames[index]),
                       PatchNames(wcstoul(files.c_str(), nullptr, 10)));
  if (!tree.Ok()) {
    return 3;
  }
  std::wstring listFile;
  if (ArgumentValue(argc, argv, L"--list", listFile)) {
    g_listFile = tree.Root() + L"\\names.txt";
    if (!WriteListFile(tree, g_listFile)) {
      return 3;
    }
  }
  RunLog::SetPath(L"%ls\\Quorvel.log", tree.Root().c_str());
  FILE* out = _wfopen(results.c_str(), L"w");
  if (out == nullptr) {
    return 4;
  }
  int exitCode = 0;
  if (benchCase == BenchCase::kCalls) {
    exitCode = CountCalls(tree, out);
  } else {
    const int count = _wtoi(repetitions.c_str());
    for (int r = 0; r < count && exitCode == 0; ++r) {
      if (!Repetition(benchCase, r, tree, out)) {
        exitCode = 5;
      }
    }
  }
  for (double parse : g_parses) {
    fprintf(out, "parse %.1f\n", parse);
  }
  // Wine tells the peak reliably only to the process itself.
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (benchCase != BenchCase::kCalls &&
      GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
    fprintf(out, "peak %llu\n", static_cast<unsigned long long>(counters.PeakWorkingSetSize));
  }
  fclose(out);
  return exitCode;
}

}  // namespace quorvel::bench
