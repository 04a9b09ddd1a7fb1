#include "patch/texts/player_language.h"

#include <cwctype>

#include "foundation/library_module.h"
#include "resources/resource.h"

namespace quorvel {
namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<LANGID>*>(languages)->push_back(language);
  return TRUE;
}

// Traditional Chinese is written in Taiwan, Hong Kong and Macao; Simplified elsewhere.
bool IsTraditionalChinese(LANGID language) {
  const WORD country = SUBLANGID(language);
  return country == SUBLANG_CHINESE_TRADITIONAL || country == SUBLANG_CHINESE_HONGKONG ||
         country == SUBLANG_CHINESE_MACAU;
}

}  // namespace

LANGID PlayerLanguage() { return GetUserDefaultUILanguage(); }

std::vector<LANGID> ModuleLanguagesFor(LANGID language) {
  // Every language carries the whole table, so the caption's block names them all.
  std::vector<LANGID> carried;
  EnumResourceLanguagesW(LibraryModule(), RT_STRING, MAKEINTRESOURCEW(IDS_CAPTION / 16 + 1),
                         &CollectLanguage, reinterpret_cast<LONG_PTR>(&carried));
  std::vector<LANGID> chosen;
  for (LANGID candidate : carried) {
    if (candidate == language) {
      chosen.push_back(candidate);
    }
  }
  for (LANGID candidate : carried) {
    if (!chosen.empty()) {
      break;
    }
    if (PRIMARYLANGID(candidate) == PRIMARYLANGID(language) &&
        (PRIMARYLANGID(language) != LANG_CHINESE ||
         IsTraditionalChinese(candidate) == IsTraditionalChinese(language))) {
      chosen.push_back(candidate);
    }
  }
  if (chosen.empty() || chosen.front() != kEnglish) {
    chosen.push_back(kEnglish);
  }
  return chosen;
}

std::vector<std::wstring> StudioTagsFor(LANGID language) {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  std::vector<std::wstring> tags;
  if (LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) == 0) {
    return tags;
  }
  std::wstring tag = name;
  for (wchar_t& c : tag) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  tags.push_back(tag);
  const std::wstring primary = tag.substr(0, tag.find(L'-'));
  if (PRIMARYLANGID(language) == LANG_CHINESE) {
    const std::wstring script = IsTraditionalChinese(language) ? L"zh-hant" : L"zh-hans";
    if (script != tag) {
      tags.push_back(script);
    }
  }
  if (primary != tag) {
    tags.push_back(primary);
  }
  return tags;
}

}  // namespace quorvel
