#pragma once

#include <windows.h>

namespace quorvel {

// Owns one open registry key and closes it once.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey() = default;
  explicit ScopedRegistryKey(HKEY key) : key_(key) {}
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
  ~ScopedRegistryKey() { Reset(); }

  HKEY Get() const { return key_; }
  // For the Reg*Ex calls that open a key into the caller's variable; closes the current key.
  HKEY* Receive() {
    Reset();
    return &key_;
  }
  void Reset() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
      key_ = nullptr;
    }
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace quorvel
