#include "crash/stack_trace_section.h"

#include "crash/stack_walk.h"
#include "foundation/format.h"
#include "foundation/library_options.h"
#include "foundation/scoped_registry_key.h"

namespace quorvel {
namespace {

constexpr uint32_t kSkippedOwnFrames = 5;
constexpr uint32_t kMaxFrames = 512;

}  // namespace

bool StackTraceSwitchedOff() {
  ScopedRegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dastry", 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  // Bytes the value does not supply stay zero.
  DWORD word = 0;
  DWORD type = REG_DWORD;
  DWORD size = sizeof(word);
  const LONG result = RegQueryValueExA(key.Get(), "EnableCppStackTrace", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&word), &size);
  key.Reset();
  return result == ERROR_SUCCESS && word == 0;
}

SharedString StackTraceSection::content(const ReportInfo& info, const ReportThreadInfo& thread,
                                        uint32_t timeLimitMs) {
  SharedString text;
  AppendFormat(text, "Command Line: %s\n", GetCommandLineA());
  AppendFormat(text, "Thread ID: 0x%08X\n", thread.threadId);
  if (StackTraceSwitchedOff()) {
    text.Append(
        "(C++ Stack Trace is disabled because HKLM\\SOFTWARE\\Dastry\\EnableCppStackTrace=0)");
    return text;
  }
  const uint32_t skipFrames = info.exceptionPointers != nullptr ? 0 : kSkippedOwnFrames;
  walkStack(info.exceptionPointers, text, 0, skipFrames, kMaxFrames, thread.threadHandle,
            timeLimitMs);
  return text;
}

bool StackTraceSection::applies(const ReportInfo& info, const ReportThreadInfo& /*thread*/) {
  return (info.flags & kReportBrief) == 0 && (LibraryOptions & kOptionNoStackTraceSection) == 0;
}

SharedString StackTraceSection::title() { return SharedString("C++ Stack Trace"); }

}  // namespace quorvel
