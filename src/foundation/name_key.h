#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/shared_string.h"

namespace quorvel {

// A name or path in the form in which two spellings that reach one file on NTFS are equal:
// every character upper-cased by the file system's own rules (all of Unicode, no locale, one
// character for one), every slash a backslash. Nothing else is folded: a trailing dot, a short
// name or a second drive letter needs the file system itself (ResolvedPath). The one key by
// which the run finds names and folders in its sets and maps, ordered and hashed.
class NameKey {
 public:
  NameKey() = default;
  explicit NameKey(const SharedWString& name);

  const SharedWString& Text() const { return text_; }
  const wchar_t* Chars() const { return text_.Chars(); }
  uint32_t Length() const { return text_.Length(); }
  bool IsEmpty() const { return text_.IsEmpty(); }
  // The key of the name's first length characters: since one character folds to one, the
  // beginning of the key (a folder on a name's way, at one of its ForEachFolderEnd ends).
  NameKey Prefix(uint32_t length) const;

  bool operator==(const NameKey& other) const { return Compare(other) == 0; }
  bool operator!=(const NameKey& other) const { return Compare(other) != 0; }
  bool operator<(const NameKey& other) const { return Compare(other) < 0; }

  struct Hash {
    size_t operator()(const NameKey& key) const;
  };

 private:
  int Compare(const NameKey& other) const;

  SharedWString text_;
};

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
template <typename Name, typename Visit>
void ForEachFolderEnd(const Name& name, Visit visit) {
  for (uint32_t end = 1; end < name.Length(); ++end) {
    if (name.Chars()[end] == L'\\' || name.Chars()[end] == L'/') {
      visit(end);
    }
  }
}

}  // namespace quorvel
