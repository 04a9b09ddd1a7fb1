// Test helper: holds a file open without sharing until told to let go.
// Usage: file_locker <path> <ready event> <release event>
// Sets the ready event once the file is held (exit code 2 if it could not be opened), then
// waits for the release event, closes the file and exits 0.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    return 1;
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (ready == nullptr || release == nullptr) {
    return 1;
  }
  HANDLE file =
      CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetEvent(ready);
  if (file == INVALID_HANDLE_VALUE) {
    return 2;
  }
  WaitForSingleObject(release, INFINITE);
  CloseHandle(file);
  CloseHandle(release);
  CloseHandle(ready);
  return 0;
}
