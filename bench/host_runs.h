#pragma once

namespace quorvel::bench {

// Times whole rundll32.exe processes: a run of Quorvel.dll whose command line is refused,
// against the same host calling an entry point that does nothing. Prints its table.
void ReportHostRuns(int repetitions);

}  // namespace quorvel::bench
