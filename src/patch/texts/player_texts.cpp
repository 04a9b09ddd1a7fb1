#include "patch/texts/player_texts.h"

#include "foundation/library_module.h"
#include "patch/texts/player_language.h"
#include "resources/resource.h"

namespace quorvel {

const std::vector<PlayerTextInfo>& PlayerTextTable() {
  // A new text: its id in resource.h, one row here, and one line in each resources/texts file.
  static const std::vector<PlayerTextInfo> table = {
      {PlayerText::kCaption, IDS_CAPTION, "caption", {}},
      {PlayerText::kWaitingForLauncher, IDS_WAITING_FOR_LAUNCHER, "waiting_for_launcher", {}},
      {PlayerText::kRestoring, IDS_RESTORING, "restoring", {}},
      {PlayerText::kUpdatingFile,
       IDS_UPDATING_FILE,
       "updating_file",
       {L"number", L"count", L"file"}},
      {PlayerText::kRetrying,
       IDS_RETRYING,
       "retrying",
       {L"file", L"reason", L"attempt", L"attempts"}},
      {PlayerText::kRetryingHeldFile,
       IDS_RETRYING_HELD_FILE,
       "retrying_held_file",
       {L"file", L"reason", L"attempt", L"attempts"}},
      {PlayerText::kReasonNumber, IDS_REASON_NUMBER, "reason_number", {L"code"}},
      {PlayerText::kReasonResult, IDS_REASON_RESULT, "reason_result", {L"result"}},
      {PlayerText::kReverting, IDS_REVERTING, "reverting", {L"file"}},
      {PlayerText::kPatchFailed, IDS_PATCH_FAILED, "patch_failed", {L"file", L"result"}},
      {PlayerText::kPatchFailedReason,
       IDS_PATCH_FAILED_REASON,
       "patch_failed_reason",
       {L"file", L"code", L"reason"}},
      {PlayerText::kRestartFailed, IDS_RESTART_FAILED, "restart_failed", {L"code", L"reason"}},
      {PlayerText::kWaitingForOtherRun, IDS_WAITING_FOR_OTHER_RUN, "waiting_for_other_run", {}},
      {PlayerText::kRestoringFile, IDS_RESTORING_FILE, "restoring_file", {L"file"}},
      {PlayerText::kAskRetryHeldFile,
       IDS_ASK_RETRY_HELD_FILE,
       "ask_retry_held_file",
       {L"file", L"reason"}},
      {PlayerText::kAskRetry, IDS_ASK_RETRY, "ask_retry", {L"file", L"reason"}},
  };
  return table;
}

const PlayerTextInfo* FindPlayerText(const std::wstring& key) {
  for (const PlayerTextInfo& info : PlayerTextTable()) {
    const std::string name = info.key;
    if (key == std::wstring(name.begin(), name.end())) {
      return &info;
    }
  }
  return nullptr;
}

namespace {

// Calls text for each literal run and placeholder for each placeholder's name; false when the
// text is malformed.
template <typename Literal, typename Placeholder>
bool WalkTemplate(const wchar_t* text, Literal literal, Placeholder placeholder) {
  for (const wchar_t* p = text; *p != L'\0';) {
    if ((p[0] == L'{' && p[1] == L'{') || (p[0] == L'}' && p[1] == L'}')) {
      literal(p, 1);
      p += 2;
    } else if (p[0] == L'}') {
      return false;
    } else if (p[0] == L'{') {
      const wchar_t* end = p + 1;
      while (*end >= L'a' && *end <= L'z') {
        ++end;
      }
      if (*end != L'}' || end == p + 1) {
        return false;
      }
      placeholder(std::wstring(p + 1, end));
      p = end + 1;
    } else {
      const wchar_t* end = p;
      while (*end != L'\0' && *end != L'{' && *end != L'}') {
        ++end;
      }
      literal(p, static_cast<uint32_t>(end - p));
      p = end;
    }
  }
  return true;
}

}  // namespace

bool ReadPlaceholders(const wchar_t* text, std::vector<std::wstring>& names) {
  names.clear();
  return WalkTemplate(
      text, [](const wchar_t*, uint32_t) {},
      [&](const std::wstring& name) { names.push_back(name); });
}

SharedWString FillPlaceholders(const wchar_t* text, std::initializer_list<TextValue> values) {
  SharedWString filled;
  WalkTemplate(
      text, [&](const wchar_t* chars, uint32_t count) { filled.Append(chars, count); },
      [&](const std::wstring& name) {
        for (const TextValue& value : values) {
          if (name == value.name) {
            filled.Append(value.value);
          }
        }
      });
  return filled;
}

SharedWString ModuleText(UINT resourceId, LANGID language) {
  // A string table block holds 16 strings, each counted, not terminated.
  const HMODULE module = LibraryModule();
  HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(resourceId / 16 + 1), language);
  const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const auto* block = static_cast<const WCHAR*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  if (block == nullptr) {
    return SharedWString();
  }
  const WCHAR* end = block + SizeofResource(module, found) / sizeof(WCHAR);
  for (UINT i = 0; i < resourceId % 16 && block < end; ++i) {
    block += 1 + *block;
  }
  SharedWString text;
  if (block < end && block + 1 + *block <= end) {
    text.Append(block + 1, *block);
  }
  return text;
}

PlayerTexts::PlayerTexts(LANGID language)
    : language_(language),
      languages_(ModuleLanguagesFor(language)),
      studio_(static_cast<size_t>(PlayerText::kCount)),
      studioEnglish_(static_cast<size_t>(PlayerText::kCount)) {}

void PlayerTexts::SetStudioText(PlayerText text, const SharedWString& value, bool english) {
  (english ? studioEnglish_ : studio_)[static_cast<size_t>(text)] = value;
}

SharedWString PlayerTexts::Template(PlayerText text) const {
  const size_t index = static_cast<size_t>(text);
  if (!studio_[index].IsEmpty()) {
    return studio_[index];
  }
  const PlayerTextInfo& info = PlayerTextTable()[index];
  for (LANGID language : languages_) {
    if (language == languages_.back() && !studioEnglish_[index].IsEmpty()) {
      return studioEnglish_[index];
    }
    SharedWString found = ModuleText(info.resourceId, language);
    if (!found.IsEmpty()) {
      return found;
    }
  }
  // A module without its string tables still tells the player what happened.
  SharedWString bare;
  for (const char* c = info.key; *c != '\0'; ++c) {
    bare.Append(static_cast<wchar_t>(*c));
  }
  for (const std::wstring& name : info.placeholders) {
    bare.Append(L" {", 2);
    bare.Append(name.c_str(), static_cast<uint32_t>(name.size()));
    bare.Append(L'}');
  }
  return bare;
}

SharedWString PlayerTexts::Compose(PlayerText text, std::initializer_list<TextValue> values) const {
  return FillPlaceholders(Template(text).Chars(), values);
}

}  // namespace quorvel
