#include "support/test_support.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "foundation/code_page.h"
#include "foundation/run_log.h"

namespace quorvel::test {
namespace {

// The names in a folder but "." and "..", sorted.
std::vector<std::wstring> Entries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
      names.push_back(found.cFileName);
    }
  }
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// Whether path exists with the attribute flag: a folder, or a linked one.
bool Is(const std::wstring& path, DWORD flag) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & flag) != 0;
}

// Removes a file or a folder tree; read-only files included.
void RemoveTree(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (Is(path, FILE_ATTRIBUTE_REPARSE_POINT)) {  // the link goes, never what it leads to
    RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str());
    return;
  }
  if (!Is(path, FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  for (const std::wstring& name : Entries(path)) {
    RemoveTree(path + L"\\" + name);
  }
  RemoveDirectoryW(path.c_str());
}

void Walk(const std::wstring& root, const std::wstring& relative, const std::wstring& skip,
          std::string& text) {
  for (const std::wstring& name : Entries(relative.empty() ? root : root + L"\\" + relative)) {
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (_wcsicmp(name.c_str(), skip.c_str()) == 0) {
      continue;
    }
    if (Is(root + L"\\" + path, FILE_ATTRIBUTE_REPARSE_POINT)) {
      text += Utf8(path) + "@\n";
    } else if (Is(root + L"\\" + path, FILE_ATTRIBUTE_DIRECTORY)) {
      text += Utf8(path) + "\\\n";
      Walk(root, path, skip, text);
    } else {
      text += Utf8(path) + "=" + ReadFileBytes(root + L"\\" + path) + "\n";
    }
  }
}

std::wstring UniqueName(const std::wstring& purpose) {
  static std::atomic<unsigned> counter{0};
  return L"quorvel_test_" + purpose + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(counter++);
}

std::wstring UserRunLogPath() {
  wchar_t folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
  CreateDirectoryW((std::wstring(folder) + L"\\Brinmoor").c_str(), nullptr);
  return std::wstring(folder) + L"\\Brinmoor\\Quorvel.log";
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  // Only a name already taken is worth another try; anything else, or a run of taken names,
  // fails the test instead of spinning.
  for (int attempt = 0; !CreateDirectoryW((path_ = base + UniqueName(L"")).c_str(), nullptr);
       ++attempt) {
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100) {
      throw std::runtime_error("cannot create the temporary folder " + Utf8(path_));
    }
  }
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
  for (DWORD read = 0; ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0;) {
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

std::string TreeFingerprint(const std::wstring& root, const std::wstring& skip) {
  std::string text;
  Walk(root, L"", skip, text);
  return text;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path).substr(0, std::wstring(path).find_last_of(L'\\'));
}

std::string Utf8(const std::wstring& text) {
  SharedString bytes;
  ConvertToCodePage(text.c_str(), bytes, CP_UTF8);
  return std::string(bytes.Chars(), bytes.Length());
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::wstring SystemMessage(DWORD code) {
  wchar_t text[1024] = {};
  FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text,
                 1024, nullptr);
  return text;
}

std::wstring SystemReason(DWORD code) {
  std::wstring text = SystemMessage(code);
  return text.erase(text.find_last_not_of(L"\r\n ") + 1);
}

std::string Variable(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value == nullptr ? "(unset)" : Utf8(value);
}

std::string LoggedSystemMessage(DWORD code) {
  return Replaced(Utf8(SystemMessage(code)), "\n", "\r\n");
}

LogCapture::LogCapture() : file_(dir_ / L"Quorvel.log"), previous_(RunLog::Path().Chars()) {
  RunLog::SetPath(L"%ls", file_.c_str());
}

LogCapture::~LogCapture() { RunLog::SetPath(L"%ls", previous_.c_str()); }

UserRunLog::UserRunLog() : start_(ReadFileBytes(UserRunLogPath()).size()) {}

std::string MaskStamps(const std::string& text) {
  return std::regex_replace(text, std::regex("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                            "<stamp>");
}

void WaitForRecordedLauncher(const std::wstring& recordFile) {
  const std::string record = ReadFileBytes(recordFile);
  const HANDLE launcher =
      OpenProcess(SYNCHRONIZE, FALSE, std::stoul("0" + record.substr(record.rfind("pid: ") + 5)));
  WaitForSingleObject(launcher, 60000);
  CloseHandle(launcher);
}

std::string UserRunLog::Added() const {
  return MaskStamps(ReadFileBytes(UserRunLogPath()).substr(start_));
}

NamedEvent::NamedEvent(const std::wstring& purpose)
    : name_(L"Local\\" + UniqueName(purpose)),
      handle_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}

HelperProcess::~HelperProcess() {
  CloseInput();
  if (process_ != nullptr && !WaitForExit(0)) {
    TerminateProcess(process_, 99);
    WaitForExit(10000);
  }
  CloseHandle(process_);
}

bool HelperProcess::Start(const std::wstring& executable, const std::wstring& arguments,
                          const std::wstring& directory, bool input) {
  const std::wstring path = executable.find(L'\\') == std::wstring::npos
                                ? ProgramFolder() + L"\\" + executable
                                : executable;
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE childInput = nullptr;
  // Only the reading end goes to the child: closing ours then ends its input.
  if (input && CreatePipe(&childInput, &input_, &inherit, 0)) {
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = startup.hStdError = GetStdHandle(STD_OUTPUT_HANDLE);
  }
  PROCESS_INFORMATION info = {};
  const BOOL started =
      CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, input, 0, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &startup, &info);
  CloseHandle(childInput);
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  return started;
}

void HelperProcess::CloseInput() {
  CloseHandle(input_);
  input_ = nullptr;
}

WaitingProcess::WaitingProcess() {
  const NamedEvent ready(L"waiting_process_ready");
  EXPECT_TRUE(Start(ExecutablePath(), ready.Name(), L"", true)) << GetLastError();
  EXPECT_TRUE(ready.WaitFor(30000)) << "waiting_process did not start";
}

std::wstring Rundll32Path() {
  wchar_t system[MAX_PATH + 1] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\rundll32.exe";
}

FileLock::FileLock(const std::wstring& path) {
  held_ = locker_.Start(L"file_locker.exe",
                        L"\"" + path + L"\" " + ready_.Name() + L" " + release_.Name()) &&
          ready_.WaitFor(30000) && !locker_.WaitForExit(0);
}

bool MakeHostLink(const std::wstring& folder, const std::wstring& name,
                  const std::wstring& target, bool aside) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // Wine gives no handle to wait on for a host program, and shows no link whose target is
  // missing: the program leaves a mark when it is done.
  std::wstring command = std::wstring(L"/bin/sh -c \"") +
                        (aside ? L"mv \\\"$1\\\" \\\"$1.away\\\" && " : L"") + L"ln -s \\\"$0\\\" \\\"$1\\\" && : > \\\"$1.made\\\"\" \"" +
                         target + L"\" \"" + name + L"\"";
  if (!CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &process)) {
    return false;
  }
  for (HANDLE handle : {process.hThread, process.hProcess}) {
    if (handle != nullptr) {
      CloseHandle(handle);
    }
  }
  const std::wstring made = folder + L"\\" + name + L".made";
  return Eventually([&] { return DeleteFileW(made.c_str()) != FALSE; });
}

bool Link(const std::wstring& path, const wchar_t* target, const std::wstring& hardTarget) {
  RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str());
  const size_t slash = path.rfind(L'\\');
  return target != nullptr ? MakeHostLink(path.substr(0, slash), path.substr(slash + 1), target)
                           : CreateHardLinkW(path.c_str(), hardTarget.c_str(), nullptr);
}

}  // namespace quorvel::test
