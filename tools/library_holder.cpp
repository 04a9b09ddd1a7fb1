// Test helper: a process that loads a library and keeps it loaded until told to end.
// Usage: library_holder <library> <ready event> <release event>
// Sets the ready event once the library is loaded (exit code 2 if it could not be loaded),
// then waits for the release event and exits 0, which unloads the library.
#include <windows.h>

#include "foundation/scoped_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    return 1;
  }
  quorvel::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
  quorvel::ScopedHandle release(OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
  if (!ready.IsValid() || !release.IsValid()) {
    return 1;
  }
  if (LoadLibraryW(argv[1]) == nullptr) {
    return 2;
  }
  SetEvent(ready.Get());
  WaitForSingleObject(release.Get(), INFINITE);
  return 0;
}
