#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quorvel {

// The player's user interface language, as Windows chooses resources by it.
LANGID PlayerLanguage();

// The languages of the module's string tables to try for a player of language, in order:
// language itself, else the module's text of the same language for another country (for
// Chinese, of the same script), then English (United States).
std::vector<LANGID> ModuleLanguagesFor(LANGID language);

// The section tags of a studio's texts file that speak to a player of language, lower case,
// most specific first: "de-at", "de"; "zh-hk", "zh-hant", "zh".
std::vector<std::wstring> StudioTagsFor(LANGID language);

}  // namespace quorvel
