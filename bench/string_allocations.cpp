#include "string_allocations.h"

#include <cstdio>

#include "bench_clock.h"
#include "call_counters.h"
#include "foundation/format.h"
#include "foundation/shared_string.h"

namespace quorvel::bench {
namespace {

constexpr int kIterations = 100000;

const wchar_t kFrom[] =
    L"C:\\users\\player\\Temp\\Patch\\data\\textures\\pack03\\texture_00042.dds";
const wchar_t kTo[] = L"C:\\users\\player\\Temp\\Game\\data\\textures\\pack03\\texture_00042.dds";

template <typename Operation>
void Row(const char* what, Operation operation) {
  const CallTally before = CurrentTally();
  const Stopwatch stopwatch;
  for (int i = 0; i < kIterations; ++i) {
    operation();
  }
  const double microseconds = stopwatch.Microseconds();
  const CallTally used = CurrentTally() - before;
  printf("  %-46s %10.3f %10.3f %9.1f\n", what,
         static_cast<double>(used.Calls(Call::kHeapAllocation)) / kIterations,
         static_cast<double>(used.Calls(Call::kHeapFree)) / kIterations,
         microseconds * 1000 / kIterations);
}

}  // namespace

bool ReportStringAllocations() {
  if (!InstallCallCounters()) {
    printf("  the allocation counters could not be installed\n");
    return false;
  }
  printf("  %-46s %10s %10s %9s\n", "operation (each row: 100000 times)", "allocs/op", "frees/op",
         "ns/op");
  const SharedWString path(kFrom);
  Row("copy of a SharedWString (and its destruction)", [&path] {
    const SharedWString copy(path);
    (void)copy;
  });
  SharedWString target;
  Row("assignment of a SharedWString", [&path, &target] {
    target = path;
    target.Clear();
  });
  SharedWString line;
  Row("Format, wide: \"Copying up \\\"%ls\\\" to \\\"%ls\\\"\\n\"",
      [&line] { Format(line, L"Copying up \"%ls\" to \"%ls\"\n", kFrom, kTo); });
  SharedString narrow;
  Row("Format, narrow (a run-log line with two %ls)",
      [&narrow] { Format(narrow, "Backing up \"%ls\" to \"%ls\"\n", kTo, kFrom); });
  return true;
}

}  // namespace quorvel::bench
