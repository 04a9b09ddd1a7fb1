#pragma once

#include <windows.h>

#include "foundation/format.h"
#include "foundation/run_log.h"

// How a failure line ends: ", HResult 0x%08x, error %d " and the system's text, in one of the
// spellings the log has always used (each line keeps its own, byte for byte). A line's pattern
// is its head literal followed by one of these, so that the compiler checks the whole pattern
// against the arguments. The text stays last, so that the log keeps the line end the system
// gives it.
#define QUORVEL_FAILURE_TAIL ", HResult 0x%08x, error %d %ls\n"
#define QUORVEL_FAILURE_TAIL_COLONS ", HResult: 0x%08x, error: %d %ls\n"
// The text's own line end ends the line.
#define QUORVEL_FAILURE_TAIL_COLONS_UNENDED ", HResult: 0x%08x, error: %d %ls"
#define QUORVEL_FAILURE_TAIL_HRESULT_COLON ", HResult: 0x%08x, error %d %ls\n"

// Writes one failure line through write (a printf-style writer such as RunLog::Write): head, a
// literal, formatted with the arguments after it, then tail with result, code and text (a
// SharedWString, usually SystemErrorText(code)). A macro, so that head and tail make one literal.
#define QUORVEL_WRITE_FAILURE(write, tail, result, code, text, head, ...)                \
  write(head tail, ##__VA_ARGS__, static_cast<unsigned>(result), static_cast<int>(code), \
        (text).Chars())

// Writes to the run log head (a literal) formatted with the arguments after it, then
// ", HResult 0x%08x, error %d ", the system's text for the Win32 code of result (HRESULT_CODE)
// and "\n".
#define QUORVEL_LOG_FAILED_RESULT(result, head, ...)                                     \
  do {                                                                                   \
    const HRESULT quorvelFailed = (result);                                              \
    const DWORD quorvelCode = HRESULT_CODE(quorvelFailed);                               \
    QUORVEL_WRITE_FAILURE(::quorvel::RunLog::Write, QUORVEL_FAILURE_TAIL, quorvelFailed, \
                          quorvelCode, ::quorvel::SystemErrorText(quorvelCode), head,    \
                          ##__VA_ARGS__);                                                \
  } while (false)
