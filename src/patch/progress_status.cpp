#include "patch/progress_status.h"

#include "foundation/format.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

// As the texts have always shown them: counts unsigned, attempts and codes signed.
SharedWString Number(size_t value) { return Formatted(L"%u", static_cast<unsigned>(value)); }
SharedWString Number(int value) { return Formatted(L"%d", value); }

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

SharedWString RestoringText(const PlayerTexts& texts) {
  return texts.Compose(PlayerText::kRestoring);
}

SharedWString ApplyingText(const PlayerTexts& texts, size_t number, size_t count,
                           const SharedWString& name) {
  return texts.Compose(PlayerText::kUpdatingFile,
                       {{L"number", Number(number)}, {L"count", Number(count)}, {L"file", name}});
}

SharedWString WaitingToRetryText(const PlayerTexts& texts, const SharedWString& name,
                                 HRESULT result, int nextAttempt, int attempts) {
  const HRESULT inUse[] = {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
                           HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION)};
  const bool heldElsewhere = result == inUse[0] || result == inUse[1];
  return texts.Compose(heldElsewhere ? PlayerText::kRetryingHeldFile : PlayerText::kRetrying,
                       {{L"file", name},
                        {L"reason", ReasonText(texts, result)},
                        {L"attempt", Number(nextAttempt)},
                        {L"attempts", Number(attempts)}});
}

SharedWString RevertingText(const PlayerTexts& texts, const SharedWString& name) {
  return texts.Compose(PlayerText::kReverting, {{L"file", name}});
}

}  // namespace quorvel
