// A stand-in for a game launcher. Each start appends what it received to <its name>.record.txt
// beside its executable: its command line, each argument as the C runtime split it ("argv[i]:"
// lines, then whether CommandLineToArgvW splits the same), its process id, the time its process
// was created (UTC, to the tenth of a microsecond, so that two such texts compare as their
// times) and the QUORVEL_RESULT and QUORVEL_FILENAME it sees ("(unset)" when not set).
// When the environment names an event in SAMPLE_LAUNCHER_STARTED it sets that event after
// writing. With the arguments --stay <event> it keeps running until that event is set.
//
// With --start-patch <Quorvel.dll> <argument>... it does what a real launcher does to update
// itself: it starts rundll32.exe <Quorvel.dll>,Quorvel with the arguments, every {pid} in them
// replaced by its own process id, and exits at once without waiting.
#include <windows.h>
// shellapi needs windows.h first.
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "foundation/code_page.h"

namespace {

std::string Utf8(const std::wstring& text) {
  quorvel::SharedString bytes;
  quorvel::ConvertToCodePage(text.c_str(), bytes, CP_UTF8);
  return std::string(bytes.Chars(), bytes.Length());
}

std::wstring Variable(const wchar_t* name) {
  wchar_t value[2048] = {};
  SetLastError(0);
  const DWORD n = GetEnvironmentVariableW(name, value, 2048);
  if (n >= 2048 || (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)) {
    return L"(unset)";
  }
  return value;
}

std::string Arguments(int argc, wchar_t** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    text += "argv[" + std::to_string(i) + "]: " + Utf8(argv[i]) + "\r\n";
  }
  int count = 0;
  wchar_t** shell = CommandLineToArgvW(GetCommandLineW(), &count);
  bool same = shell != nullptr && count == argc;
  for (int i = 1; same && i < argc; ++i) {
    same = wcscmp(shell[i], argv[i]) == 0;
  }
  LocalFree(shell);
  return text + "CommandLineToArgvW: " + (same ? "same" : "differs") + "\r\n";
}

std::string StartTime() {
  FILETIME created = {};
  FILETIME exited = {};
  FILETIME kernel = {};
  FILETIME user = {};
  SYSTEMTIME time = {};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ||
      !FileTimeToSystemTime(&created, &time)) {
    return "(unknown)";
  }
  const unsigned long long ticks =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  char text[64] = {};
  snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%07llu UTC", time.wYear, time.wMonth,
           time.wDay, time.wHour, time.wMinute, time.wSecond, ticks % 10000000ull);
  return text;
}

void AppendRecord(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Starts the patch run with the given arguments. Quorvel's command line has no escape
// character, so an argument with a space is simply put between double quotes.
int StartPatch(int argc, wchar_t** argv) {
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  std::wstring commandLine = L"rundll32.exe \"" + std::wstring(argv[2]) + L"\",Quorvel";
  for (int i = 3; i < argc; ++i) {
    std::wstring argument = argv[i];
    for (size_t p = argument.find(L"{pid}"); p != std::wstring::npos;
         p = argument.find(L"{pid}", p + pid.size())) {
      argument.replace(p, 5, pid);
    }
    if (argument.find(L' ') != std::wstring::npos) {
      argument = L"\"" + argument + L"\"";
    }
    commandLine += L" " + argument;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 2;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && wcscmp(argv[1], L"--start-patch") == 0) {
    return StartPatch(argc, argv);
  }
  wchar_t module[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring record(module);
  const size_t dot = record.find_last_of(L'.');
  record = record.substr(0, dot) + L".record.txt";

  std::string text = "command line: " + Utf8(GetCommandLineW()) + "\r\n";
  text += Arguments(argc, argv);
  text += "pid: " + std::to_string(GetCurrentProcessId()) + "\r\n";
  text += "started: " + StartTime() + "\r\n";
  text += "QUORVEL_RESULT=" + Utf8(Variable(L"QUORVEL_RESULT")) + "\r\n";
  text += "QUORVEL_FILENAME=" + Utf8(Variable(L"QUORVEL_FILENAME")) + "\r\n";
  AppendRecord(record, text);

  const std::wstring started = Variable(L"SAMPLE_LAUNCHER_STARTED");
  if (started != L"(unset)") {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, started.c_str());
    if (event != nullptr) {
      SetEvent(event);
      CloseHandle(event);
    }
  }
  if (argc == 3 && wcscmp(argv[1], L"--stay") == 0) {
    HANDLE exit = CreateEventW(nullptr, TRUE, FALSE, argv[2]);
    WaitForSingleObject(exit, INFINITE);
    CloseHandle(exit);
  }
  return 0;
}
