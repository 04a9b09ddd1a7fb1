#pragma once

#include <windows.h>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The files a launcher hands the run to read whole (the list file, the texts file); noun names
// the kind in the log ("file list", "texts file").

// Logs a failed system call on such a file as "Could not <what> the <noun> <path>" with the
// error's result, number and text; returns E_INVALIDARG, as for any bad command line.
HRESULT InputFileFailure(const char* what, const char* noun, const SharedWString& path,
                         DWORD error);

// Opens path for reading, writers refused while it is read, and gives its length. A console,
// pipe or device is refused: it would block the run or feed it whatever it produces. A failure
// is logged and returns E_INVALIDARG.
HRESULT OpenInputFile(const SharedWString& path, const char* noun, ScopedFileHandle& file,
                      LARGE_INTEGER& length);

}  // namespace quorvel
