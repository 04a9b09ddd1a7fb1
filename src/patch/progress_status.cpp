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

bool HeldElsewhere(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
         result == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
}

}  // namespace

SharedWString WaitingForLauncherText() { return L"Waiting for the launcher to close"; }

SharedWString WaitingForOtherRunText() {
  return L"Waiting for another update of this game to finish";
}

SharedWString RestoringText() { return L"Restoring the game files after an interrupted update"; }

SharedWString RestoringFileText(const SharedWString& name) {
  return Formatted(L"Restoring the game files after an interrupted update: \"%ls\"", name.Chars());
}

SharedWString ApplyingText(size_t number, size_t count, const SharedWString& name) {
  return Formatted(L"Updating file %u of %u: \"%ls\"", static_cast<unsigned>(number),
                   static_cast<unsigned>(count), name.Chars());
}

SharedWString WaitingToRetryText(const SharedWString& name, HRESULT result, int nextAttempt,
                                 int attempts) {
  return Formatted(L"Could not replace \"%ls\": %ls%ls Trying again: attempt %d of %d.",
                   name.Chars(), ReasonText(result).Chars(),
                   HeldElsewhere(result)
                       ? L" Another program is using the file; closing that program "
                         L"lets the update go on."
                       : L"",
                   nextAttempt, attempts);
}

SharedWString RevertingText(const SharedWString& name) {
  return Formatted(L"Putting back the previous files: \"%ls\"", name.Chars());
}

SharedWString RetryQuestionText(const SharedWString& name, HRESULT result) {
  return Formatted(
      L"Could not replace \"%ls\": %ls%ls\n\nRetry tries the file again. Cancel puts back the "
      L"previous files and ends the update.",
      name.Chars(), ReasonText(result).Chars(),
      HeldElsewhere(result) ? L" Another program is using the file: close that program first."
                            : L" Another program may be using the file, or it may be read-only.");
}

}  // namespace quorvel
