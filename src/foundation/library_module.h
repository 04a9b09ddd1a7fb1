#pragma once

#include <windows.h>

namespace quorvel {

// The module that contains the library's code (Quorvel.dll, or the program the library is
// linked into), found from the address of its own code; null when the system cannot tell.
HMODULE LibraryModule();

}  // namespace quorvel
