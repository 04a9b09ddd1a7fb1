#include "patch/journal/journal_text.h"

#include <cwchar>
#include <cwctype>

#include "files/file_path.h"
#include "foundation/format.h"

namespace quorvel {
namespace {

// The journal's text as lines; a last piece without its line end is dropped, since a record is
// written before its step and the step of a record cut short never began.
class LineReader {
 public:
  LineReader(const wchar_t* text, size_t length) : at_(text), end_(text + length) {}
  bool Next(SharedWString& line) {
    const wchar_t* stop = at_;
    while (stop < end_ && *stop != L'\n') {
      ++stop;
    }
    if (stop == end_) {
      return false;
    }
    line.Clear();
    line.Append(at_, static_cast<uint32_t>(stop - at_));
    at_ = stop + 1;
    return true;
  }

 private:
  const wchar_t* at_;
  const wchar_t* end_;
};

// The text after "key\t"; false when the line is not that.
bool Field(const SharedWString& line, const wchar_t* key, SharedWString& value) {
  const size_t length = wcslen(key);
  if (line.Length() <= length + 1 || wcsncmp(line.Chars(), key, length) != 0 ||
      line.Chars()[length] != L'\t') {
    return false;
  }
  value = line.Chars() + length + 1;
  return true;
}

// A whole number in hexadecimal or decimal up to stop; false when anything else is there.
bool Number(const wchar_t* text, const wchar_t* stop, int base, uint64_t& value) {
  if (text == stop || stop - text > 16) {
    return false;
  }
  value = 0;
  for (const wchar_t* c = text; c < stop; ++c) {
    const int digit = iswdigit(*c) ? *c - L'0' : (*c >= L'a' && *c <= L'f') ? *c - L'a' + 10 : 99;
    if (digit >= base) {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return true;
}

bool Number(const SharedWString& text, int base, uint64_t& value) {
  return Number(text.Chars(), text.Chars() + text.Length(), base, value);
}

// One identity field up to the next tab; at is moved past the tab.
bool ParseIdentity(const wchar_t*& at, const wchar_t* end, FileIdentity& identity) {
  const wchar_t* tab = at;
  while (tab < end && *tab != L'\t') {
    ++tab;
  }
  if (tab == end) {
    return false;
  }
  identity = FileIdentity();
  if (tab - at == 1 && *at == L'-') {
    at = tab + 1;
    return true;
  }
  const wchar_t* colon = at;
  while (colon < tab && *colon != L':') {
    ++colon;
  }
  identity.present = true;
  const bool parsed = colon < tab && Number(at, colon, 16, identity.size) &&
                      Number(colon + 1, tab, 16, identity.written);
  at = tab + 1;
  return parsed;
}

// A drive's root is journaled as D:\; a folder directly below it was once journaled without its
// backslash (D:name), which can only have meant the root's.
void RootDrivePath(SharedWString& folder) {
  if (folder.Length() > 2 && folder.Chars()[1] == L':' && folder.Chars()[2] != L'\\') {
    SharedWString rooted = folder.Mid(0, 1);
    rooted.Append(L'\\');
    rooted.Append(folder.Chars() + 2);
    folder = rooted;
  }
}

// Three numbers in base, separated by tabs.
bool ParseThree(const SharedWString& value, int base, uint64_t* const (&numbers)[3]) {
  const wchar_t* at = value.Chars();
  const wchar_t* end = at + value.Length();
  for (uint64_t* number : numbers) {
    const wchar_t* stop = at;
    while (stop < end && *stop != L'\t') {
      ++stop;
    }
    if (!Number(at, stop, base, *number)) {
      return false;
    }
    at = stop < end ? stop + 1 : stop;
  }
  return at == end && value.Chars()[value.Length() - 1] != L'\t';
}

bool IsStep(wchar_t c) { return c != L'\0' && c != L'-' && wcschr(L"xbdcpanor", c) != nullptr; }

}  // namespace

FileIdentity IdentityOf(FilePath& path) {
  FileIdentity identity;
  bool exists = false;
  if (FAILED(path.Query(exists)) || (exists && path.IsDirectory())) {
    identity.present = true;
    identity.size = identity.written = ~0ull;
  } else if (exists) {
    const WIN32_FILE_ATTRIBUTE_DATA& data = path.Attributes();
    identity = IdentityFrom(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                            data.ftLastWriteTime);
  }
  return identity;
}

void AppendIdentity(SharedWString& text, const FileIdentity& identity) {
  if (!identity.present) {
    text.Append(L'-');
    return;
  }
  AppendFormat(text, L"%llx:%llx", static_cast<unsigned long long>(identity.size),
               static_cast<unsigned long long>(identity.written));
}

bool ParseJournal(const wchar_t* text, size_t length, JournalContent& content) {
  LineReader reader(text, length);
  SharedWString line;
  SharedWString value;
  uint64_t count = 0;
  if (!reader.Next(line) || !line.Equals(SharedWString(kJournalFirstLine)) || !reader.Next(line) ||
      !Field(line, L"token", content.token) || content.token.Length() != 8 ||
      !Number(content.token, 16, count) || !reader.Next(line) ||
      !Field(line, L"patch", content.patchDirectory) || !reader.Next(line) ||
      !Field(line, L"application", content.applicationDirectory) || !reader.Next(line) ||
      !Field(line, L"backup", content.backupDirectory) || !reader.Next(line)) {
    return false;
  }
  for (SharedWString* folder :
       {&content.patchDirectory, &content.applicationDirectory, &content.backupDirectory}) {
    RootDrivePath(*folder);
  }
  if (Field(line, L"identities", value) &&
      (!ParseThree(value, 16,
                   {&content.patchIndex, &content.applicationIndex, &content.backupIndex}) ||
       !reader.Next(line))) {
    return false;
  }
  if (Field(line, L"damaged", content.damaged) && !reader.Next(line)) {
    return false;
  }
  // Each listed file takes a line of at least nine characters.
  if (!Field(line, L"files", value) || !Number(value, 10, count) || count > length / 9) {
    return false;
  }
  content.files.resize(static_cast<size_t>(count));
  for (JournalFile& file : content.files) {
    if (!reader.Next(line)) {
      return false;
    }
    const wchar_t* at = line.Chars();
    const wchar_t* end = at + line.Length();
    if (!ParseIdentity(at, end, file.target) || !ParseIdentity(at, end, file.backup) ||
        !ParseIdentity(at, end, file.source) || at == end) {
      return false;
    }
    file.name = at;
  }
  if (!reader.Next(line)) {
    return false;
  }
  // A name has fewer folders on its way than characters.
  for (uint64_t index = 0, game = 0, backup = 0; Field(line, L"existed", value);) {
    if (!ParseThree(value, 10, {&index, &game, &backup}) || index >= count) {
      return false;
    }
    JournalFile& file = content.files[static_cast<size_t>(index)];
    if (game >= file.name.Length() || backup >= file.name.Length() || !reader.Next(line)) {
      return false;
    }
    file.gameFoldersExisted = static_cast<uint32_t>(game);
    file.backupFoldersExisted = static_cast<uint32_t>(backup);
  }
  if (!line.Equals(SharedWString(L"begun"))) {
    return false;
  }
  while (reader.Next(line)) {
    uint64_t number = 0;
    if (content.finished) {
      return false;
    }
    if (Field(line, L"finished", value)) {
      if (value.Length() != 10 || wcsncmp(value.Chars(), L"0x", 2) != 0 ||
          !Number(value.Chars() + 2, value.Chars() + 10, 16, number)) {
        return false;
      }
      content.finished = true;
      content.result = static_cast<HRESULT>(number);
      continue;
    }
    const int32_t tab = line.Find(L'\t');
    if (tab <= 0 || static_cast<uint32_t>(tab) + 2 != line.Length() ||
        !IsStep(line.Chars()[tab + 1]) || !Number(line.Chars(), line.Chars() + tab, 10, number) ||
        number >= count) {
      return false;
    }
    content.files[static_cast<size_t>(number)].lastStep =
        static_cast<JournalStep>(line.Chars()[tab + 1]);
  }
  return true;
}

}  // namespace quorvel
