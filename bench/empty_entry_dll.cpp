// A DLL with a rundll32 entry point that does nothing: what the host process costs by itself.
#include <windows.h>

extern "C" __declspec(dllexport) void CALLBACK
    EmptyW(HWND /*window*/, HINSTANCE /*instance*/, LPWSTR /*commandLine*/, int /*show*/) {}
