#include "patch/run/failure_box.h"

#include "foundation/format.h"
#include "foundation/win32_result.h"

namespace quorvel {

SharedWString PatchFailedMessage(const PlayerTexts& texts, const SharedWString& name,
                                 HRESULT result) {
  if (IsWin32Result(result)) {
    const DWORD code = HRESULT_CODE(result);
    return texts.Compose(PlayerText::kPatchFailedReason,
                         {{L"file", name},
                          {L"code", Formatted(L"%d", static_cast<int>(code))},
                          {L"reason", SystemErrorText(code)}});
  }
  return texts.Compose(
      PlayerText::kPatchFailed,
      {{L"file", name}, {L"result", Formatted(L"0x%08x", static_cast<unsigned>(result))}});
}

SharedWString RestartFailedMessage(const PlayerTexts& texts, DWORD code,
                                   const SharedWString& reason) {
  return texts.Compose(PlayerText::kRestartFailed,
                       {{L"code", Formatted(L"%d", static_cast<int>(code))}, {L"reason", reason}});
}

void ShowFailureBox(const PatchRun& run, const SharedWString& message) {
  if (run.quiet) {
    return;
  }
  MessageBoxW(nullptr, message.Chars(), run.texts.Compose(PlayerText::kCaption).Chars(),
              MB_ICONERROR);
}

}  // namespace quorvel
