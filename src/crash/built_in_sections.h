#pragma once

#include "crash/stack_trace_section.h"
#include "crash/version_report_section.h"

namespace quorvel {

// The reporting library's two built-in sections, constructed and registered in this order.
// Reports list sections by address; members of one object lie at rising addresses in the order
// written, whereas the compiler places separate objects as it likes. So every report has the
// version report first, then the stack trace.
struct BuiltInReportSections {
  VersionReportSection versionReport;
  StackTraceSection stackTrace;
};

}  // namespace quorvel
