#pragma once

namespace quorvel::bench {

// The string micro-benchmark: heap blocks per operation, counted at this program's malloc
// import (every block of a string comes from malloc), and nanoseconds per operation. Prints
// its table; false when the counters could not be installed.
bool ReportStringAllocations();

}  // namespace quorvel::bench
