#include "foundation/shared_string.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace quorvel {
namespace {

StaticStringBlock<char, 1> g_emptyNarrow = {{2, 1, kNoHash, 1}, {0}};
StaticStringBlock<wchar_t, 1> g_emptyWide = {{2, 1, kNoHash, 1}, {0}};
StaticStringBlock<wchar_t, 6> g_whitespace = {{2, 6, kNoHash, 6},
                                              {L' ', L'\n', L'\r', L'\t', L'\f', 0}};

template <typename CharT>
uint32_t TextLength(const CharT* text) {
  uint32_t n = 0;
  while (text[n] != 0) {
    ++n;
  }
  return n;
}

uint32_t GrowthCapacity(uint32_t n) {
  if (n == 0) {
    return 1;
  }
  if (n <= 8192) {
    uint32_t capacity = 1;
    while (capacity <= 2 * n) {
      capacity <<= 1;
    }
    return capacity;
  }
  const uint64_t rounded = (static_cast<uint64_t>(n) / 8192 + 1) * 8192;
  if (rounded > 0xFFFFFFFFull) {
    std::abort();
  }
  return static_cast<uint32_t>(rounded);
}

}  // namespace

template <>
char* BasicSharedString<char>::EmptyChars() {
  return g_emptyNarrow.chars;
}

template <>
wchar_t* BasicSharedString<wchar_t>::EmptyChars() {
  return g_emptyWide.chars;
}

template <typename CharT>
void BasicSharedString<CharT>::AddRef(CharT* chars) {
  InterlockedIncrement(&(reinterpret_cast<StringHeader*>(chars) - 1)->refCount);
}

template <typename CharT>
void BasicSharedString<CharT>::Release(CharT* chars) {
  StringHeader* header = reinterpret_cast<StringHeader*>(chars) - 1;
  if (InterlockedDecrement(&header->refCount) == 0) {
    std::free(header);
  }
}

// A string operation has no way to report a failed allocation, and carrying on with a path that
// silently lost its text could move or delete the wrong file. The process ends instead.
template <typename CharT>
CharT* BasicSharedString<CharT>::AllocateBlock(uint32_t n, bool exact) {
  if (n == 0xFFFFFFFFu) {
    std::abort();
  }
  const uint32_t capacity = exact ? n + 1 : GrowthCapacity(n);
  const uint64_t bytes = sizeof(StringHeader) + static_cast<uint64_t>(capacity) * sizeof(CharT);
  if (bytes > static_cast<uint64_t>(SIZE_MAX)) {
    std::abort();
  }
  auto* header = static_cast<StringHeader*>(std::malloc(static_cast<size_t>(bytes)));
  if (header == nullptr) {
    std::abort();
  }
  header->refCount = 1;
  header->capacity = capacity;
  header->hash = kNoHash;
  header->length = n + 1;
  return reinterpret_cast<CharT*>(header + 1);
}

template <typename CharT>
void BasicSharedString<CharT>::Replace(CharT* chars) {
  CharT* old = chars_;
  chars_ = chars;
  Release(old);
}

template <typename CharT>
BasicSharedString<CharT>::BasicSharedString() : chars_(EmptyChars()) {
  AddRef(chars_);
}

template <typename CharT>
BasicSharedString<CharT>::BasicSharedString(const CharT* text) : chars_(EmptyChars()) {
  if (text == nullptr || text[0] == 0) {
    AddRef(chars_);
    return;
  }
  const uint32_t n = TextLength(text);
  chars_ = AllocateBlock(n, true);
  std::memcpy(chars_, text, (static_cast<size_t>(n) + 1) * sizeof(CharT));
}

template <typename CharT>
BasicSharedString<CharT>::BasicSharedString(const BasicSharedString& other) : chars_(other.chars_) {
  AddRef(chars_);
}

template <typename CharT>
BasicSharedString<CharT>& BasicSharedString<CharT>::operator=(const BasicSharedString& other) {
  Assign(other);
  return *this;
}

template <typename CharT>
BasicSharedString<CharT>& BasicSharedString<CharT>::operator=(const CharT* text) {
  Assign(text);
  return *this;
}

template <typename CharT>
BasicSharedString<CharT>::~BasicSharedString() {
  Release(chars_);
}

template <typename CharT>
void BasicSharedString<CharT>::Assign(const BasicSharedString& other) {
  if (chars_ == other.chars_) {
    return;
  }
  AddRef(other.chars_);
  Replace(other.chars_);
}

