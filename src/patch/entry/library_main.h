#pragma once

#include <windows.h>

namespace quorvel {

// What the module does for each DllMain reason: on process attach it sets the run log's path
// (Brinmoor\Quorvel.log under the local application-data folder, or under the current
// directory when the shell cannot name that folder) and writes the opening banner.
BOOL OnDllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

}  // namespace quorvel
