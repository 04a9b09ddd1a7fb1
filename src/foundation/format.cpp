#include "foundation/format.h"

#include <cstdio>
#include <cstring>

#include "foundation/code_page.h"

namespace quorvel {

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
  // The narrow runtime could not print the text: format it wide, keeping %s arguments narrow
  // (%hs) but leaving an escaped %%s alone, and convert the result.
  SharedWString wideFormat = FromCodePage(format, 0);
  wideFormat.ReplaceAll(L"%s", L"%hs");
  wideFormat.ReplaceAll(L"%%hs", L"%%s");
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
