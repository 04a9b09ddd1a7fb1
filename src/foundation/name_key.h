#pragma once

#include "foundation/shared_string.h"

namespace quorvel {

// The form of a name or path in which two spellings that reach one file on NTFS are equal:
// every character upper-cased by the file system's own rules (all of Unicode, no locale, one
// character for one), every slash a backslash. Nothing else is folded: a trailing dot, a short
// name or a second drive letter needs the file system itself (ResolvedPath).
SharedWString NameKey(const SharedWString& name);

// Whether a and b are one name by NameKey's rules.
bool SameName(const SharedWString& a, const SharedWString& b);

// Compares two names or paths as NameKey would, without building keys: the system's ordinal
// upper-casing, slashes as backslashes. Negative, 0 or positive.
int CompareNames(const SharedWString& a, const SharedWString& b);

// Whether text begins with start, compared as CompareNames compares.
bool StartsWithName(const SharedWString& text, const SharedWString& start);

// Orders names by CompareNames, for sets and maps of names as they are spelt.
struct NameLess {
  bool operator()(const SharedWString& a, const SharedWString& b) const {
    return CompareNames(a, b) < 0;
  }
};

// Calls visit(end) for each folder on a relative name's way, outermost first: end is the length
// of the folder's part of the name, where its slash stands. NameKey maps one character to one,
// so the ends of a name and of its key are the same.
template <typename Visit>
void ForEachFolderEnd(const SharedWString& name, Visit visit) {
  for (uint32_t end = 1; end < name.Length(); ++end) {
    if (name.Chars()[end] == L'\\' || name.Chars()[end] == L'/') {
      visit(end);
    }
  }
}

// Orders keys (NameKey) character by character, for sets and maps keyed by them.
struct KeyOrder {
  bool operator()(const SharedWString& a, const SharedWString& b) const;
};

}  // namespace quorvel
