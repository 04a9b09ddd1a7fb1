// The C boundary of Quorvel.dll: the three exports only translate to the system's functions.
// RunPatch lets no exception through, so none reaches rundll32.
#include <windows.h>

#include "foundation/code_page.h"
#include "patch/entry/library_main.h"
#include "patch/entry/run_driver.h"

extern "C" {

int WINAPI QuorvelW(HWND /*window*/, HINSTANCE /*instance*/, const wchar_t* commandLine,
                    int /*show*/) {
  return quorvel::RunPatch(commandLine);
}

// Hosts that pass an 8-bit command line: the text is in the ANSI code page.
int WINAPI Quorvel(HWND window, HINSTANCE instance, const char* commandLine, int show) {
  const quorvel::SharedWString wide = quorvel::FromCodePage(commandLine, 0);
  return QuorvelW(window, instance, wide.Chars(), show);
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  return quorvel::OnDllMain(module, reason, reserved);
}

}  // extern "C"
