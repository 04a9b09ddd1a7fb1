#include "patch/run/journal_names.h"

#include "foundation/name_key.h"

namespace quorvel {

bool IsJournalName(const SharedWString& name) {
  // Every name the journal takes begins with its own: the draft and the damaged ones kept aside.
  return name.Find(L'\\') < 0 && name.Find(L'/') < 0 && StartsWithName(name, kJournalName);
}

}  // namespace quorvel
