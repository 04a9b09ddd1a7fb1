#pragma once

#include <windows.h>

#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/shared_string.h"

namespace quorvel {

// How a failure line ends: ", HResult 0x%08x, error %d " and the system's text, in one of the
// spellings the log has always used (each line keeps its own, byte for byte). The text stays
// last in the pattern, so that the log keeps the line end the system gives it.
enum class FailureTail {
  kPlain,          // ", HResult 0x%08x, error %d %ls\n"
  kColons,         // ", HResult: 0x%08x, error: %d %ls\n"
  kColonsUnended,  // ", HResult: 0x%08x, error: %d %ls" (the text's own line end ends it)
  kHResultColon,   // ", HResult: 0x%08x, error %d %ls\n"
};

// head followed by tail: the pattern of a failure line, whose last three arguments are the
// HRESULT, the Win32 code and the text.
SharedString FailurePattern(const char* head, FailureTail tail);

// A printf-style writer of one line: RunLog::Write, or a writer to standard output.
using LineWriter = void (*)(const char* format, ...);

// Writes one failure line through write: head formatted with args, then tail with result, code
// and text (usually SystemErrorText(code)).
template <typename... Args>
void WriteFailure(LineWriter write, FailureTail tail, HRESULT result, DWORD code,
                  const SharedWString& text, const char* head, Args... args) {
  write(FailurePattern(head, tail).Chars(), args..., static_cast<unsigned>(result),
        static_cast<int>(code), text.Chars());
}

// Writes to the run log head formatted with args, then ", HResult 0x%08x, error %d ", the
// system's text for the Win32 code of result (HRESULT_CODE) and "\n".
template <typename... Args>
void LogFailedResult(HRESULT result, const char* head, Args... args) {
  const DWORD code = HRESULT_CODE(result);
  WriteFailure(RunLog::Write, FailureTail::kPlain, result, code, SystemErrorText(code), head,
               args...);
}

}  // namespace quorvel
