#pragma once

#include <cstdint>

#include "foundation/shared_string.h"

namespace quorvel {

// The file system's number of the file or folder at path (a full path; a bare drive such as D:
// is its root), 0 when it cannot be read. Within one volume it names the folder however the path
// spells it: drive letter, short name, junction, \\?\ form or case. The final path cannot: under
// Wine it carries whichever drive letter is known at that moment, and so does the volume's
// serial number.
uint64_t FileIndexOf(const SharedWString& path);

}  // namespace quorvel
