#include "foundation/library_module.h"

namespace quorvel {

HMODULE LibraryModule() {
  // A module's image is one allocation: its base is the module handle.
  MEMORY_BASIC_INFORMATION info = {};
  if (VirtualQuery(reinterpret_cast<const void*>(&LibraryModule), &info, sizeof(info)) == 0) {
    return nullptr;
  }
  return static_cast<HMODULE>(info.AllocationBase);
}

}  // namespace quorvel
