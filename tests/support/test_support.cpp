#include "support/test_support.h"

#include <shlobj.h>

#include <atomic>
#include <regex>

#include "foundation/code_page.h"
#include "foundation/run_log.h"

namespace quorvel::test {
namespace {

// Removes a file or a folder tree; read-only files included.
void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
    if (std::wstring(data.cFileName) != L"." && std::wstring(data.cFileName) != L"..") {
      RemoveTree(path + L"\\" + data.cFileName);
    }
  }
  FindClose(find);
  RemoveDirectoryW(path.c_str());
}

std::wstring UserRunLogPath() {
  wchar_t folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
  CreateDirectoryW((std::wstring(folder) + L"\\Brinmoor").c_str(), nullptr);
  return std::wstring(folder) + L"\\Brinmoor\\Quorvel.log";
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  static std::atomic<unsigned> counter{0};
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  do {
    path_ = base + (L"quorvel_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                    std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(counter++));
  } while (!CreateDirectoryW(path_.c_str(), nullptr));
}

ScopedTempDir::~ScopedTempDir() { RemoveTree(path_); }

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos;
       slash = path.find(L'\\', slash + 1)) {
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size()) << "cannot write " << Utf8(path);
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof(chunk), &read, nullptr) &&
         read != 0) {
    bytes.append(chunk, read);
  }
  CloseHandle(file);
  return bytes;
}

std::string Contents(const std::vector<std::wstring>& paths) {
  std::string text;
  for (const std::wstring& path : paths) {
    text += (PathExists(path) ? ReadFileBytes(path) : "-") + "|";
  }
  return text;
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
  return folder.substr(0, folder.find_last_of(L'\\'));
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

std::string Utf8(const std::wstring& text) {
  SharedString bytes;
  ConvertToCodePage(text.c_str(), bytes, CP_UTF8);
  return std::string(bytes.Chars(), bytes.Length());
}

std::wstring SystemMessage(DWORD code) {
  char text[1024] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                                 nullptr, code, 0, text, sizeof(text), nullptr);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), &wide[0], static_cast<int>(n));
  return wide.substr(0, wcslen(wide.c_str()));
}

std::string LoggedSystemMessage(DWORD code) {
  return std::regex_replace(Utf8(SystemMessage(code)), std::regex("\n"), "\r\n");
}

LogCapture::LogCapture() : file_(dir_ / L"Quorvel.log"), previous_(RunLog::Path().Chars()) {
  RunLog::SetPath(L"%ls", file_.c_str());
}

LogCapture::~LogCapture() { RunLog::SetPath(L"%ls", previous_.c_str()); }

std::string LogCapture::Text() const { return ReadFileBytes(file_); }

UserRunLog::UserRunLog() : start_(ReadFileBytes(UserRunLogPath()).size()) {}

std::string UserRunLog::Added(bool raw) const {
  const std::string added = ReadFileBytes(UserRunLogPath()).substr(start_);
  return raw ? added
             : std::regex_replace(added, std::regex("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                                  "<stamp>");
}

}  // namespace quorvel::test
