#include "crash/stack_trace_section.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crash_test_support.h"
#include "foundation/scoped_registry_key.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

const wchar_t kKeyPath[] = L"SOFTWARE\\Dastry";
const wchar_t kValueName[] = L"EnableCppStackTrace";

// Remembers the switch as the test found it and puts it back: the key, and the value with its
// type and bytes.
class SavedSwitch {
 public:
  SavedSwitch() {
    ScopedRegistryKey key;
    keyExisted_ =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
    if (!keyExisted_) {
      return;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), kValueName, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
      data_.resize(size);
      valueExisted_ = RegQueryValueExW(key.Get(), kValueName, nullptr, &type_, data_.data(),
                                       &size) == ERROR_SUCCESS;
    }
  }
  SavedSwitch(const SavedSwitch&) = delete;
  SavedSwitch& operator=(const SavedSwitch&) = delete;
  ~SavedSwitch() {
    if (!keyExisted_) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
      return;
    }
    ScopedRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_SET_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
      return;
    }
    if (valueExisted_) {
      RegSetValueExW(key.Get(), kValueName, 0, type_, data_.data(),
                     static_cast<DWORD>(data_.size()));
    } else {
      RegDeleteValueW(key.Get(), kValueName);
    }
  }
  bool KeyExisted() const { return keyExisted_; }

 private:
  bool keyExisted_ = false;
  bool valueExisted_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

void SetSwitch(DWORD type, const std::vector<BYTE>& bytes) {
  ScopedRegistryKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.Get(), kValueName, 0, type, bytes.data(),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
}

void DeleteSwitchValue() {
  ScopedRegistryKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.Receive(), nullptr),
            ERROR_SUCCESS);
  RegDeleteValueW(key.Get(), kValueName);
}

std::vector<BYTE> Dword(DWORD value) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&value);
  return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

std::string Content(uint32_t threadId) {
  StackTraceSection section;
  ReportThreadInfo thread;
  thread.threadId = threadId;
  thread.threadHandle = GetCurrentThread();
  return section.content(ReportInfo(), thread, 0).Chars();
}

std::string Lines(uint32_t threadId) {
  char id[32];
  std::snprintf(id, sizeof(id), "0x%08X", threadId);
  return std::string("Command Line: ") + GetCommandLineA() + "\nThread ID: " + id + "\n";
}

// Every registry case lives in this one test: test processes run side by side and share the
// Wine prefix's registry.
TEST(StackTraceSectionTest, RegistrySwitchTurnsTheWalkOffOnlyForZero) {
  test::ScopedSymbolEngine engine;  // unbound: a walk that runs ends with the engine message
  SavedSwitch saved;
  const std::string walked = Lines(0x1234ABCD) + "(Symbol Engine Could Not Be Initialized!)\n";
  const std::string disabled =
      Lines(0x1234ABCD) +
      "(C++ Stack Trace is disabled because HKLM\\SOFTWARE\\Dastry\\EnableCppStackTrace=0)";

  if (!saved.KeyExisted()) {
    EXPECT_EQ(Content(0x1234ABCD), walked) << "key missing";
  }
  DeleteSwitchValue();
  EXPECT_EQ(Content(0x1234ABCD), walked) << "value missing";

  SetSwitch(REG_DWORD, Dword(0));
  EXPECT_EQ(Content(0x1234ABCD), disabled);
  SetSwitch(REG_DWORD, Dword(1));
  EXPECT_EQ(Content(0x1234ABCD), walked);
  SetSwitch(REG_DWORD, Dword(0x100));
  EXPECT_EQ(Content(0x1234ABCD), walked);

  // A short value fills the low bytes; the rest of the word stays zero.
  SetSwitch(REG_BINARY, {0x00});
  EXPECT_EQ(Content(0x1234ABCD), disabled) << "one zero byte";
  SetSwitch(REG_BINARY, {0x01});
  EXPECT_EQ(Content(0x1234ABCD), walked) << "one byte of 1";
  // The type is not looked at: the text "0" is the word 0x30.
  SetSwitch(REG_SZ, {'0', 0});
  EXPECT_EQ(Content(0x1234ABCD), walked) << "text";
  // Too long to read into a word: the walk stays on.
  SetSwitch(REG_QWORD, std::vector<BYTE>(8, 0));
  EXPECT_EQ(Content(0x1234ABCD), walked) << "eight bytes";
}

}  // namespace
}  // namespace quorvel
