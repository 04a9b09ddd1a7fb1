#include "support/waiting_process.h"

#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel::test {

std::wstring WaitingProcess::ExecutablePath() { return ProgramFolder() + L"\\waiting_process.exe"; }

WaitingProcess::WaitingProcess() {
  const NamedEvent ready(L"waiting_process_ready");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE childInput = nullptr;
  if (!CreatePipe(&childInput, &input_, &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    return;
  }
  // Only the reading end goes to the child; were the writing end inherited, closing ours would
  // never end its input.
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  std::wstring commandLine = L"\"" + ExecutablePath() + L"\" " + ready.Name();
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
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  const HANDLE waits[2] = {ready.Handle(), process_};
  EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 30000), WAIT_OBJECT_0)
      << "waiting_process did not start";
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
