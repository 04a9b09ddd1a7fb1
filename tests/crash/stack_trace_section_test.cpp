#include "crash/stack_trace_section.h"

#include <windows.h>

#include <string>
#include <vector>

#include "crash_test_support.h"
#include "foundation/scoped_registry_key.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

const wchar_t kKeyPath[] = L"SOFTWARE\\Dastry";
const wchar_t kValueName[] = L"EnableCppStackTrace";

// Remembers the switch as the test found it, the key and the value with its type and bytes, and
// puts it back.
class SavedSwitch {
 public:
  SavedSwitch() {
    ScopedRegistryKey key;
    keyExisted_ =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
    valueExisted_ = RegGetValueW(HKEY_LOCAL_MACHINE, kKeyPath, kValueName,
                                 RRF_RT_ANY | RRF_NOEXPAND, &type_, data_, &size_) == ERROR_SUCCESS;
  }
  SavedSwitch(const SavedSwitch&) = delete;
  SavedSwitch& operator=(const SavedSwitch&) = delete;
  ~SavedSwitch() {
    if (valueExisted_) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKeyPath, kValueName, type_, data_, size_);
    } else if (keyExisted_) {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKeyPath, kValueName);
    } else {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
    }
  }
  bool KeyExisted() const { return keyExisted_; }

 private:
  bool keyExisted_ = false;
  bool valueExisted_ = false;
  DWORD type_ = 0;
  BYTE data_[256] = {};
  DWORD size_ = sizeof(data_);
};

void SetSwitch(DWORD type, const std::vector<BYTE>& bytes) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKeyPath, kValueName, type, bytes.data(),
                            static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
}

std::string Content() {
  ReportThreadInfo thread;
  thread.threadId = 0x1234ABCD;
  thread.threadHandle = GetCurrentThread();
  return StackTraceSection().content(ReportInfo(), thread, 0).Chars();
}

// Every registry case lives in this one test: test processes run side by side and share the
// Wine prefix's registry.
TEST(StackTraceSectionTest, RegistrySwitchTurnsTheWalkOffOnlyForZero) {
  test::ScopedSymbolEngine engine;  // unbound: a walk that runs ends with the engine message
  SavedSwitch saved;
  const std::string head =
      std::string("Command Line: ") + GetCommandLineA() + "\nThread ID: 0x1234ABCD\n";
  const std::string walked = head + "(Symbol Engine Could Not Be Initialized!)\n";
  const std::string disabled =
      head + "(C++ Stack Trace is disabled because HKLM\\SOFTWARE\\Dastry\\EnableCppStackTrace=0)";
  if (!saved.KeyExisted()) {
    EXPECT_EQ(Content(), walked) << "key missing";
  }
  const struct {
    DWORD type;
    std::vector<BYTE> bytes;
    bool disables;
  } cases[] = {{REG_DWORD, {0, 0, 0, 0}, true},
               {REG_DWORD, {1, 0, 0, 0}, false},
               {REG_DWORD, {0, 1, 0, 0}, false},
               // A short value fills the low bytes; the rest of the word stays zero.
               {REG_BINARY, {0}, true},
               {REG_BINARY, {1}, false},
               // The type is not looked at: the text "0" is the word 0x30.
               {REG_SZ, {'0', 0}, false},
               // Too long to read into a word: the walk stays on.
               {REG_QWORD, std::vector<BYTE>(8, 0), false}};
  for (const auto& c : cases) {
    SetSwitch(c.type, c.bytes);
    EXPECT_EQ(Content(), c.disables ? disabled : walked)
        << "type " << c.type << ", " << c.bytes.size() << " bytes";
  }
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKeyPath, kValueName), ERROR_SUCCESS);
  EXPECT_EQ(Content(), walked) << "value missing";
}

}  // namespace
}  // namespace quorvel
