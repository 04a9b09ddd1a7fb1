#pragma once

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// The final path of the file or folder that handle has open (links resolved by the system), as
// a DOS path without the \\?\ prefix and without a trailing backslash; false with error set when
// the system cannot name it.
bool FinalPathOfHandle(HANDLE handle, SharedWString& final, DWORD& error);

}  // namespace quorvel
