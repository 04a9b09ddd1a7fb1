#include "support/tree_fingerprint.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "support/test_support.h"

namespace quorvel::test {
namespace {

void Walk(const std::wstring& root, const std::wstring& relative, const std::wstring& skip,
          std::string& text) {
  WIN32_FIND_DATAW found = {};
  const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  std::vector<std::wstring> names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L".." && _wcsicmp(name.c_str(), skip.c_str()) != 0) {
      names.push_back(name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  for (const std::wstring& name : names) {
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    const DWORD attributes = GetFileAttributesW((root + L"\\" + path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      text += Utf8(path) + "\\\n";
      Walk(root, path, skip, text);
    } else {
      text += Utf8(path) + "=" + ReadFileBytes(root + L"\\" + path) + "\n";
    }
  }
}

}  // namespace

std::string TreeFingerprint(const std::wstring& root, const std::wstring& skip) {
  std::string text;
  Walk(root, L"", skip, text);
  return text;
}

}  // namespace quorvel::test
