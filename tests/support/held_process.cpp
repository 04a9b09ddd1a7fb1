#include "support/held_process.h"

#include <atomic>

#include "support/test_support.h"

namespace quorvel::test {
namespace {

std::wstring UniqueEventName(const wchar_t* role) {
  static std::atomic<unsigned> counter{0};
  return L"Local\\quorvel_held_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(counter++) + L"_" + role;
}

}  // namespace

HeldProcess::HeldProcess(const std::wstring& library) {
  const std::wstring readyName = UniqueEventName(L"ready");
  const std::wstring releaseName = UniqueEventName(L"release");
  readyEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
  releaseEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
  std::wstring commandLine =
      L"\"" + ProgramFolder() + L"\\held_process.exe\" " + readyName + L" " + releaseName;
  if (!library.empty()) {
    commandLine += L" \"" + library + L"\"";
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "held_process.exe could not be started: " << GetLastError();
    return;
  }
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  pid_ = info.dwProcessId;
  // Whichever comes first: ready, or the end of a process that failed.
  HANDLE waitFor[] = {readyEvent_.Get(), process_.Get()};
  ready_ = WaitForMultipleObjects(2, waitFor, FALSE, INFINITE) == WAIT_OBJECT_0;
  if (!ready_) {
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    ADD_FAILURE() << "held_process.exe ended before it was ready, exit code " << code;
  }
}

HeldProcess::~HeldProcess() {
  if (process_.IsValid()) {
    ReleaseAndWait();
  }
}

void HeldProcess::Release() { SetEvent(releaseEvent_.Get()); }

DWORD HeldProcess::ReleaseAndWait() {
  Release();
  WaitForSingleObject(process_.Get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_.Get(), &code);
  return code;
}

bool HeldProcess::HasEnded() const {
  return WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0;
}

}  // namespace quorvel::test
