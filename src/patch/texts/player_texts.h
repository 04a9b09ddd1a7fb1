#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/shared_string.h"
#include "patch/texts/player_language.h"

namespace quorvel {

// Every text the player can see. Each is a string table entry of the module in every language
// it carries; a studio may replace any of them (ReadStudioTexts). The log never uses them.
enum class PlayerText {
  kCaption,
  kWaitingForLauncher,
  kRestoring,
  kUpdatingFile,
  kRetrying,
  kRetryingHeldFile,
  kReasonNumber,
  kReasonResult,
  kReverting,
  kPatchFailed,
  kPatchFailedReason,
  kRestartFailed,
  kWaitingForOtherRun,
  kRestoringFile,
  kAskRetryHeldFile,
  kAskRetry,
  kCount
};

// What the player texts are to a studio: the key of the texts file and the placeholders, in
// the order of the English text, that a replacement must hold too (each once).
struct PlayerTextInfo {
  PlayerText text;
  UINT resourceId;
  const char* key;
  std::vector<std::wstring> placeholders;
};
const std::vector<PlayerTextInfo>& PlayerTextTable();
// The entry of key, or null.
const PlayerTextInfo* FindPlayerText(const std::wstring& key);

// A placeholder's value.
struct TextValue {
  const wchar_t* name;
  SharedWString value;
};

// The placeholders of text ({name}; {{ and }} are a brace), in order; false when a brace
// stands alone or a placeholder's name is not a word of lower-case letters.
bool ReadPlaceholders(const wchar_t* text, std::vector<std::wstring>& names);
// text with each placeholder replaced by its value (an unknown one by nothing).
SharedWString FillPlaceholders(const wchar_t* text, std::initializer_list<TextValue> values);

// The player texts of one run: the module's string tables in the player's user interface
// language, and the studio's replacements. Copies are independent.
class PlayerTexts {
 public:
  // The texts for a player of language (PlayerLanguage: the player's own).
  explicit PlayerTexts(LANGID language = PlayerLanguage());

  LANGID Language() const { return language_; }

  // The text, its placeholders filled. The order of choice: the studio's text for the player's
  // language, the module's in that language, the studio's English text, the module's English.
  SharedWString Compose(PlayerText text, std::initializer_list<TextValue> values = {}) const;

  // Studio texts: those of the player's language, then those of English (see PlayerLanguage).
  void SetStudioText(PlayerText text, const SharedWString& value, bool english);

 private:
  SharedWString Template(PlayerText text) const;

  LANGID language_;
  std::vector<LANGID> languages_;  // the module's languages to try, English last
  std::vector<SharedWString> studio_;
  std::vector<SharedWString> studioEnglish_;
};

// The built-in text of resourceId in exactly language, empty when the module has none.
SharedWString ModuleText(UINT resourceId, LANGID language);

}  // namespace quorvel
