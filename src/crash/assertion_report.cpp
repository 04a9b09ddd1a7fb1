#include "crash/assertion_report.h"

#include <cstdio>

#include "crash/build_report.h"
#include "crash/channel_id.h"
#include "crash/channel_log.h"
#include "foundation/library_options.h"

namespace quorvel {
namespace {

constexpr LogTarget kAssertionTarget = {1, kAssertionChannel};

}  // namespace

SharedString AssertionReport::getReportText() {
  if (reportText.IsEmpty()) {
    reportText = buildReport(info, thread, 0);
  }
  return reportText;
}

SharedString AssertionStartBanner(bool dialogShown, const SharedString& message) {
  char banner[kAssertionBannerCapacity];
  // _snprintf leaves the buffer unterminated when the text fills it or more; the banner is cut
  // one character earlier and terminated.
  const int written =
      _snprintf(banner, kAssertionBannerCapacity - 1,
                "----ASSERTION REPORT START----\nAssertion failed. %s. Report follows.\n%s\n",
                dialogShown ? "Dialog Displayed" : "No Dialog Displayed", message.Chars());
  banner[written >= 0 ? written : kAssertionBannerCapacity - 1] = '\0';
  return SharedString(banner);
}

void reportAssertion(AssertionReport& report, AssertionResponse& response) {
  if (!response.dialogShown && (report.info.flags & kReportKeepsResponse) == 0) {
    response.response = kAssertionDialogResponse;
    response.dialogShown = true;
  }
  if ((report.info.flags & kReportSilent) != 0) {
    return;
  }
  const SharedString banner = AssertionStartBanner(response.dialogShown, report.message);
  const bool toChannelLog = (LibraryOptions & kOptionAssertionsToChannelLog) != 0;
  if (toChannelLog) {
    channelLog(kAssertionTarget, "%s", banner.Chars());
  }
  const SharedString text = report.getReportText();
  if (toChannelLog) {
    channelLog(kAssertionTarget, "%s", text.Chars());
    channelLog(kAssertionTarget, "%s", "----ASSERTION REPORT END----\n");
  }
}

}  // namespace quorvel
