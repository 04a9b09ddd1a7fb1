#include "support/helper_process.h"

#include <atomic>

#include "support/test_support.h"

namespace quorvel::test {

NamedEvent::NamedEvent(const std::wstring& purpose) {
  static std::atomic<unsigned> counter{0};
  name_ = L"Local\\quorvel_test_" + purpose + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(counter++);
  handle_ = CreateEventW(nullptr, TRUE, FALSE, name_.c_str());
}

HelperProcess::~HelperProcess() {
  CloseInput();
  if (process_ != nullptr && !WaitForExit(0)) {
    TerminateProcess(process_, 99);
    WaitForExit(10000);
  }
  CloseHandle(process_);
}

bool HelperProcess::Start(const std::wstring& executable, const std::wstring& arguments,
                          const std::wstring& directory, const std::wstring& outputFile,
                          bool input) {
  const std::wstring path = executable.find_first_of(L"\\:") == std::wstring::npos
                                ? ProgramFolder() + L"\\" + executable
                                : executable;
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE output = INVALID_HANDLE_VALUE;
  HANDLE childInput = nullptr;
  if (!outputFile.empty() || input) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = GetStdHandle(STD_OUTPUT_HANDLE);
  }
  if (!outputFile.empty()) {
    output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                         CREATE_ALWAYS, 0, nullptr);
    startup.hStdOutput = startup.hStdError = output;
  }
  // Only the reading end goes to the child: closing ours then ends its input.
  if (input && CreatePipe(&childInput, &input_, &inherit, 0)) {
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    startup.hStdInput = childInput;
  }
  PROCESS_INFORMATION info = {};
  const BOOL started =
      CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, startup.dwFlags != 0, 0,
                     nullptr, directory.empty() ? nullptr : directory.c_str(), &startup, &info);
  CloseHandle(output);
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

DWORD HelperProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_, &code);
  return code;
}

std::wstring WaitingProcess::ExecutablePath() { return ProgramFolder() + L"\\waiting_process.exe"; }

WaitingProcess::WaitingProcess() {
  const NamedEvent ready(L"waiting_process_ready");
  EXPECT_TRUE(Start(ExecutablePath(), ready.Name(), L"", L"", true)) << GetLastError();
  const HANDLE waits[2] = {ready.Handle(), Handle()};
  EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 30000), WAIT_OBJECT_0) << "did not start";
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

void FileLock::Release() {
  release_.Set();
  locker_.WaitForExit();
  held_ = false;
}

}  // namespace quorvel::test
