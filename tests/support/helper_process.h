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
  ~NamedEvent();
  const std::wstring& Name() const { return name_; }
  HANDLE Handle() const { return handle_; }
  void Set() const { SetEvent(handle_); }
  // True when the event was set within timeout.
  bool WaitFor(DWORD milliseconds) const;

 private:
  std::wstring name_;
  HANDLE handle_;
};

// A helper program started from the test programs' folder (or any path); ended by force and
// released when the object goes, unless it has exited.
class HelperProcess {
 public:
  HelperProcess() = default;
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;
  ~HelperProcess();
  // Starts executable (a bare name is looked up beside the test program) with arguments.
  bool Start(const std::wstring& executable, const std::wstring& arguments);
  // Start with a current directory of its own (empty: this process's) and its standard output
  // and error written to outputFile (empty: this process's).
  bool StartIn(const std::wstring& executable, const std::wstring& arguments,
               const std::wstring& directory, const std::wstring& outputFile);
  // Waits for the exit; true when it exited within timeout.
  bool WaitForExit(DWORD milliseconds);
  DWORD ExitCode() const;
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_; }

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// The system's rundll32.exe.
std::wstring Rundll32Path();

// Holds a file open without sharing in a helper process until Release or the end of the object.
class FileLock {
 public:
  explicit FileLock(const std::wstring& path);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { Release(); }
  // True when the helper holds the file.
  bool Held() const { return held_; }
  // Lets go and waits until the helper has exited.
  void Release();

 private:
  NamedEvent ready_;
  NamedEvent release_;
  HelperProcess locker_;
  bool held_ = false;
};

}  // namespace quorvel::test
