// A process that stays until it is told to end, for tests that need a real other process.
// Usage: held_process <ready event> <release event> [library]
// Loads the library when one is named, then signals the ready event and ends, with exit code
// 0, once the release event is signalled. Exit code 2: bad arguments; 3: the library could not
// be loaded; 4: an event could not be opened.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return 2;
  }
  if (argc > 3 && LoadLibraryW(argv[3]) == nullptr) {
    return 3;
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
  if (ready == nullptr || release == nullptr) {
    return 4;
  }
  SetEvent(ready);
  WaitForSingleObject(release, INFINITE);
  CloseHandle(release);
  CloseHandle(ready);
  return 0;
}
