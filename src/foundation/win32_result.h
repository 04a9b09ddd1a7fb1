#pragma once

#include <windows.h>

namespace quorvel {

// The result of a Win32 call that failed, from the GetLastError value read right after it: a
// positive code becomes HRESULT_FROM_WIN32 of it and a negative one passes unchanged. A call
// that fails yet leaves no code gives withoutCode, so that a failure never reads as success.
inline HRESULT FailureResult(DWORD lastError, HRESULT withoutCode = E_FAIL) {
  return lastError == 0 ? withoutCode : HRESULT_FROM_WIN32(lastError);
}

// Whether result carries a Win32 error code, which HRESULT_CODE gives.
inline bool IsWin32Result(HRESULT result) { return HRESULT_FACILITY(result) == FACILITY_WIN32; }

// Whether result says that a file or a folder on its path is not there.
inline bool IsNotFound(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
         result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

}  // namespace quorvel
