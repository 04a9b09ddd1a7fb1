#pragma once

#include <cstddef>
#include <string>

namespace quorvel::bench {

// The measurements that run in a child process of their own. Each builds its own tree of files
// in a fresh temporary folder, and every repetition leaves the tree as it found it.
enum class BenchCase {
  kPatch,        // PatchFiles alone, for its peak working set
  kPatchFloor,   // the floor of the patch alone, for its peak working set
  kRevert,       // RevertPatches alone, for its peak working set
  kRevertFloor,  // the floor of the revert alone, for its peak working set
  kPatchPair,    // PatchFiles and its floor by turns, timed
  kRevertPair,   // RevertPatches and its floor by turns, timed
  kCalls,        // one patch and revert, and their floors, with every counted call counted
};

// The arguments that make a child run one case and write its results to resultFile. With
// listFile the runs of PatchFiles and RevertPatches take their names from a list file, parsed
// by ParseRunArguments before each run as a launcher's command line "... @<list> ..." is.
std::wstring CaseArguments(BenchCase benchCase, size_t files, int repetitions,
                           const std::wstring& resultFile, bool listFile = false);
// True when the arguments ask for a case.
bool IsCaseRun(int argc, wchar_t** argv);
// Runs the case of the arguments and writes its results: a line "run <microseconds>" per
// repetition of PatchFiles or RevertPatches, "floor <microseconds>" per repetition of a floor,
// "parse <microseconds>" per parse of a list file, and "peak <bytes>", the process's own peak
// working set; kCalls writes a report table instead.
// Returns the exit code (0 when all went well).
int RunCase(int argc, wchar_t** argv);

}  // namespace quorvel::bench
