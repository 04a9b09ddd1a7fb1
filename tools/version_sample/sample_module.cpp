// The code of the sample modules: they exist for their version resources, but a module with
// code of its own loads like any other library.
#include <windows.h>

extern "C" __declspec(dllexport) int SampleModuleMarker() { return 1; }