template <typename CharT>
void BasicSharedString<CharT>::Assign(const CharT* text) {
  if (text == nullptr || text[0] == 0) {
    Clear();
    return;
  }
  const uint32_t n = TextLength(text);
  StringHeader* own = header();
  // The text may lie inside this very block (a copy of its tail); memmove keeps that safe.
  if (own->refCount == 1 && own->capacity > n) {
    std::memmove(chars_, text, (static_cast<size_t>(n) + 1) * sizeof(CharT));
    own->length = n + 1;
    own->hash = kNoHash;
    return;
  }
  CharT* block = AllocateBlock(n, true);
  std::memcpy(block, text, (static_cast<size_t>(n) + 1) * sizeof(CharT));
  Replace(block);
}

template <typename CharT>
void BasicSharedString<CharT>::Clear() {
  if (chars_ == EmptyChars()) {
    return;
  }
  AddRef(EmptyChars());
  Replace(EmptyChars());
}

template <typename CharT>
void BasicSharedString<CharT>::Append(const CharT* chars, uint32_t count) {
  if (chars == nullptr || chars[0] == 0 || count == 0) {
    return;
  }
  StringHeader* own = header();
  const uint32_t oldLength = own->length;
  const uint32_t newLength = oldLength + count;
  if (newLength <= oldLength) {
    return;
  }
  // The appended characters may come from this string's own block, which a move to a new block
  // would free: keep the old block alive until they have been copied.
  CharT* old = chars_;
  bool moved = false;
  if (own->refCount == 1 && own->capacity >= newLength) {
    own->length = newLength;
    own->hash = kNoHash;
  } else {
    CharT* block = AllocateBlock(newLength - 1, false);
    std::memcpy(block, old, (static_cast<size_t>(oldLength) - 1) * sizeof(CharT));
    chars_ = block;
    moved = true;
  }
  std::memmove(chars_ + (oldLength - 1), chars, static_cast<size_t>(count) * sizeof(CharT));
  chars_[newLength - 1] = 0;
  if (moved) {
    Release(old);
  }
}

template <typename CharT>
void BasicSharedString<CharT>::Append(const BasicSharedString& other) {
  if (other.IsEmpty()) {
    return;
  }
  if (IsEmpty()) {
    Assign(other);
    return;
  }
  Append(other.chars_, other.Length());
}

template <typename CharT>
BasicSharedString<CharT> BasicSharedString<CharT>::Mid(uint32_t first, uint32_t last) const {
  BasicSharedString result;
  const uint32_t length = Length();
  if (first >= length) {
    return result;
  }
  if (last > length - 1) {
    last = length - 1;
  }
  if (last < first) {
    return result;
  }
  result.Append(chars_ + first, last - first + 1);
  return result;
}

template <typename CharT>
void BasicSharedString<CharT>::Trim(const BasicSharedString& set, bool leading, bool trailing) {
  auto inSet = [&set](CharT c) {
    for (const CharT* p = set.chars_; *p != 0; ++p) {
      if (*p == c) {
        return true;
      }
    }
    return false;
  };
  uint32_t start = 0;
  uint32_t kept = Length();
  if (leading) {
    while (chars_[start] != 0 && inSet(chars_[start])) {
      ++start;
      --kept;
    }
  }
  if (trailing) {
    while (kept != 0 && inSet(chars_[start + kept - 1])) {
      --kept;
    }
  }
  if (start == 0 && kept == Length()) {
    return;
  }
  const BasicSharedString old(*this);
  Clear();
  if (kept != 0) {
    Append(old.chars_ + start, kept);
  }
}

template <typename CharT>
void BasicSharedString<CharT>::SetAt(uint32_t index, CharT c) {
  const uint32_t length = header()->length;
  if (index >= length || chars_[index] == c) {
    return;
  }
  if (index == length - 1) {
    Append(&c, 1);
    return;
  }
  MakeUnique();
  chars_[index] = c;
  if (c == 0) {
    header()->length = index + 1;
  }
}

template <typename CharT>
void BasicSharedString<CharT>::PrepareBuffer(uint32_t n) {
  StringHeader* own = header();
  if (own->refCount == 1 && own->length >= n + 1) {
    MakeUnique();
  } else {
    Replace(AllocateBlock(n, true));
  }
  chars_[0] = 0;
  header()->length = 1;
}

