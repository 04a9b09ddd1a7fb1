#pragma once

namespace quorvel {

// The reporting library's last word at unload. One static instance, constructed after the two
// built-in report sections, so it is destroyed before them: it unbinds the symbol engine and
// empties its module list, and gives up the process-wide channel log.
class ReportingGuard {
 public:
  ReportingGuard() = default;
  ReportingGuard(const ReportingGuard&) = delete;
  ReportingGuard& operator=(const ReportingGuard&) = delete;
  ~ReportingGuard();
};

}  // namespace quorvel
