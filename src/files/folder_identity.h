#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The file system's number of the file or folder at path (a full path; a bare drive such as D:
// is its root), 0 when it cannot be read. Within one volume it names the folder however the path
// spells it: drive letter, short name, junction, \\?\ form or case. The final path cannot: under
// Wine it carries whichever drive letter is known at that moment, and so does the volume's
// serial number.
uint64_t FileIndexOf(const SharedWString& path);

// Opens the existing folder at fullPath (a bare drive is its root) to hold it: shared for
// reading and writing only, so that on Windows no other program can rename, remove or swap it
// while the handle is open. Invalid, with the error as the last error, when it cannot be opened.
ScopedFileHandle OpenFolderToHold(const SharedWString& fullPath);

// The same number for the file or folder open at handle; 0 when it cannot be read. A query of
// the handle alone, which costs next to nothing.
uint64_t IndexOfHandle(HANDLE handle);

}  // namespace quorvel
