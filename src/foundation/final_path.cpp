#include "foundation/final_path.h"

#include <cwchar>
#include <memory>
#include <new>

#include "foundation/path_strings.h"

namespace quorvel {

bool FinalPathOfHandle(HANDLE handle, SharedWString& final, DWORD& error) {
  constexpr DWORD kFinalPathChars = 32768;  // one system path
  // Most paths fit the small buffer; the log and the checks ask for one on every write and name.
  wchar_t small[MAX_PATH + 1];
  std::unique_ptr<wchar_t[]> large;
  wchar_t* buffer = small;
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  DWORD length = GetFinalPathNameByHandleW(handle, buffer, MAX_PATH + 1, flags);
  if (length > MAX_PATH && length < kFinalPathChars) {
    large.reset(new (std::nothrow) wchar_t[kFinalPathChars]);
    if (!large) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
    buffer = large.get();
    length = GetFinalPathNameByHandleW(handle, buffer, kFinalPathChars, flags);
  }
  if (length == 0 || length >= kFinalPathChars || (buffer == small && length > MAX_PATH)) {
    error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const wchar_t* text = buffer;
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
