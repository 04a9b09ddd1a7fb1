#pragma once

#include <cstdint>

#include "crash/own_frame.h"
#include "crash/report_section.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The report text: unless the report is brief, a header with the local time; then, for every
// registered section that applies, in ascending order of the sections' addresses, its title,
// ":\n", its content and "\n\n"; unless brief, a closing "\n". Sorts the registry in place.
// timeLimitMs is handed to every section (0: no limit).
QUORVEL_OWN_FRAME SharedString buildReport(const ReportInfo& info, const ReportThreadInfo& thread,
                                           uint32_t timeLimitMs);

}  // namespace quorvel
