#pragma once

#include <cstdint>

namespace quorvel {

// The header that stands immediately before the characters of every string block.
struct StringHeader {
  volatile long refCount;  // changed only through interlocked increment and decrement
  uint32_t capacity;       // character slots, terminator included
  uint32_t hash;           // kNoHash while no hash is known
  uint32_t length;         // characters including the terminator; 1 is the empty string
};
static_assert(sizeof(StringHeader) == 16, "the block layout has a 16-byte header");

constexpr uint32_t kNoHash = 0xFFFFFFFFu;

// A block in static storage: the header followed by its characters. Its count starts at 2,
// so no release ever reaches zero.
template <typename CharT, uint32_t N>
struct StaticStringBlock {
  StringHeader header;
  CharT chars[N];
};

// Reference-counted, copy-on-write string. The object is a single pointer to the characters;
// every empty string of a width shares one static block, so a string never holds null and an
// empty string never allocates. Copies share the block; a change to a shared block first moves
// the string to a block of its own. One object belongs to one thread at a time; blocks may be
// shared across threads.
template <typename CharT>
class BasicSharedString {
 public:
  BasicSharedString();
  // Null or empty text gives the shared empty block; other text an exactly sized copy.
  BasicSharedString(const CharT* text);  // NOLINT(google-explicit-constructor)
  BasicSharedString(const BasicSharedString& other);
  BasicSharedString& operator=(const BasicSharedString& other);
  BasicSharedString& operator=(const CharT* text);
  ~BasicSharedString();

  void Assign(const BasicSharedString& other);
  void Assign(const CharT* text);
  void Clear();
  // Appends count characters of chars; nothing happens for null or empty text or a count of 0.
  void Append(const CharT* chars, uint32_t count);
  void Append(const BasicSharedString& other);
  void Append(CharT c) { Append(&c, 1); }
  // Characters first..last, both included, clipped to the text.
  BasicSharedString Mid(uint32_t first, uint32_t last) const;
  // Strips characters of set from the start and/or end.
  void Trim(const BasicSharedString& set, bool leading, bool trailing);
  // Stores c at index; the terminator's slot appends; a NUL cuts the text there.
  void SetAt(uint32_t index, CharT c);
  // Empties the string and guarantees an unshared block of at least n + 1 slots; the caller
  // writes the characters and then calls SetLength.
  void PrepareBuffer(uint32_t n);
  // Records n characters written in place after PrepareBuffer (n + 1 must fit the capacity).
  void SetLength(uint32_t n);
  // Makes room for n more characters; false only when the size would overflow 32 bits.
  bool ReserveExtra(uint32_t n);
  // Ensures the block is held by this string alone before a change in place.
  void MakeUnique();
  // Replaces non-overlapping occurrences, left to right; returns their number.
  uint32_t ReplaceAll(const BasicSharedString& pattern, const BasicSharedString& replacement);
  // Index of the first c, or -1 (NUL is found at Length()).
  int32_t Find(CharT c) const;
  // Exact comparison of the characters, no case folding.
  bool Equals(const BasicSharedString& other) const;
  // Pointer to the character at index; any index at or past Length() gives the terminator.
  const CharT* CharAt(uint32_t index) const;
  uint32_t Length() const { return header()->length - 1; }
  bool IsEmpty() const { return header()->length <= 1; }
  const CharT* Chars() const { return chars_; }
  // Writable characters; only after MakeUnique or PrepareBuffer.
  CharT* Buffer() { return chars_; }

 protected:
  struct StaticBlockTag {};
  // Names a block in static storage, taking one reference as every holder does.
  BasicSharedString(StaticBlockTag, CharT* chars) : chars_(chars) { AddRef(chars_); }

 private:
  StringHeader* header() const { return reinterpret_cast<StringHeader*>(chars_) - 1; }
  static CharT* EmptyChars();
  static CharT* AllocateBlock(uint32_t n, bool exact);
  static void AddRef(CharT* chars);
  static void Release(CharT* chars);
  void Replace(CharT* chars);  // takes over a fresh block, releasing the old one

  CharT* chars_;
};

class SharedString : public BasicSharedString<char> {
 public:
  using BasicSharedString<char>::BasicSharedString;
  SharedString() = default;
  SharedString(const BasicSharedString<char>& other) : BasicSharedString<char>(other) {}  // NOLINT
  // The process command line as GetCommandLineA gives it.
  static SharedString FromCommandLine();
};

class SharedWString : public BasicSharedString<wchar_t> {
 public:
  using BasicSharedString<wchar_t>::BasicSharedString;
  SharedWString() = default;
  SharedWString(const BasicSharedString<wchar_t>& other)  // NOLINT
      : BasicSharedString<wchar_t>(other) {}
  // Space, line feed, carriage return, tab and form feed: the set callers pass to Trim.
  static const SharedWString Whitespace;

 private:
  SharedWString(StaticBlockTag tag, wchar_t* chars) : BasicSharedString<wchar_t>(tag, chars) {}
};

static_assert(sizeof(SharedWString) == sizeof(void*), "a string is one pointer");

}  // namespace quorvel
