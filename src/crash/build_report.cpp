#include "crash/build_report.h"

#include <algorithm>
#include <ctime>
#include <functional>

#include "foundation/format.h"

namespace quorvel {
namespace {

void AppendHeader(SharedString& report) {
  const time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  const char* text = local != nullptr ? std::asctime(local) : nullptr;
  // asctime's text ends in its own newline.
  AppendFormat(report, "%sCurrent local time: %s\n\n", "Detailed report:\n\n",
               text != nullptr ? text : "\n");
}

}  // namespace

SharedString buildReport(const ReportInfo& info, const ReportThreadInfo& thread,
                         uint32_t timeLimitMs) {
  if (ReportSectionRegistry::Sections* registry = ReportSectionRegistry::Get()) {
    // Address order gives every report the same section order, whatever the registration order.
    ReportSection** items = registry->Items();
    std::sort(items, items + registry->Count(), std::less<ReportSection*>());
  }
  const bool brief = (info.flags & kReportBrief) != 0;
  SharedString report;
  if (!brief) {
    AppendHeader(report);
  }
  // A section may leave or join the registry while it runs, so the registry and its count are
  // read again before every step.
  for (uint32_t i = 0;; ++i) {
    ReportSectionRegistry::Sections* registry = ReportSectionRegistry::Get();
    if (registry == nullptr || i >= registry->Count()) {
      break;
    }
    ReportSection* section = (*registry)[i];
    if (!section->applies(info, thread)) {
      continue;
    }
    report.Append(section->title());
    report.Append(":\n", 2);
    report.Append(section->content(info, thread, timeLimitMs));
    report.Append("\n\n", 2);
  }
  if (!brief) {
    report.Append('\n');
  }
  return report;
}

}  // namespace quorvel
