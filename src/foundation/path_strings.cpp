#include "foundation/path_strings.h"

#include <type_traits>

namespace quorvel {

const wchar_t kPathSeparators[] = L"\\/:";
const wchar_t kSlashes[] = L"\\/";

namespace {

template <typename CharT>
bool IsIn(CharT c, const wchar_t* set) {
  for (const wchar_t* p = set; *p != 0; ++p) {
    if (static_cast<wchar_t>(static_cast<std::make_unsigned_t<CharT>>(c)) == *p) {
      return true;
    }
  }
  return false;
}

// Index just past the last separator, or 0 when there is none.
template <typename CharT>
uint32_t AfterLastSeparator(const BasicSharedString<CharT>& path) {
  for (uint32_t i = path.Length(); i > 0; --i) {
    if (IsIn(path.Chars()[i - 1], kPathSeparators)) {
      return i;
    }
  }
  return 0;
}

template <typename CharT>
void CutFileName(BasicSharedString<CharT>& path) {
  const uint32_t start = AfterLastSeparator(path);
  if (start == 0) {
    return;
  }
  path = path.Mid(start, path.Length());
}

}  // namespace

void ToBackslashes(SharedWString& path) {
  for (uint32_t i = 0; i < path.Length(); ++i) {
    if (path.Chars()[i] == L'/') {
      path.SetAt(i, L'\\');
    }
  }
}

void NormalizePath(SharedWString& path) {
  ToBackslashes(path);
  const uint32_t length = path.Length();
  if (length != 0 && path.Chars()[length - 1] == L'\\') {
    path.Trim(SharedWString(L"\\"), false, true);
  }
}

void JoinPath(SharedWString& base, const SharedWString& other) {
  if (other.IsEmpty()) {
    return;
  }
  if (base.IsEmpty()) {
    base = other;
    return;
  }
  const wchar_t* o = other.Chars();
  if (other.Length() >= 2 && o[1] == L':') {
    base = other;
    return;
  }
  if (other.Length() >= 2 && IsIn(o[0], kSlashes) && IsIn(o[1], kSlashes)) {
    base = other;
    return;
  }
  const wchar_t last = base.Chars()[base.Length() - 1];
  if (!IsIn(last, kPathSeparators) && !IsIn(o[0], kSlashes)) {
    base.Append(L'/');
  } else if (IsIn(last, kSlashes) && IsIn(o[0], kSlashes)) {
    base.SetAt(base.Length() - 1, L'\0');
  }
  base.Append(other);
}

SharedWString DirectoryPart(const SharedWString& path) {
  const uint32_t end = AfterLastSeparator(path);
  if (end == 0) {
    return SharedWString();
  }
  return path.Mid(0, end - 1);
}

void FileNamePart(SharedWString& path) { CutFileName(path); }

void FileNamePart(SharedString& path) { CutFileName(path); }

void RemoveExtension(SharedString& path) {
  for (uint32_t i = path.Length(); i > 0; --i) {
    const char c = path.Chars()[i - 1];
    if (IsIn(c, kPathSeparators)) {
      return;
    }
    if (c == '.') {
      path.SetAt(i - 1, '\0');
      return;
    }
  }
}

void KeepRoot(SharedWString& path) {
  if (path.Length() > 0 && path.Chars()[path.Length() - 1] == L':') {
    path.Append(L'\\');
  }
}

SharedWString LongPathForm(const SharedWString& fullPath) {
  const wchar_t* path = fullPath.Chars();
  SharedWString form;
  if (fullPath.Length() < kLongPathFrom) {
    return fullPath;
  }
  if (path[1] == L':' && path[2] == L'\\') {
    form = L"\\\\?\\";
    form.Append(fullPath);
  } else if (path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.') {
    form = L"\\\\?\\UNC";
    form.Append(fullPath.Mid(1, fullPath.Length()));
  } else {
    form = fullPath;
  }
  return form;
}

}  // namespace quorvel
