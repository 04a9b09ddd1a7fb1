#pragma once

#include <windows.h>

#include <string>

#include "foundation/scoped_handle.h"

namespace quorvel::test {

// A running held_process.exe: it has started (and loaded the library, when one was named) once
// the constructor returns, and ends only when released. Released and awaited at destruction.
class HeldProcess {
 public:
  // library: a module for the process to load first, or empty.
  explicit HeldProcess(const std::wstring& library = std::wstring());
  HeldProcess(const HeldProcess&) = delete;
  HeldProcess& operator=(const HeldProcess&) = delete;
  ~HeldProcess();

  // False when the process could not be started or did not get ready (a test failure is added).
  bool IsReady() const { return ready_; }
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_.Get(); }
  // Tells the process to end; does not wait.
  void Release();
  // Releases the process and waits for its end; returns its exit code.
  DWORD ReleaseAndWait();
  bool HasEnded() const;

 private:
  ScopedHandle readyEvent_;
  ScopedHandle releaseEvent_;
  ScopedHandle process_;
  DWORD pid_ = 0;
  bool ready_ = false;
};

}  // namespace quorvel::test
