#pragma once

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// Conversions between narrow text in a Windows code page and wide text. They never fail
// outright: a failed conversion leaves a diagnostic text in the destination, and a character
// that the target code page cannot hold is written as <0xXXXX> with the rest kept in ASCII.

// Replaces destination by text converted from codePage (0 is the ANSI code page).
void ConvertFromCodePage(const char* text, SharedWString& destination, UINT codePage);
// Appends text converted from codePage.
void AppendFromCodePage(SharedWString& destination, const char* text, UINT codePage);
SharedWString FromCodePage(const char* text, UINT codePage);
// Replaces destination by text converted to codePage.
void ConvertToCodePage(const wchar_t* text, SharedString& destination, UINT codePage);
// Appends text converted to codePage.
void AppendToCodePage(SharedString& destination, const wchar_t* text, UINT codePage);

}  // namespace quorvel
