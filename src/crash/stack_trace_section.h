#pragma once

#include "crash/own_frame.h"
#include "crash/report_section.h"

namespace quorvel {

// The report section with the process command line, the thread and its call stack. One static
// instance, constructed after the version report section. With the library's own options it is
// never part of a report.
class StackTraceSection : public ReportSection {
 public:
  // "Command Line: ..." and "Thread ID: ..." lines, then the stack walk (the first five frames,
  // the reporting code's own, skipped when there is no exception) or, when
  // HKLM\SOFTWARE\Dastry\EnableCppStackTrace reads 0, the message that says so.
  QUORVEL_OWN_FRAME SharedString content(const ReportInfo& info, const ReportThreadInfo& thread,
                                         uint32_t timeLimitMs) override;
  // Not in brief reports, nor while the library options leave stack traces out.
  bool applies(const ReportInfo& info, const ReportThreadInfo& thread) override;
  // "C++ Stack Trace".
  SharedString title() override;
};

// Whether HKLM\SOFTWARE\Dastry\EnableCppStackTrace switches the walk off: only a value that
// reads as the word 0 does. A missing key or value, a value that cannot be read or any other
// word leaves the walk on. A value shorter than four bytes fills the low bytes of the word.
bool StackTraceSwitchedOff();

}  // namespace quorvel
