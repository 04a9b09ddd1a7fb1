#pragma once

// Lets the compiler check a printf-style call against its pattern: the pattern is parameter
// formatIndex (1-based, with a member function's object as 1) and its arguments start at
// firstArgument, or 0 for a va_list. The patterns are read by the Microsoft runtime's
// formatters, so they are checked by its rules (ms_printf: %ls wide, %s narrow, no %z). MSVC has
// no such check for a user's function.
#if defined(__GNUC__)
#define QUORVEL_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(ms_printf, formatIndex, firstArgument)))
#else
#define QUORVEL_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
