#include "foundation/log_text.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/code_page.h"
#include "foundation/format.h"

namespace quorvel {
namespace {

bool NeedsEscape(wchar_t c) {
  return (c < 0x20 && c != L'\t') || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// One conversion of the pattern: where it is, and the text it prints when it takes text.
struct Conversion {
  size_t begin;
  size_t end;
  bool takesText;
  SharedWString text;  // the argument as wide text (narrow text read in the ANSI code page)
  bool narrowText;
  bool keepsLineEnd;
  bool escapes;
};

// How much of text is escaped: all of it, but for the system's own CR LF that ends an error text.
size_t EscapedLength(const SharedWString& text, bool keepsLineEnd) {
  const uint32_t n = text.Length();
  const bool lineEnd =
      keepsLineEnd && n >= 2 && text.Chars()[n - 2] == L'\r' && text.Chars()[n - 1] == L'\n';
  return lineEnd ? n - 2 : n;
}

bool IsAscii(const SharedWString& text) {
  for (uint32_t i = 0; i < text.Length(); ++i) {
    if (text.Chars()[i] > 0x7F) {
      return false;
    }
  }
  return true;
}

bool HasEscapes(const SharedWString& text, bool keepsLineEnd) {
  const size_t n = EscapedLength(text, keepsLineEnd);
  for (size_t i = 0; i < n; ++i) {
    if (NeedsEscape(text.Chars()[i])) {
      return true;
    }
  }
  return false;
}

// The argument's text as the log writes it, with each % doubled to stand in a wide format.
SharedWString EscapedForFormat(const SharedWString& text, bool keepsLineEnd) {
  const size_t n = EscapedLength(text, keepsLineEnd);
  SharedWString escaped;
  for (size_t i = 0; i < text.Length(); ++i) {
    const wchar_t c = text.Chars()[i];
    if (i >= n || !NeedsEscape(c)) {
      escaped.Append(c);
      if (c == L'%') {
        escaped.Append(c);
      }
    } else if (c == L'\r' || c == L'\n') {
      escaped.Append(c == L'\r' ? L"\\r" : L"\\n", 2);
    } else {
      wchar_t code[8];
      swprintf(code, 8, c <= 0xFF ? L"\\x%02x" : L"\\u%04x", static_cast<unsigned>(c));
      escaped.Append(code, static_cast<uint32_t>(wcslen(code)));
    }
  }
  return escaped;
}

// Reads the pattern's conversions, taking their arguments from args in order. False when the
// pattern holds a conversion this reading does not know (the text is then left as formatted).
bool ReadConversions(const char* format, va_list args, std::vector<Conversion>& conversions) {
  const char* p = format;
  while ((p = std::strchr(p, '%')) != nullptr) {
    const char* start = p++;
    if (*p == '%') {
      ++p;
      continue;
    }
    p += std::strspn(p, "-+ #0");
    if (*p == '*') {
      va_arg(args, int);
      ++p;
    }
    p += std::strspn(p, "0123456789");
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        va_arg(args, int);
        ++p;
      }
      p += std::strspn(p, "0123456789");
    }
    const char* length = p;
    p += std::strspn(p, "hlLwIjzt0123456789");
    const std::string size(length, p);
    const bool wide = size == "l" || size == "w";
    const bool big = size == "ll" || size == "I64" || size == "j" ||
                     (sizeof(void*) == 8 && (size == "z" || size == "I" || size == "t"));
    Conversion conversion{
        static_cast<size_t>(start - format), 0, false, SharedWString(), false, false, false};
    switch (*p) {
      case 'd':
      case 'i':
      case 'u':
      case 'o':
      case 'x':
      case 'X':
      case 'c':
      case 'C':
        if (big) {
          va_arg(args, long long);
        } else {
          va_arg(args, int);
        }
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (size == "L") {
          va_arg(args, long double);
        } else {
          va_arg(args, double);
        }
        break;
      case 'p':
        va_arg(args, void*);
        break;
      case 's':
      case 'S':
        conversion.takesText = true;
        if (wide || (*p == 'S' && size.empty())) {
          const wchar_t* text = va_arg(args, const wchar_t*);
          conversion.text = text != nullptr ? SharedWString(text) : SharedWString();
        } else {
          const char* text = va_arg(args, const char*);
          conversion.narrowText = true;
          conversion.text = text != nullptr ? FromCodePage(text, 0) : SharedWString();
        }
        break;
      default:
        return false;
    }
    conversion.end = static_cast<size_t>(++p - format);
    conversions.push_back(conversion);
  }
  return true;
}

}  // namespace

SharedString LogText(const char* format, va_list args) {
  SharedString text;
  std::vector<Conversion> conversions;
  va_list reading;
  va_copy(reading, args);
  const bool known = format != nullptr && ReadConversions(format, reading, conversions);
  va_end(reading);
  // The narrow runtime writes U+0080..U+00FF as single bytes and the formatting fallback writes
  // larger characters as UTF-8: text beyond ASCII takes the wide way, so the log is UTF-8.
  bool wideWay = false;
  for (size_t i = 0; known && i < conversions.size(); ++i) {
    Conversion& conversion = conversions[i];
    if (!conversion.takesText) {
      continue;
    }
    const char* after = format + conversion.end;
    conversion.keepsLineEnd = i > 0 && conversions[i - 1].end + 1 == conversion.begin &&
                              std::strncmp(format + conversion.begin - 3, "%d ", 3) == 0 &&
                              (*after == '\0' || std::strcmp(after, "\n") == 0);
    conversion.escapes = HasEscapes(conversion.text, conversion.keepsLineEnd);
    wideWay = wideWay || conversion.escapes || !IsAscii(conversion.text);
  }
  if (!wideWay) {
    FormatV(text, format, args);
    return text;
  }
  // The same text made through a wide format in which each escaped argument is still read, with
  // precision 0 so that it prints nothing, and its escaped text follows as literal text (its own
  // width and precision, which no pattern of the log uses, are not applied).
  SharedWString wideFormat;
  size_t copied = 0;
  for (const Conversion& conversion : conversions) {
    if (!conversion.escapes) {
      continue;
    }
    const std::string before(format + copied, format + conversion.begin);
    wideFormat.Append(WideFormatOf(before.c_str()));
    wideFormat.Append(conversion.narrowText ? L"%.0hs" : L"%.0ls");
    wideFormat.Append(EscapedForFormat(conversion.text, conversion.keepsLineEnd));
    copied = conversion.end;
  }
  wideFormat.Append(WideFormatOf(format + copied));
  SharedWString wide;
  va_list writing;
  va_copy(writing, args);
  FormatWide(wide, wideFormat.Chars(), writing);
  va_end(writing);
  ConvertToCodePage(wide.Chars(), text, CP_UTF8);
  return text;
}

}  // namespace quorvel
