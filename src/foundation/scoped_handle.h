#pragma once

#include <windows.h>

namespace quorvel {

// Owns one Win32 handle and closes it once. Two kinds exist because Win32 marks a missing
// handle in two ways: null for process, thread, mutex and semaphore handles, and
// INVALID_HANDLE_VALUE for file handles; mixing them leaks or closes twice.
template <typename Traits>
class ScopedHandleT {
 public:
  ScopedHandleT() = default;
  explicit ScopedHandleT(HANDLE handle) : handle_(handle) {}
  ScopedHandleT(const ScopedHandleT&) = delete;
  ScopedHandleT& operator=(const ScopedHandleT&) = delete;
  ScopedHandleT(ScopedHandleT&& other) noexcept : handle_(other.Release()) {}
  ScopedHandleT& operator=(ScopedHandleT&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  ~ScopedHandleT() { Reset(); }

  bool IsValid() const { return handle_ != Traits::Invalid(); }
  HANDLE Get() const { return handle_; }
  // Closes the current handle and takes handle; the caller's last error survives the close.
  void Reset(HANDLE handle = Traits::Invalid()) {
    if (handle_ != Traits::Invalid()) {
      const DWORD error = GetLastError();
      CloseHandle(handle_);
      SetLastError(error);
    }
    handle_ = handle;
  }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }

 private:
  HANDLE handle_ = Traits::Invalid();
};

struct NullHandleTraits {
  static HANDLE Invalid() { return nullptr; }
};

struct FileHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
};

// Process, thread and synchronisation object handles (null when missing).
using ScopedHandle = ScopedHandleT<NullHandleTraits>;
// File handles from CreateFile (INVALID_HANDLE_VALUE when missing).
using ScopedFileHandle = ScopedHandleT<FileHandleTraits>;

}  // namespace quorvel
