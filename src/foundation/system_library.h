#pragma once

#include <windows.h>

namespace quorvel {

// A DLL of Windows loaded from the system folder and nowhere else, freed when the object goes.
// The library imports only DLLs that Windows maps from its KnownDLLs list; any other DLL is
// loaded through this type, so that a file of that name beside the host or in its current
// folder is never taken for it.
class SystemLibrary {
 public:
  // Loads name (a bare file name such as L"version.dll"); on failure the object holds nothing
  // and LoadError tells why.
  explicit SystemLibrary(const wchar_t* name);
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;
  ~SystemLibrary();

  bool IsLoaded() const { return module_ != nullptr; }
  // The GetLastError of the failed load; 0 when the library is loaded.
  DWORD LoadError() const { return loadError_; }

  // Binds function to the export name; false, with function null, when the library is not
  // loaded or has no such export.
  template <typename Function>
  bool Bind(const char* name, Function*& function) const {
    // The generic function pointer type converts to any other without a warning.
    function = reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(Export(name)));
    return function != nullptr;
  }

 private:
  FARPROC Export(const char* name) const;

  HMODULE module_ = nullptr;
  DWORD loadError_ = 0;
};

}  // namespace quorvel
