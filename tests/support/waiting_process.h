#pragma once

#include <windows.h>

#include <string>

namespace quorvel::test {

// A running waiting_process.exe, the stand-in for a launcher that is still running. The
// constructor returns once the process runs its own code; the destructor lets it end and waits
// for that.
class WaitingProcess {
 public:
  WaitingProcess();
  WaitingProcess(const WaitingProcess&) = delete;
  WaitingProcess& operator=(const WaitingProcess&) = delete;
  ~WaitingProcess();

  bool IsRunning() const;
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_; }
  // Tells the process to end and waits for it; true when it has ended.
  bool Finish();
  // The executable's path as this process names it (the program folder's form).
  static std::wstring ExecutablePath();

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;  // the writing end of the process's standard input
  DWORD id_ = 0;
};

}  // namespace quorvel::test
