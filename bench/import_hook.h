#pragma once

namespace quorvel::bench {

// Puts replacement into this program's import table in place of function imported from dll, so
// every call that the program's own code makes to it goes there instead; the library's code is
// linked in statically and counts as the program's. Calls made inside the system DLLs themselves
// are not redirected. Returns the address the table held before, or null when this program does
// not import the function by that name.
void* ReplaceImport(const char* dll, const char* function, void* replacement);

}  // namespace quorvel::bench
