#include "support/test_support.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <regex>
#include <stdexcept>

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
  return PathExists(path) && (GetFileAttributesW(path.c_str()) & flag) != 0;
}

// Removes a file or a folder tree; read-only files included. A link goes, never what it leads to.
void RemoveTree(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (Is(path, FILE_ATTRIBUTE_DIRECTORY) && !Is(path, FILE_ATTRIBUTE_REPARSE_POINT)) {
    for (const std::wstring& name : Entries(path)) {
      RemoveTree(path + L"\\" + name);
    }
  }
  RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str());
}

std::wstring UniqueName(const std::wstring& purpose) {
  static std::atomic<unsigned> counter{0};
  return L"quorvel_test_" + purpose + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(counter++);
}

}  // namespace

std::string UserRunLog::Text() {
  wchar_t folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
  CreateDirectoryW((std::wstring(folder) + L"\\Brinmoor").c_str(), nullptr);
  return ReadFileBytes(std::wstring(folder) + L"\\Brinmoor\\Quorvel.log");
}

ScopedTempDir::ScopedTempDir(std::wstring base) {
  wchar_t temp[MAX_PATH + 1] = {};
  base = base.empty() ? (GetTempPathW(MAX_PATH, temp), temp) : base + L"\\";
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

std::string TreeFingerprint(const std::wstring& root, const std::wstring& skip,
                            const std::wstring& relative) {
  std::string text;
  for (const std::wstring& name : Entries(relative.empty() ? root : root + L"\\" + relative)) {
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    const std::wstring full = root + L"\\" + path;
    // The backup folder's lock names the game folder that used it last, which differs between
    // games that are otherwise alike.
    if (_wcsicmp(name.c_str(), skip.c_str()) != 0 && name != L"Quorvel.journal.backup-lock") {
      text += Utf8(path) + (Is(full, FILE_ATTRIBUTE_REPARSE_POINT) ? "@\n"
                            : Is(full, FILE_ATTRIBUTE_DIRECTORY)
                                ? "\\\n" + TreeFingerprint(root, skip, path)
                                : "=" + ReadFileBytes(full) + "\n");
    }
  }
  return text;
}

std::string MaskStamps(const std::string& text) {
  return std::regex_replace(text, std::regex("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                            "<stamp>");
}

NamedEvent::NamedEvent(const std::wstring& purpose)
    : name_(L"Local\\" + UniqueName(purpose)),
      handle_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}

HelperProcess::~HelperProcess() {
  input_.Reset();
  // Fails harmlessly for a program that has ended, or was never started.
  TerminateProcess(process_.Get(), 99);
  WaitForExit(10000);
}

bool HelperProcess::Start(const std::wstring& program, const std::wstring& arguments,
                          const std::wstring& directory, bool input) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE childInput = nullptr, ours = nullptr;
  // Only the reading end goes to the child: closing ours then ends its input.
  if (input && CreatePipe(&childInput, &ours, &inherit, 0)) {
    input_.Reset(ours);
    SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = startup.hStdError = GetStdHandle(STD_OUTPUT_HANDLE);
  }
  PROCESS_INFORMATION info = {};
  // Without an application name a bare name is looked up beside the test program first, then
  // in the system's folders.
  // Wine has been seen to refuse a start now and then on a loaded machine; a test is about the
  // program, so it is tried again after a pause, and the refusal is printed.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) {
      std::fprintf(stderr, "Could not start %ls (error %lu); trying again\n", program.c_str(),
                   GetLastError());
      Sleep(500);
    }
    started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, input, 0, nullptr,
                             directory.empty() ? nullptr : directory.c_str(), &startup, &info);
  }
  CloseHandle(childInput);
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  id_ = info.dwProcessId;
  return started;
}

bool OnHost(const std::wstring& folder, const std::wstring& script) {
  const ScopedTempDir own;  // a script's own folder, where its status meets no other's
  const std::wstring where = folder.empty() ? own.Path() : folder;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // Wine gives no handle to wait on for a host program: it leaves its status when it is done.
  std::wstring command = L"/bin/sh -c \"(" + script + L"); echo $? > .quorvel-done\"";
  if (!CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      where.c_str(), &startup, &process)) {
    return false;
  }
  // For a host program Wine hands back a thread value that is no handle of this process (the
  // program's load address): closing it would close whatever handle of the test has that value.
  if (process.hThread != nullptr && GetThreadId(process.hThread) == process.dwThreadId) {
    CloseHandle(process.hThread);
  }
  if (process.hProcess != nullptr && GetProcessId(process.hProcess) == process.dwProcessId) {
    CloseHandle(process.hProcess);
  }
  const std::wstring done = where + L"\\.quorvel-done";
  std::string status;
  Eventually([&] { return !(status = ReadFileBytes(done)).empty(); });
  return DeleteFileW(done.c_str()) && status == "0\n";
}

bool Link(const std::wstring& path, const wchar_t* target, const std::wstring& hardTarget,
          bool aside) {
  aside || RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str());
  if (target == nullptr) {
    return (!aside || MoveFileW(path.c_str(), (path + L".away").c_str())) &&
           CreateHardLinkW(path.c_str(), hardTarget.c_str(), nullptr);
  }
  const size_t slash = path.rfind(L'\\');
  const std::wstring name = path.substr(slash + 1);
  // Wine shows no link whose target is missing, so only the host's mark tells it is there.
  return OnHost(path.substr(0, slash),
                (aside ? L"mv '" + name + L"' '" + name + L".away' && " : L"") + L"ln -s '" +
                    target + L"' '" + name + L"'");
}

DriveLetter::DriveLetter(const std::wstring& folder) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* host = unixName != nullptr ? unixName(folder.c_str()) : nullptr;
  for (const wchar_t letter : std::wstring(host != nullptr ? L"BAYXWVU" : L"")) {
    root_ = std::wstring(1, letter) + L":\\";
    // Wine's list of drives lags a letter made a moment ago; a path through it does not.
    if ((GetLogicalDrives() & (1u << (letter - L'A'))) == 0 && !PathExists(root_)) {
      OnHost(L"", L"ln -s '" + std::wstring(host, host + strlen(host)) + L"' " + Device());
      break;
    }
    root_.clear();
  }
  HeapFree(GetProcessHeap(), 0, host);
  if (!Eventually([&] { return root_.empty() || PathExists(root_); })) {
    root_.clear();
  }
  Sleep(1100);  // Wine reads its drives again at most once a second, for final paths
}

DriveLetter::~DriveLetter() {
  if (!root_.empty()) {
    OnHost(L"", L"rm " + Device());
    Eventually([&] { return !PathExists(root_); });
    Sleep(1100);  // and forgets it, before the inode of its folder can name another
  }
}

}  // namespace quorvel::test
