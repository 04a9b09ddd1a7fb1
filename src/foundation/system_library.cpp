#include "foundation/system_library.h"

#include <string>

namespace quorvel {

SystemLibrary::SystemLibrary(const wchar_t* name) {
  module_ = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module_ != nullptr) {
    return;
  }
  loadError_ = GetLastError();
  // Windows 7 without its loader update refuses the flag; a full path in the system folder
  // leaves it no search either.
  if (loadError_ != ERROR_INVALID_PARAMETER) {
    return;
  }
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    loadError_ = length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
    return;
  }
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  module_ = LoadLibraryExW(path.c_str(), nullptr, 0);
  loadError_ = module_ != nullptr ? 0 : GetLastError();
}

SystemLibrary::~SystemLibrary() {
  if (module_ != nullptr) {
    const DWORD error = GetLastError();
    FreeLibrary(module_);
    SetLastError(error);
  }
}

FARPROC SystemLibrary::Export(const char* name) const {
  return module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
}

}  // namespace quorvel
