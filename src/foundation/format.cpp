#include "foundation/format.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "foundation/code_page.h"

namespace quorvel {
namespace {

// p moved past the characters of set that start it.
const wchar_t* Skip(const wchar_t* p, const wchar_t* set) {
  while (*p != L'\0' && std::wcschr(set, *p) != nullptr) {
    ++p;
  }
  return p;
}

// p moved past a width or precision: * or digits.
const wchar_t* SkipCount(const wchar_t* p) { return *p == L'*' ? p + 1 : Skip(p, L"0123456789"); }

}  // namespace

// Without a length, the wide runtime takes %s and %c as wide and %S and %C as narrow, the
// opposite of the narrow runtime; so each conversion is read whole (flags, width, precision,
// length, type), and one without a length gets the length that keeps its argument's width. The
// rest is copied unchanged.
SharedWString WideFormatOf(const char* format) {
  const SharedWString narrow = FromCodePage(format, 0);
  SharedWString wide;
  const wchar_t* p = narrow.Chars();
  while (*p != L'\0') {
    const wchar_t* start = p;
    if (*p != L'%') {
      p = std::wcschr(p, L'%');
      p = p != nullptr ? p : start + std::wcslen(start);
      wide.Append(start, static_cast<uint32_t>(p - start));
      continue;
    }
    p = SkipCount(Skip(p + 1, L"-+ #0"));
    if (*p == L'.') {
      p = SkipCount(p + 1);
    }
    // h, hh, l, ll, L, w, I, I32, I64, j, z, t.
    const wchar_t* length = p;
    p = Skip(p, L"hlLwIjzt0123456789");
    const bool hasLength = p != length;
    wide.Append(start, static_cast<uint32_t>(p - start));
    if (*p == L'\0') {
      break;
    }
    wchar_t type = *p++;
    if (!hasLength && (type == L's' || type == L'c')) {
      wide.Append(L'h');
    } else if (!hasLength && (type == L'S' || type == L'C')) {
      wide.Append(L'l');
      type = type == L'S' ? L's' : L'c';
    }
    wide.Append(type);
  }
  return wide;
}

int32_t FormatWide(SharedWString& result, const wchar_t* format, va_list args) {
  if (format == nullptr) {
    result.Clear();
    return 0;
  }
  va_list measure;
  va_copy(measure, args);
  const int n = _vscwprintf(format, measure);
  va_end(measure);
  if (n <= 0) {
    result.Clear();
    return 0;
  }
  SharedWString text;
  text.PrepareBuffer(static_cast<uint32_t>(n));
  va_list write;
  va_copy(write, args);
  const int written = _vsnwprintf(text.Buffer(), static_cast<size_t>(n) + 1, format, write);
  va_end(write);
  if (written != n) {
    result.Clear();
    return 0;
  }
  text.SetLength(static_cast<uint32_t>(n));
  result = text;
  return n;
}

int32_t FormatNarrow(SharedString& result, const char* format, va_list args, UINT codePage) {
  if (format == nullptr) {
    result.Clear();
    return 0;
  }
  va_list measure;
  va_copy(measure, args);
  const int n = _vscprintf(format, measure);
  va_end(measure);
  if (n == 0) {
    result.Clear();
    return 0;
  }
  if (n > 0) {
    SharedString text;
    text.PrepareBuffer(static_cast<uint32_t>(n));
    va_list write;
    va_copy(write, args);
    const int written = _vsnprintf(text.Buffer(), static_cast<size_t>(n) + 1, format, write);
    va_end(write);
    if (written == n) {
      text.SetLength(static_cast<uint32_t>(n));
      result = text;
      return n;
    }
  }
  // The narrow runtime could not print the text: format it wide and convert the result.
  const SharedWString wideFormat = WideFormatOf(format);
  SharedWString wide;
  va_list wideArgs;
  va_copy(wideArgs, args);
  FormatWide(wide, wideFormat.Chars(), wideArgs);
  va_end(wideArgs);
  SharedString text;
  AppendToCodePage(text, wide.Chars(), codePage);
  result = text;
  return static_cast<int32_t>(result.Length());
}

int32_t FormatV(SharedWString& result, const wchar_t* format, va_list args) {
  // The old block stays alive in result until the new text is made: it may be an argument.
  SharedWString text;
  const int32_t n = FormatWide(text, format, args);
  result = text;
  return n;
}

int32_t FormatV(SharedString& result, const char* format, va_list args) {
  SharedString text;
  const int32_t n = FormatNarrow(text, format, args, CP_UTF8);
  result = text;
  return n;
}

int32_t Format(SharedWString& result, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t n = FormatV(result, format, args);
  va_end(args);
  return n;
}

int32_t Format(SharedString& result, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t n = FormatV(result, format, args);
  va_end(args);
  return n;
}

int32_t AppendFormat(SharedWString& result, const wchar_t* format, ...) {
  SharedWString text;
  va_list args;
  va_start(args, format);
  const int32_t n = FormatWide(text, format, args);
  va_end(args);
  result.Append(text);
  return n;
}

int32_t AppendFormat(SharedString& result, const char* format, ...) {
  SharedString text;
  va_list args;
  va_start(args, format);
  const int32_t n = FormatNarrow(text, format, args, CP_UTF8);
  va_end(args);
  result.Append(text);
  return n;
}

SharedWString Formatted(const wchar_t* format, ...) {
  SharedWString text;
  va_list args;
  va_start(args, format);
  FormatWide(text, format, args);
  va_end(args);
  return text;
}

void AppendUnsigned(SharedString& result, uint32_t value) {
  AppendFormat(result, "%lu", static_cast<unsigned long>(value));
}

namespace {

// Owns a buffer that FormatMessage allocated with LocalAlloc.
class LocalBuffer {
 public:
  LocalBuffer() = default;
  LocalBuffer(const LocalBuffer&) = delete;
  LocalBuffer& operator=(const LocalBuffer&) = delete;
  ~LocalBuffer() {
    if (text_ != nullptr) {
      LocalFree(text_);
    }
  }
  char** Receive() { return &text_; }
  const char* Get() const { return text_; }

 private:
  char* text_ = nullptr;
};

}  // namespace

SharedWString SystemErrorText(DWORD code) {
  LocalBuffer buffer;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  const DWORD n = FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<char*>(buffer.Receive()),
                                 0, nullptr);
  if (n == 0) {
    std::fputs("FormatMessage failed\n", stdout);
    return SharedWString();
  }
  return FromCodePage(buffer.Get(), 0);
}

}  // namespace quorvel
