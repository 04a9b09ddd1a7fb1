#include "foundation/code_page.h"

#include <cstring>

#include "foundation/format.h"

namespace quorvel {
namespace {

// Code pages for which WideCharToMultiByte refuses a default character and its flag.
bool RefusesDefaultChar(UINT codePage) {
  switch (codePage) {
    case 42:
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 54936:
    case 65000:
    case 65001:
      return true;
    default:
      return codePage >= 57002 && codePage <= 57011;
  }
}

void ReportFromFailure(SharedWString& destination, const wchar_t* pattern, UINT codePage) {
  const DWORD error = GetLastError();
  Format(destination, pattern, static_cast<unsigned short>(codePage), static_cast<int>(error),
         static_cast<unsigned>(error));
}

}  // namespace

void ConvertFromCodePage(const char* text, SharedWString& destination, UINT codePage) {
  if (text == nullptr || text[0] == 0) {
    destination.Clear();
    return;
  }
  const size_t bytes = std::strlen(text) + 1;
  if (bytes > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    ReportFromFailure(destination,
                      L"Could not determine number of bytes needed to convert from codepage %hu! "
                      L"GetLastError %d (0x%08x)\n",
                      codePage);
    return;
  }
  const int m = static_cast<int>(bytes);
  const int w = MultiByteToWideChar(codePage, 0, text, m, nullptr, 0);
  if (w == 0) {
    ReportFromFailure(destination,
                      L"Could not determine number of bytes needed to convert from codepage %hu! "
                      L"GetLastError %d (0x%08x)\n",
                      codePage);
    return;
  }
  destination.PrepareBuffer(static_cast<uint32_t>(w));
  const int r = MultiByteToWideChar(codePage, 0, text, m, destination.Buffer(), w);
  if (r == 0) {
    ReportFromFailure(destination,
                      L"Failed conversion from codepage %hu! GetLastError %d (0x%08x)\n", codePage);
    return;
  }
  // r counts the terminator.
  destination.SetLength(static_cast<uint32_t>(r - 1));
}

void AppendFromCodePage(SharedWString& destination, const char* text, UINT codePage) {
  SharedWString converted;
  ConvertFromCodePage(text, converted, codePage);
  destination.Append(converted);
}

SharedWString FromCodePage(const char* text, UINT codePage) {
  SharedWString result;
  AppendFromCodePage(result, text, codePage);
  return result;
}

void ConvertToCodePage(const wchar_t* text, SharedString& destination, UINT codePage) {
  if (text == nullptr || text[0] == 0) {
    destination.Clear();
    return;
  }
  const size_t chars = wcslen(text) + 1;
  const int m = chars > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(chars);
  const bool refuses = RefusesDefaultChar(codePage);
  const char defaultChar[] = "?";
  BOOL usedDefault = FALSE;
  const char* defaultArg = refuses ? nullptr : defaultChar;
  BOOL* usedArg = refuses ? nullptr : &usedDefault;
  const int b = WideCharToMultiByte(codePage, 0, text, m, nullptr, 0, defaultArg, usedArg);
  if (b != 0 && !usedDefault) {
    destination.PrepareBuffer(static_cast<uint32_t>(b));
    const int r =
        WideCharToMultiByte(codePage, 0, text, m, destination.Buffer(), b, defaultArg, usedArg);
    if (r != 0) {
      destination.SetLength(static_cast<uint32_t>(r - 1));
      return;
    }
    const DWORD error = GetLastError();
    Format(destination, "Failed conversion to codepage %hu! GetLastError %d (0x%08x)\n",
           static_cast<unsigned short>(codePage), static_cast<int>(error),
           static_cast<unsigned>(error));
    return;
  }
  // Some character has no form in the code page: keep ASCII and spell out everything else.
  destination.PrepareBuffer(static_cast<uint32_t>(m - 1));
  for (const wchar_t* p = text; *p != 0; ++p) {
    if (*p <= 0x7F) {
      const char c = static_cast<char>(*p);
      destination.Append(&c, 1);
    } else {
      AppendFormat(destination, "<0x%04hX>", static_cast<unsigned short>(*p));
    }
  }
}

void AppendToCodePage(SharedString& destination, const wchar_t* text, UINT codePage) {
  SharedString converted;
  ConvertToCodePage(text, converted, codePage);
  destination.Append(converted);
}

}  // namespace quorvel
