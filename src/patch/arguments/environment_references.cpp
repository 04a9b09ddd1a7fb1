#include "patch/arguments/environment_references.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// The stretch of the text that an inserted value occupies while scanning goes through it.
struct Expansion {
  std::wstring name;
  size_t start;
  size_t end;
};

// The text being expanded, with a mark on each character that an expansion inserted.
struct MarkedText {
  std::wstring text;
  std::vector<bool> inserted;

  void Replace(size_t at, size_t count, const std::wstring& value) {
    text.replace(at, count, value);
    const auto from = inserted.begin() + static_cast<std::ptrdiff_t>(at);
    inserted.insert(inserted.erase(from, from + static_cast<std::ptrdiff_t>(count)), value.size(),
                    true);
  }
};

// Adjusts the expansions around a replacement at [from, to) that inserted length characters.
void Shift(std::vector<Expansion>& active, size_t from, size_t to, size_t length) {
  for (Expansion& expansion : active) {
    if (expansion.end >= to) {
      expansion.end = expansion.end - (to - from) + length;
    } else if (expansion.end > from) {
      expansion.end = from + length;
    }
  }
}

bool IsBeingExpanded(const std::vector<Expansion>& active, const std::wstring& name, size_t at) {
  for (const Expansion& expansion : active) {
    if (at >= expansion.start && at < expansion.end &&
        _wcsicmp(expansion.name.c_str(), name.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

// The longest command line a program can be given. Values that refer to others twice over
// double at each level, so a few dozen planted variables would otherwise fill the address
// space; a text past this length cannot start a program anyway, and the start fails as for any
// other command that cannot run.
constexpr size_t kLongestExpansion = 32767;

void Expand(MarkedText& marked) {
  std::wstring& text = marked.text;
  // Each inserted value is scanned again from its start. The bound on recursion: a reference
  // to a name whose own value encloses it is kept literally, which ends self- and mutually
  // referring values and leaves every other expansion as it would be without the bound.
  std::vector<Expansion> active;
  size_t position = 0;
  for (;;) {
    const size_t sign = text.find(L'%', position);
    // The text before sign is final: past the bound, nothing more is expanded.
    if (sign == std::wstring::npos || sign > kLongestExpansion) {
      break;
    }
    for (size_t i = 0; i < active.size();) {
      if (active[i].end <= sign) {
        active.erase(active.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    if (sign + 1 == text.size()) {
      marked.Replace(sign, 1, std::wstring());
      break;
    }
    const size_t close = text.find(L'%', sign + 1);
    if (close == sign + 1) {
      marked.Replace(sign + 1, 1, std::wstring());
      Shift(active, sign, sign + 2, 1);
      position = sign + 1;
      continue;
    }
    const size_t end = close == std::wstring::npos ? text.size() : close + 1;
    const size_t nameEnd = close == std::wstring::npos ? text.size() : close;
    const std::wstring name = text.substr(sign + 1, nameEnd - sign - 1);
    if (IsBeingExpanded(active, name, sign)) {
      position = end;
      continue;
    }
    const wchar_t* value = _wgetenv(name.c_str());
    const std::wstring replacement = value != nullptr ? value : L"";
    marked.Replace(sign, end - sign, replacement);
    Shift(active, sign, end, replacement.size());
    active.push_back({name, sign, sign + replacement.size()});
    position = sign;
  }
}

MarkedText Marked(const SharedWString& input) {
  return {std::wstring(input.Chars(), input.Length()), std::vector<bool>(input.Length(), false)};
}

}  // namespace

SharedWString ExpandEnvironmentReferences(const SharedWString& input) {
  MarkedText marked = Marked(input);
  Expand(marked);
  return SharedWString(marked.text.c_str());
}

SharedWString ExpandQuotedArguments(const SharedWString& arguments) {
  MarkedText marked = Marked(arguments);
  Expand(marked);
  // The C runtime and CommandLineToArgvW read 2n backslashes before a double quote as n
  // backslashes and the quote as opening or closing, 2n+1 as n and a quote inside the
  // argument; backslashes anywhere else are themselves. So those before a quote are doubled,
  // and a quote that a value brought in gets one more to stay inside its argument.
  std::wstring quoted;
  size_t backslashes = 0;
  for (size_t i = 0; i < marked.text.size(); ++i) {
    const wchar_t c = marked.text[i];
    if (c == L'"') {
      quoted.append(backslashes + (marked.inserted[i] ? 1 : 0), L'\\');
    }
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    quoted += c;
  }
  return SharedWString(quoted.c_str());
}

}  // namespace quorvel
