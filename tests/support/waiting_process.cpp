#include "support/waiting_process.h"

#include <atomic>

#include "support/test_support.h"

namespace quorvel::test {

std::wstring WaitingProcess::ExecutablePath() { return ProgramFolder() + L"\\waiting_process.exe"; }

WaitingProcess::WaitingProcess() {
  static std::atomic<unsigned> counter{0};
  const std::wstring eventName = L"quorvel_waiting_process_" +
                                 std::to_wstring(GetCurrentProcessId()) + L"_" +
                                 std::to_wstring(counter++);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  if (ready == nullptr) {
    ADD_FAILURE() << "CreateEventW failed: " << GetLastError();
    return;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE childInput = nullptr;
  if (!CreatePipe(&childInput, &input_, &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    CloseHandle(ready);
    return;
  }
  // Only the reading end goes to the child; were the writing end inherited, closing ours would
  // never end its input.
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  std::wstring commandLine = L"\"" + ExecutablePath() + L"\" " + eventName;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput;
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  const DWORD error = GetLastError();
  CloseHandle(childInput);
  if (!started) {
    ADD_FAILURE() << "CreateProcessW failed: " << error;
    CloseHandle(ready);
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  const HANDLE waits[2] = {ready, process_};
  const DWORD which = WaitForMultipleObjects(2, waits, FALSE, 30000);
  CloseHandle(ready);
  EXPECT_EQ(which, WAIT_OBJECT_0) << "waiting_process did not start";
}

WaitingProcess::~WaitingProcess() {
  if (!Finish() && process_ != nullptr) {
    TerminateProcess(process_, 1);
  }
  if (process_ != nullptr) {
    CloseHandle(process_);
  }
}

bool WaitingProcess::IsRunning() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool WaitingProcess::Finish() {
  if (input_ != nullptr) {
    CloseHandle(input_);
    input_ = nullptr;
  }
  return process_ != nullptr && WaitForSingleObject(process_, 30000) == WAIT_OBJECT_0;
}

}  // namespace quorvel::test
