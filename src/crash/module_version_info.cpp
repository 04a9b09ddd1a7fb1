#include "crash/module_version_info.h"

#include "foundation/format.h"

namespace quorvel {

const char* const kVersionKeys[] = {
    "CompanyName",        "FileDescription", "FileVersion",      "InternalName",
    "LegalCopyright",     "LegalTrademarks", "OriginalFilename", "ProductName",
    "ProductVersion",     "Comments",        "PrivateBuild",     "SpecialBuild",
    "DastryBuildVersion", "DastryType",      "NetVersion",       nullptr};

namespace {

constexpr uint32_t kEnglishUnicode = 0x0409 | (1200u << 16);

}  // namespace

ModuleVersionInfo::ModuleVersionInfo(HMODULE module) {
  char name[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
  // A name that filled the buffer may be cut short and name another file.
  if (length == 0 || length >= MAX_PATH) {
    return;
  }
  path_ = name;
  decltype(&GetFileVersionInfoSizeA) infoSize = nullptr;
  decltype(&GetFileVersionInfoA) info = nullptr;
  if (!versionLibrary_.Bind("GetFileVersionInfoSizeA", infoSize) ||
      !versionLibrary_.Bind("GetFileVersionInfoA", info) ||
      !versionLibrary_.Bind("VerQueryValueA", queryValue_)) {
    return;
  }
  DWORD handle = 0;
  const DWORD size = infoSize(name, &handle);
  if (size == 0 || !data_.Resize(size, CharBuffer::SetSizeExactly)) {
    return;
  }
  if (!info(name, handle, size, data_.Data())) {
    data_.Reset();
    return;
  }
  void* table = nullptr;
  UINT tableBytes = 0;
  if (queryValue_(data_.Data(), "\\VarFileInfo\\Translation", &table, &tableBytes) &&
      table != nullptr) {
    translations_ = static_cast<const Translation*>(table);
    translationCount_ = tableBytes / sizeof(Translation);
  }
  if (translationCount_ != 0 && !selectTranslation(kEnglishUnicode)) {
    selectTranslation(translations_[0].language | (uint32_t{translations_[0].codePage} << 16));
  }
}

bool ModuleVersionInfo::selectTranslation(uint32_t pair) {
  const WORD language = LOWORD(pair);
  const WORD codePage = HIWORD(pair);
  for (uint32_t i = 0; i < translationCount_; ++i) {
    if (translations_[i].language == language && translations_[i].codePage == codePage) {
      Format(selectedKey_, "%04x%04x", language, codePage);
      return true;
    }
  }
  return false;
}

bool ModuleVersionInfo::queryString(const char* name, SharedString& value) const {
  if (!hasData()) {
    return false;
  }
  SharedString subBlock;
  Format(subBlock, "\\StringFileInfo\\%s\\%s", selectedKey_.Chars(), name);
  void* text = nullptr;
  UINT length = 0;
  if (!queryValue_(data_.Data(), subBlock.Chars(), &text, &length) || text == nullptr) {
    return false;
  }
  value = static_cast<const char*>(text);
  return true;
}

void ModuleVersionInfo::appendListing(SharedString& text) {
  for (uint32_t i = 0; i < translationCount_; ++i) {
    if (i != 0) {
      text.Append('\n');
    }
    const Translation entry = translations_[i];
    selectTranslation(entry.language | (uint32_t{entry.codePage} << 16));
    char language[100] = {};
    if (VerLanguageNameA(entry.language, language, 99) != 0) {
      AppendFormat(text, "  Language: %s\n", language);
    }
    for (const char* const* key = kVersionKeys; *key != nullptr; ++key) {
      SharedString value;
      if (queryString(*key, value)) {
        AppendFormat(text, "  %s : %s\n", *key, value.Chars());
      }
    }
  }
}

HMODULE ModuleVersionInfo::moduleOfAddress(const void* address) {
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQuery(address, &region, sizeof(region)) == 0) {
    return nullptr;
  }
  return static_cast<HMODULE>(region.AllocationBase);
}

}  // namespace quorvel
