#pragma once

#include <cstdint>

#include "crash/own_frame.h"
#include "crash/report_section.h"
#include "foundation/shared_string.h"

namespace quorvel {

// A failed assertion to report.
struct AssertionReport {
  SharedString message;     // the assertion's own text
  SharedString reportText;  // the report built for it; empty until first built
  ReportThreadInfo thread;
  ReportInfo info;

  // reportText, built with no time limit the first time it is asked for.
  QUORVEL_OWN_FRAME SharedString getReportText();
};

// The response code reportAssertion gives when it is the first to handle an assertion.
constexpr uint32_t kAssertionDialogResponse = 2;

// What the handlers of one assertion have answered so far.
struct AssertionResponse {
  uint32_t response = 0;
  bool dialogShown = false;
};

// The handler for a failed assertion. Unless a dialog was already shown or the report keeps the
// response, the response becomes 2 with dialogShown set. Unless the report is silent, the
// report text is built, and the start banner (with the message), the report and the end banner
// are sent on the assertion channel when the library options say so.
QUORVEL_OWN_FRAME void reportAssertion(AssertionReport& report, AssertionResponse& response);

// The capacity of the start banner, terminator included; a longer banner is cut.
constexpr uint32_t kAssertionBannerCapacity = 4096;

// The start banner of an assertion report, cut at kAssertionBannerCapacity - 1 characters.
SharedString AssertionStartBanner(bool dialogShown, const SharedString& message);

}  // namespace quorvel
