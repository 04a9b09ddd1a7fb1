#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/char_buffer.h"
#include "foundation/shared_string.h"
#include "foundation/system_library.h"

namespace quorvel {

// The version resource of one loaded module and the strings under one of its translations.
class ModuleVersionInfo {
 public:
  // Reads the version resource of module (null: the process executable) and selects U.S.
  // English with the Unicode code page, or else the first translation of its table. A module
  // whose file name or resource cannot be read has no data, as has every module when version.dll
  // cannot be loaded from the system folder.
  explicit ModuleVersionInfo(HMODULE module);
  ModuleVersionInfo(const ModuleVersionInfo&) = delete;
  ModuleVersionInfo& operator=(const ModuleVersionInfo&) = delete;

  bool hasData() const { return data_.Size() != 0; }
  // The module's full file name; empty when it could not be had.
  const SharedString& path() const { return path_; }

  // pair: language in the low 16 bits, code page in the high 16. Selects the first table
  // entry equal to it; false, with the selection unchanged, when the table has none.
  bool selectTranslation(uint32_t pair);
  // The string value name under the selected translation; false when it is absent.
  bool queryString(const char* name, SharedString& value) const;
  // Appends the report lines of the module: per translation, an empty line before every group
  // but the first, the language's name, then "  key : value" for each version key present, in
  // the fixed key order. Leaves the last translation selected.
  void appendListing(SharedString& text);

  // The allocation base of the memory region that holds address, taken as the handle of the
  // module containing it; null when the address cannot be queried.
  static HMODULE moduleOfAddress(const void* address);

 private:
  struct Translation {
    WORD language;
    WORD codePage;
  };

  // version.dll stays loaded while its functions may be called.
  SystemLibrary versionLibrary_{L"version.dll"};
  decltype(&VerQueryValueA) queryValue_ = nullptr;
  CharBuffer data_;
  uint32_t translationCount_ = 0;  // the entries of the translation table
  SharedString path_;
  // Eight lower-case hexadecimal digits, language then code page, naming the selected
  // translation; empty while none is selected.
  SharedString selectedKey_;
  const Translation* translations_ = nullptr;  // points into data_
};

// The version keys listed for every module, in the order they are printed; null-terminated.
extern const char* const kVersionKeys[];

}  // namespace quorvel
