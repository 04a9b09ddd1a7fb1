#pragma once

#include <cstdarg>

#include "foundation/format_check.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The text of one write to the run log: the narrow pattern formatted with its arguments as
// FormatV formats it, except that a text argument (%s, %ls) cannot start a line or a record of
// its own: its characters below U+0020 other than tab, and U+0085, U+2028 and U+2029, are written
// as \r, \n or \xNN (two lower-case hex digits; \uNNNN above U+00FF). The one exception is the
// system's error text of a failure report ("... %d %ls" at the end of the pattern, before its
// "\n" if any): the line end that the system gives it stays a line end, as it always has.
// The line is UTF-8 throughout: a line whose text arguments go beyond ASCII is formatted wide
// and converted whole. A line of ASCII text comes out exactly as FormatV makes it.
SharedString LogText(const char* format, va_list args) QUORVEL_PRINTF_FORMAT(1, 0);

}  // namespace quorvel
