#include "foundation/final_path.h"

#include <cwchar>
#include <memory>
#include <new>

#include "foundation/path_strings.h"

namespace quorvel {

bool FinalPathOfHandle(HANDLE handle, SharedWString& final, DWORD& error) {
  constexpr DWORD kFinalPathChars = 32768;  // one system path
  std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kFinalPathChars]);
  if (!buffer) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  const DWORD length = GetFinalPathNameByHandleW(handle, buffer.get(), kFinalPathChars,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kFinalPathChars) {
    error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const wchar_t* text = buffer.get();
  if (wcsncmp(text, L"\\\\?\\UNC\\", 8) == 0) {
    final = L"\\\\";
    final.Append(SharedWString(text + 8));
  } else if (wcsncmp(text, L"\\\\?\\", 4) == 0) {
    final = text + 4;
  } else {
    final = text;
  }
  NormalizePath(final);
  return true;
}

}  // namespace quorvel
