#pragma once

#include <windows.h>

#include <string>

namespace quorvel::test {

// An event with a name unique to this test process, for handshakes with helper programs.
class NamedEvent {
 public:
  explicit NamedEvent(const std::wstring& purpose);
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  ~NamedEvent() { CloseHandle(handle_); }
  const std::wstring& Name() const { return name_; }
  HANDLE Handle() const { return handle_; }
  void Set() const { SetEvent(handle_); }
  bool WaitFor(DWORD milliseconds) const {
    return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
  }

 private:
  std::wstring name_;
  HANDLE handle_;
};

// A helper program (a bare name is looked up beside the test program), ended by force when the
// object goes unless it has exited.
class HelperProcess {
 public:
  HelperProcess() = default;
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;
  ~HelperProcess();
  // Starts it in directory (empty: ours), its output to outputFile (empty: ours) and, with
  // input, its standard input from a pipe that CloseInput ends.
  bool Start(const std::wstring& executable, const std::wstring& arguments,
             const std::wstring& directory = L"", const std::wstring& outputFile = L"",
             bool input = false);
  void CloseInput();
  bool WaitForExit(DWORD milliseconds = 30000) {
    return WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
  }
  DWORD ExitCode() const;
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_; }

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  DWORD id_ = 0;
};

// A running stand-in for a launcher (tools/waiting_process.exe): up once constructed, it ends
// when Finish closes its input.
class WaitingProcess : public HelperProcess {
 public:
  WaitingProcess();
  bool IsRunning() { return !WaitForExit(0); }
  bool Finish() {
    CloseInput();
    return WaitForExit();
  }
  static std::wstring ExecutablePath();
};

std::wstring Rundll32Path();

// Holds a file open without sharing in a helper process until Release or the end of the object.
class FileLock {
 public:
  explicit FileLock(const std::wstring& path);
  ~FileLock() { Release(); }
  bool Held() const { return held_; }
  void Release();

 private:
  NamedEvent ready_{L"lock_ready"};
  NamedEvent release_{L"lock_release"};
  HelperProcess locker_;
  bool held_ = false;
};

}  // namespace quorvel::test
