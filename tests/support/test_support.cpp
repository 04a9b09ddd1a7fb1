#include "support/test_support.h"

#include <atomic>
#include <vector>

#include "foundation/code_page.h"
#include "foundation/run_log.h"

namespace quorvel::test {

namespace {

// Removes a file or a folder tree; read-only files included.
void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") {
        RemoveTree(path + L"\\" + name);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  static std::atomic<unsigned> counter{0};
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  std::wstring root(base);
  if (!root.empty() && root.back() == L'\\') {
    root.pop_back();
  }
  for (;;) {
    path_ = root + L"\\quorvel_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(counter++);
    if (CreateDirectoryW(path_.c_str(), nullptr)) {
      break;
    }
  }
}

ScopedTempDir::~ScopedTempDir() { RemoveTree(path_); }

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  for (size_t slash = path.find_first_of(L"\\/", 3); slash != std::wstring::npos;
       slash = path.find_first_of(L"\\/", slash + 1)) {
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << Utf8(path);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return std::string();
  }
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0) {
    bytes.append(chunk, read);
  }
  CloseHandle(file);
  return bytes;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::string Utf8(const std::wstring& text) {
  SharedString bytes;
  ConvertToCodePage(text.c_str(), bytes, CP_UTF8);
  return std::string(bytes.Chars(), bytes.Length());
}

std::wstring SystemMessage(DWORD code) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  if (n == 0) {
    return std::wstring();
  }
  const int w = MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(n), nullptr, 0);
  std::wstring text(static_cast<size_t>(w), L'\0');
  MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(n), &text[0], w);
  LocalFree(buffer);
  return text;
}

std::string LoggedSystemMessage(DWORD code) {
  std::string text;
  for (char c : Utf8(SystemMessage(code))) {
    if (c == '\n') {
      text += '\r';
    }
    text += c;
  }
  return text;
}

LogCapture::LogCapture() : file_(dir_ / L"Quorvel.log"), previous_(RunLog::Path().Chars()) {
  RunLog::SetPath(L"%ls", file_.c_str());
}

LogCapture::~LogCapture() { RunLog::SetPath(L"%ls", previous_.c_str()); }

std::string LogCapture::Text() const { return ReadFileBytes(file_); }

}  // namespace quorvel::test
