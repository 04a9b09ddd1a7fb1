#include "support/helper_process.h"

#include <atomic>

#include "foundation/scoped_handle.h"
#include "support/test_support.h"

namespace quorvel::test {

NamedEvent::NamedEvent(const std::wstring& purpose) {
  static std::atomic<unsigned> counter{0};
  name_ = L"Local\\quorvel_test_" + purpose + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(counter++);
  handle_ = CreateEventW(nullptr, TRUE, FALSE, name_.c_str());
}

NamedEvent::~NamedEvent() {
  if (handle_ != nullptr) {
    CloseHandle(handle_);
  }
}

bool NamedEvent::WaitFor(DWORD milliseconds) const {
  return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
}

HelperProcess::~HelperProcess() {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
  }
}

bool HelperProcess::Start(const std::wstring& executable, const std::wstring& arguments) {
  return StartIn(executable, arguments, std::wstring(), std::wstring());
}

bool HelperProcess::StartIn(const std::wstring& executable, const std::wstring& arguments,
                            const std::wstring& directory, const std::wstring& outputFile) {
  std::wstring path = executable;
  if (path.find_first_of(L"\\/:") == std::wstring::npos) {
    path = ProgramFolder() + L"\\" + executable;
  }
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  ScopedFileHandle output;
  if (!outputFile.empty()) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    output.Reset(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsValid()) {
      return false;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, output.IsValid(), 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  return true;
}

bool HelperProcess::WaitForExit(DWORD milliseconds) {
  return process_ != nullptr && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
}

DWORD HelperProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_ != nullptr) {
    GetExitCodeProcess(process_, &code);
  }
  return code;
}

std::wstring Rundll32Path() {
  wchar_t system[MAX_PATH + 1] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\rundll32.exe";
}

FileLock::FileLock(const std::wstring& path) : ready_(L"lock_ready"), release_(L"lock_release") {
  if (!locker_.Start(L"file_locker.exe",
                     L"\"" + path + L"\" " + ready_.Name() + L" " + release_.Name())) {
    return;
  }
  held_ = ready_.WaitFor(30000) && !locker_.WaitForExit(0);
}

void FileLock::Release() {
  release_.Set();
  locker_.WaitForExit(30000);
  held_ = false;
}

}  // namespace quorvel::test
