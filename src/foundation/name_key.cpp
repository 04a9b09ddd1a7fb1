#include "foundation/name_key.h"

#include <windows.h>

#include <cwchar>

#include "foundation/path_strings.h"

namespace quorvel {
namespace {

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

wchar_t Slashless(wchar_t c) { return c == L'/' ? L'\\' : c; }

}  // namespace

NameKey::NameKey(const SharedWString& name) {
  SharedWString text(name);
  ToBackslashes(text);
  const uint32_t length = text.Length();
  if (length == 0) {
    return;
  }
  SharedWString key;
  key.PrepareBuffer(length);
  // Nearly every name is ASCII, which every table folds alike; the table is asked for the rest.
  uint32_t ascii = 0;
  while (ascii < length && text.Chars()[ascii] < 0x80) {
    key.Buffer()[ascii] = AsciiUpper(text.Chars()[ascii]);
    ++ascii;
  }
  if (ascii == length) {
    key.SetLength(length);
    text_ = key;
    return;
  }
  // Without LCMAP_LINGUISTIC_CASING the mapping is the file system's: the same table that
  // CompareStringOrdinal uses when it ignores case, one character for one.
  const int mapped =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.Chars(), static_cast<int>(length),
                    key.Buffer(), static_cast<int>(length), nullptr, nullptr, 0);
  if (mapped != static_cast<int>(length)) {
    // No table: ASCII at least folds, as every file system folds it.
    for (uint32_t i = 0; i < length; ++i) {
      const wchar_t c = text.Chars()[i];
      key.Buffer()[i] = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
    }
  }
  // The file system upper-cases each UTF-16 unit on its own, so a character outside the Basic
  // Multilingual Plane (a surrogate pair) is never folded, though the table folds some (Deseret).
  for (uint32_t i = 0; i < length; ++i) {
    if (IS_SURROGATE_PAIR(text.Chars()[i], i + 1 < length ? text.Chars()[i + 1] : 0)) {
      key.Buffer()[i] = text.Chars()[i];
      key.Buffer()[i + 1] = text.Chars()[i + 1];
    }
  }
  key.SetLength(length);
  text_ = key;
}

NameKey NameKey::Prefix(uint32_t length) const {
  NameKey prefix;
  if (length >= text_.Length()) {
    prefix.text_ = text_;
  } else if (length > 0) {
    prefix.text_ = text_.Mid(0, length - 1);
  }
  return prefix;
}

int NameKey::Compare(const NameKey& other) const {
  const uint32_t shorter = Length() < other.Length() ? Length() : other.Length();
  const int order = shorter == 0 ? 0 : wmemcmp(Chars(), other.Chars(), shorter);
  return order != 0 ? order : static_cast<int>(Length()) - static_cast<int>(other.Length());
}

size_t NameKey::Hash::operator()(const NameKey& key) const {
  // FNV-1a over the units: keys of one folder share long beginnings, which it spreads.
  uint64_t hash = 14695981039346656037ull;
  for (uint32_t i = 0; i < key.Length(); ++i) {
    hash = (hash ^ static_cast<uint16_t>(key.Chars()[i])) * 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

bool SameName(const SharedWString& a, const SharedWString& b) {
  return a.Length() == b.Length() && NameKey(a) == NameKey(b);
}

int CompareNames(const SharedWString& a, const SharedWString& b) {
  // The ASCII start of both is compared here, as the system's table folds it (a call to the
  // system costs about 1 us a path under Wine); from the first other character on, the system
  // compares the rest, which is the same order since everything before was equal.
  const uint32_t shorter = a.Length() < b.Length() ? a.Length() : b.Length();
  uint32_t i = 0;
  for (; i < shorter && a.Chars()[i] < 0x80 && b.Chars()[i] < 0x80; ++i) {
    const wchar_t left = Slashless(AsciiUpper(a.Chars()[i]));
    const wchar_t right = Slashless(AsciiUpper(b.Chars()[i]));
    if (left != right) {
      return left < right ? -1 : 1;
    }
  }
  if (i == shorter) {
    return a.Length() == b.Length() ? 0 : (a.Length() < b.Length() ? -1 : 1);
  }
  SharedWString left;
  SharedWString right;
  left.Append(a.Chars() + i, a.Length() - i);
  right.Append(b.Chars() + i, b.Length() - i);
  ToBackslashes(left);
  ToBackslashes(right);
  return CompareStringOrdinal(left.Chars(), static_cast<int>(left.Length()), right.Chars(),
                              static_cast<int>(right.Length()), TRUE) -
         CSTR_EQUAL;
}

bool StartsWithName(const SharedWString& text, const SharedWString& start) {
  const uint32_t length = start.Length();
  if (text.Length() < length) {
    return false;
  }
  if (text.Find(L'/') >= 0 || start.Find(L'/') >= 0) {
    return CompareNames(text.Mid(0, length - 1), start) == 0;
  }
  return CompareStringOrdinal(text.Chars(), static_cast<int>(length), start.Chars(),
                              static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

}  // namespace quorvel
