#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "foundation/format_check.h"
#include "foundation/shared_string.h"

namespace quorvel {

// printf-style formatting into strings with the Microsoft runtime's conventions: in a narrow
// format %s is narrow and %ls wide text; in a wide format %ls is wide and %hs narrow text.
// Every result is measured first and written into a block of exactly that size.

// Makes result the formatted wide text; returns its length, 0 when the format is rejected.
int32_t FormatWide(SharedWString& result, const wchar_t* format, va_list args);
// Makes result the formatted narrow text. When the narrow runtime cannot print the arguments
// (a wide argument outside the ANSI code page), the text is formatted wide and converted to
// codePage instead, so no character is lost. Returns the result's length.
int32_t FormatNarrow(SharedString& result, const char* format, va_list args, UINT codePage)
    QUORVEL_PRINTF_FORMAT(2, 0);

// The narrow format as a wide format that reads the same arguments and prints the same text.
SharedWString WideFormatOf(const char* format);

// Replace the string's contents; the string's own text may be one of the arguments.
int32_t Format(SharedWString& result, const wchar_t* format, ...);
int32_t Format(SharedString& result, const char* format, ...) QUORVEL_PRINTF_FORMAT(2, 3);
int32_t FormatV(SharedWString& result, const wchar_t* format, va_list args);
int32_t FormatV(SharedString& result, const char* format, va_list args) QUORVEL_PRINTF_FORMAT(2, 0);
// Append the formatted text.
int32_t AppendFormat(SharedWString& result, const wchar_t* format, ...);
int32_t AppendFormat(SharedString& result, const char* format, ...) QUORVEL_PRINTF_FORMAT(2, 3);
// A new wide string.
SharedWString Formatted(const wchar_t* format, ...);
// Appends value in decimal.
void AppendUnsigned(SharedString& result, uint32_t value);

// The system's message for a Win32 error code, as the system delivers it (line end included);
// empty, after "FormatMessage failed\n" on standard output, when the system has none.
SharedWString SystemErrorText(DWORD code);

}  // namespace quorvel
