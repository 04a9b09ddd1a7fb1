#include "files/relative_name.h"

#include <cwchar>

namespace quorvel {
namespace {

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// Windows opens the device instead of a file for these base names, whatever the extension and
// whatever spaces stand before it ("con .txt"), and for the superscript digits as for 1 to 9.
bool IsDeviceName(const wchar_t* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != L'.') {
    ++base;
  }
  while (base > 0 && component[base - 1] == L' ') {
    --base;
  }
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices) {
    if (base == wcslen(device) && _wcsnicmp(component, device, base) == 0) {
      return true;
    }
  }
  if (base != 4 || (_wcsnicmp(component, L"COM", 3) != 0 && _wcsnicmp(component, L"LPT", 3) != 0)) {
    return false;
  }
  const wchar_t digit = component[3];
  return (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

const char* ComponentFault(const wchar_t* component, size_t length) {
  if (length == 0) {
    return "it has an empty component";
  }
  if ((length == 1 && component[0] == L'.') ||
      (length == 2 && component[0] == L'.' && component[1] == L'.')) {
    return "it has a . or .. component";
  }
  // The system drops a trailing space or dot from a name but not from a \\?\ path, so the same
  // name would reach two different files.
  if (component[length - 1] == L' ' || component[length - 1] == L'.') {
    return "a component ends in a space or a dot";
  }
  if (IsDeviceName(component, length)) {
    return "it is a reserved device name";
  }
  return nullptr;
}

}  // namespace

const char* RelativeNameFault(const SharedWString& name) {
  const wchar_t* text = name.Chars();
  const size_t length = name.Length();
  if (length == 0) {
    return "it is empty";
  }
  if (IsSlash(text[0])) {
    return "it is rooted";
  }
  for (size_t i = 0; i < length; ++i) {
    const wchar_t c = text[i];
    if (c == L':') {
      return "it names a drive or a stream";
    }
    if (c < 32 || wcschr(L"<>\"|?*", c) != nullptr) {
      return "it holds a character that Windows does not allow in file names";
    }
  }
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || IsSlash(text[i])) {
      const char* fault = ComponentFault(text + start, i - start);
      if (fault != nullptr) {
        return fault;
      }
      start = i + 1;
    }
  }
  return nullptr;
}

}  // namespace quorvel
