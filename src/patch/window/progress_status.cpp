#include "patch/window/progress_status.h"

#include "foundation/format.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

// As the texts have always shown them: counts unsigned, attempts and codes signed.
SharedWString Number(size_t value) { return Formatted(L"%u", static_cast<unsigned>(value)); }
SharedWString Number(int value) { return Formatted(L"%d", value); }

bool HeldElsewhere(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
         result == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
}

}  // namespace

SharedWString ReasonText(const PlayerTexts& texts, HRESULT result) {
  SharedWString reason;
  if (IsWin32Result(result)) {
    const DWORD code = HRESULT_CODE(result);
    reason = SystemErrorText(code);
    reason.Trim(L" \t\r\n", false, true);
    if (reason.IsEmpty()) {
      reason =
          texts.Compose(PlayerText::kReasonNumber, {{L"code", Number(static_cast<int>(code))}});
    }
  } else {
    reason = texts.Compose(PlayerText::kReasonResult,
                           {{L"result", Formatted(L"0x%08x", static_cast<unsigned>(result))}});
  }
  return reason;
}

SharedWString WaitingForLauncherText(const PlayerTexts& texts) {
  return texts.Compose(PlayerText::kWaitingForLauncher);
}

SharedWString WaitingForOtherRunText(const PlayerTexts& texts) {
  return texts.Compose(PlayerText::kWaitingForOtherRun);
}

SharedWString RestoringText(const PlayerTexts& texts) {
  return texts.Compose(PlayerText::kRestoring);
}

SharedWString RestoringFileText(const PlayerTexts& texts, const SharedWString& name) {
  return texts.Compose(PlayerText::kRestoringFile, {{L"file", name}});
}

SharedWString ApplyingText(const PlayerTexts& texts, size_t number, size_t count,
                           const SharedWString& name) {
  return texts.Compose(PlayerText::kUpdatingFile,
                       {{L"number", Number(number)}, {L"count", Number(count)}, {L"file", name}});
}

SharedWString WaitingToRetryText(const PlayerTexts& texts, const SharedWString& name,
                                 HRESULT result, int nextAttempt, int attempts) {
  return texts.Compose(
      HeldElsewhere(result) ? PlayerText::kRetryingHeldFile : PlayerText::kRetrying,
      {{L"file", name},
       {L"reason", ReasonText(texts, result)},
       {L"attempt", Number(nextAttempt)},
       {L"attempts", Number(attempts)}});
}

SharedWString RevertingText(const PlayerTexts& texts, const SharedWString& name) {
  return texts.Compose(PlayerText::kReverting, {{L"file", name}});
}

SharedWString RetryQuestionText(const PlayerTexts& texts, const SharedWString& name,
                                HRESULT result) {
  return texts.Compose(
      HeldElsewhere(result) ? PlayerText::kAskRetryHeldFile : PlayerText::kAskRetry,
      {{L"file", name}, {L"reason", ReasonText(texts, result)}});
}

}  // namespace quorvel
