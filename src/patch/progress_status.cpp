#include "patch/progress_status.h"

#include "foundation/format.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

// The system's text for result as one sentence of a line: without its line end, or the code
// when the system has no text for it.
SharedWString ReasonText(HRESULT result) {
  SharedWString reason;
  if (IsWin32Result(result)) {
    const DWORD code = HRESULT_CODE(result);
    reason = SystemErrorText(code);
    reason.Trim(L" \t\r\n", false, true);
    if (reason.IsEmpty()) {
      Format(reason, L"error %d.", static_cast<int>(code));
    }
  } else {
    Format(reason, L"error 0x%08x.", static_cast<unsigned>(result));
  }
  return reason;
}

}  // namespace

SharedWString WaitingForLauncherText() { return L"Waiting for the launcher to close"; }

SharedWString RestoringText() { return L"Restoring the game files after an interrupted update"; }

SharedWString ApplyingText(size_t number, size_t count, const SharedWString& name) {
  return Formatted(L"Updating file %u of %u: \"%ls\"", static_cast<unsigned>(number),
                   static_cast<unsigned>(count), name.Chars());
}

SharedWString WaitingToRetryText(const SharedWString& name, HRESULT result, int nextAttempt,
                                 int attempts) {
  const HRESULT inUse[] = {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
                           HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION)};
  const bool heldElsewhere = result == inUse[0] || result == inUse[1];
  return Formatted(L"Could not replace \"%ls\": %ls%ls Trying again: attempt %d of %d.",
                   name.Chars(), ReasonText(result).Chars(),
                   heldElsewhere ? L" Another program is using the file; closing that program "
                                   L"lets the update go on."
                                 : L"",
                   nextAttempt, attempts);
}

SharedWString RevertingText(const SharedWString& name) {
  return Formatted(L"Putting back the previous files: \"%ls\"", name.Chars());
}

}  // namespace quorvel
