// Stands in for a running launcher in tests. Signals the named event given as its argument once
// it runs, then waits until its standard input reaches its end: the test closes the pipe to let
// it go, and a test that dies closes it as well, so the process never outlives its test.
#include <windows.h>

#include "foundation/scoped_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc > 1) {
    quorvel::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    if (!ready.IsValid() || !SetEvent(ready.Get())) {
      return 2;
    }
  }
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char byte = 0;
  DWORD read = 0;
  while (ReadFile(input, &byte, 1, &read, nullptr) && read != 0) {
  }
  return 0;
}
