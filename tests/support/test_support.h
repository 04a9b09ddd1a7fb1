#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace quorvel::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  ~ScopedTempDir();
  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

// Writes bytes to a file, creating its folders.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Reads a whole file; empty when it does not exist.
std::string ReadFileBytes(const std::wstring& path);
// The contents of each file, each followed by "|"; "-" for a file that does not exist.
std::string Contents(const std::vector<std::wstring>& paths);
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
// The folder of the running test program, where the DLL and the helper programs are built.
std::wstring ProgramFolder();
size_t Count(const std::string& text, const std::string& piece);
inline bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}
inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
std::string Utf8(const std::wstring& text);
// The texts of a list of shared strings.
template <typename Strings>
std::vector<std::wstring> Texts(const Strings& strings) {
  std::vector<std::wstring> texts;
  for (const auto& text : strings) {
    texts.emplace_back(text.Chars());
  }
  return texts;
}

// The system's text for a Win32 error as FormatMessage gives it (Wine's texts differ from
// Windows'), and as the run log holds it: UTF-8, each line feed written as CR LF.
std::wstring SystemMessage(DWORD code);
std::string LoggedSystemMessage(DWORD code);

// Points the run log at a fresh file for the length of a test; Clear starts it again.
class LogCapture {
 public:
  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();
  std::string Text() const;
  void Clear() const { DeleteFileW(file_.c_str()); }

 private:
  ScopedTempDir dir_;
  std::wstring file_;
  std::wstring previous_;
};

// What the user's run log (the one the DLL writes) gains from construction on; unless raw, the
// banners' date and time read "<stamp>".
class UserRunLog {
 public:
  UserRunLog();
  std::string Added(bool raw = false) const;

 private:
  size_t start_;
};

// Polls until condition holds; the bound only keeps a broken build from hanging.
template <typename Condition>
bool Eventually(Condition condition, DWORD milliseconds = 60000) {
  for (const ULONGLONG deadline = GetTickCount64() + milliseconds; !condition(); Sleep(5)) {
    if (GetTickCount64() > deadline) {
      return false;
    }
  }
  return true;
}

#define QUORVEL_SKIP_WITHOUT_DISPLAY()                        \
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) { \
    GTEST_SKIP() << "no display";                             \
  }

// A fixture with a fresh temporary folder per test.
class TempDirTest : public ::testing::Test {
 protected:
  std::wstring Dir() const { return temp_.Path(); }
  std::wstring At(const std::wstring& relative) const { return temp_ / relative; }

  ScopedTempDir temp_;
};

}  // namespace quorvel::test
