#include "patch/run/journal_names.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>

namespace quorvel {

bool IsJournalName(const SharedWString& name) {
  // Every name the journal takes begins with its own: the draft and the damaged ones kept aside.
  const uint32_t length = static_cast<uint32_t>(wcslen(kJournalName));
  return name.Length() >= length && name.Find(L'\\') < 0 && name.Find(L'/') < 0 &&
         CompareStringOrdinal(name.Chars(), static_cast<int>(length), kJournalName,
                              static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

}  // namespace quorvel
