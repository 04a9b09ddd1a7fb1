#pragma once

#include <windows.h>

#include <string>

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
  // Path joined with a relative name by a backslash.
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

// Writes bytes to a file, creating its folders.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Reads a whole file; empty when it does not exist.
std::string ReadFileBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

// The folder of the running test program, where the DLL and the helper programs are built.
std::wstring ProgramFolder();

// Whether text ends with tail.
inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Narrow UTF-8 form of wide text, for readable assertion output.
std::string Utf8(const std::wstring& text);

// The text FormatMessage gives for a Win32 error, converted as the system converts it; tests
// compare with this rather than with a literal sentence, since Wine's texts differ.
std::wstring SystemMessage(DWORD code);
// SystemMessage as the run log holds it: UTF-8, and each line feed written as CR LF by the
// log's text mode (so the system's own CR LF arrives as CR CR LF).
std::string LoggedSystemMessage(DWORD code);

// Points the run log at a fresh file in a temporary folder for the length of a test, and puts
// the previous path back afterwards.
class LogCapture {
 public:
  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();
  // The bytes written to the log so far.
  std::string Text() const;
  const std::wstring& FilePath() const { return file_; }

 private:
  ScopedTempDir dir_;
  std::wstring file_;
  std::wstring previous_;
};

// Polls until condition holds or milliseconds have passed; returns whether it held. The bound
// only keeps a broken build from hanging.
template <typename Condition>
bool Eventually(Condition condition, DWORD milliseconds = 60000) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (!condition()) {
    if (GetTickCount64() > deadline) {
      return false;
    }
    Sleep(5);
  }
  return true;
}

// Skips the running test when there is no display to open windows on.
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