template <typename CharT>
void BasicSharedString<CharT>::SetLength(uint32_t n) {
  StringHeader* own = header();
  if (chars_ == EmptyChars() || n + 1 > own->capacity) {
    return;
  }
  own->length = n + 1;
  own->hash = kNoHash;
  chars_[n] = 0;
}

template <typename CharT>
bool BasicSharedString<CharT>::ReserveExtra(uint32_t n) {
  if (n == 0) {
    return true;
  }
  StringHeader* own = header();
  const uint32_t length = own->length;
  if (length + n <= length) {
    return false;
  }
  if (own->refCount == 1 && own->capacity >= length + n) {
    return true;
  }
  CharT* block = AllocateBlock(length + n - 1, false);
  StringHeader* fresh = reinterpret_cast<StringHeader*>(block) - 1;
  fresh->length = length;
  fresh->hash = own->hash;
  std::memcpy(block, chars_, static_cast<size_t>(length) * sizeof(CharT));
  Replace(block);
  return true;
}

template <typename CharT>
void BasicSharedString<CharT>::MakeUnique() {
  StringHeader* own = header();
  if (own->refCount == 1) {
    own->hash = kNoHash;
    return;
  }
  const uint32_t length = own->length;
  CharT* block = AllocateBlock(length - 1, false);
  std::memcpy(block, chars_, static_cast<size_t>(length) * sizeof(CharT));
  Replace(block);
}

template <typename CharT>
uint32_t BasicSharedString<CharT>::ReplaceAll(const BasicSharedString& pattern,
                                              const BasicSharedString& replacement) {
  const uint32_t patternLength = pattern.Length();
  const uint32_t length = Length();
  if (patternLength == 0 || patternLength > length) {
    return 0;
  }
  std::vector<uint32_t> positions;
  for (uint32_t i = 0; i + patternLength <= length;) {
    if (std::memcmp(chars_ + i, pattern.chars_, patternLength * sizeof(CharT)) == 0) {
      positions.push_back(i);
      i += patternLength;
    } else {
      ++i;
    }
  }
  if (positions.empty()) {
    return 0;
  }
  const uint32_t count = static_cast<uint32_t>(positions.size());
  const uint32_t replacementLength = replacement.Length();
  const uint64_t newLength = static_cast<uint64_t>(length) +
                             static_cast<uint64_t>(count) * replacementLength -
                             static_cast<uint64_t>(count) * patternLength;
  if (newLength >= 0xFFFFFFFFull) {
    std::abort();
  }
  CharT* block = AllocateBlock(static_cast<uint32_t>(newLength), false);
  CharT* out = block;
  uint32_t from = 0;
  for (uint32_t position : positions) {
    std::memcpy(out, chars_ + from, (position - from) * sizeof(CharT));
    out += position - from;
    std::memcpy(out, replacement.chars_, replacementLength * sizeof(CharT));
    out += replacementLength;
    from = position + patternLength;
  }
  std::memcpy(out, chars_ + from, (static_cast<size_t>(length) - from + 1) * sizeof(CharT));
  (reinterpret_cast<StringHeader*>(block) - 1)->length = static_cast<uint32_t>(newLength) + 1;
  Replace(block);
  return count;
}

template <typename CharT>
int32_t BasicSharedString<CharT>::Find(CharT c) const {
  const uint32_t length = header()->length;
  for (uint32_t i = 0; i < length; ++i) {
    if (chars_[i] == c) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

template <typename CharT>
bool BasicSharedString<CharT>::Equals(const BasicSharedString& other) const {
  const StringHeader* a = header();
  const StringHeader* b = other.header();
  if (a->length != b->length) {
    return false;
  }
  if (a->hash != b->hash && a->hash != kNoHash && b->hash != kNoHash) {
    return false;
  }
  return std::memcmp(chars_, other.chars_, static_cast<size_t>(a->length) * sizeof(CharT)) == 0;
}

template <typename CharT>
const CharT* BasicSharedString<CharT>::CharAt(uint32_t index) const {
  const uint32_t length = Length();
  return chars_ + (index < length ? index : length);
}

template class BasicSharedString<char>;
template class BasicSharedString<wchar_t>;

SharedString SharedString::FromCommandLine() { return SharedString(GetCommandLineA()); }

const SharedWString SharedWString::Whitespace(StaticBlockTag{}, g_whitespace.chars);

}  // namespace quorvel
