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

// A fixture with a fresh temporary folder per test.
class TempDirTest : public ::testing::Test {
 protected:
  std::wstring Dir() const { return temp_.Path(); }
  std::wstring At(const std::wstring& relative) const { return temp_ / relative; }
  ScopedTempDir temp_;
};

// Writes bytes to a file, creating its folders.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// A whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
// The contents of each file, each followed by "|"; "-" for a path that does not exist.
std::string Contents(const std::vector<std::wstring>& paths);
// Every folder and file below root with each file's bytes, in a stable order: two trees with
// the same fingerprint hold the same names and the same contents. A file named skip is left out
// wherever it is.
std::string TreeFingerprint(const std::wstring& root, const std::wstring& skip = L"");
bool PathExists(const std::wstring& path);
// Makes name in folder a symbolic link to target (a host path, relative to folder, with
// slashes), as the host makes it: Wine's CreateSymbolicLinkW makes nothing. Wine shows a linked
// folder as a reparse point, as Windows shows a junction. True once the link is there.
// Fingerprints list a linked folder as "name@"; removal takes the link only. With aside, what
// stood at name is first renamed to name.away by the host, past Windows' sharing rules.
bool MakeHostLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                  bool aside = false);
// Makes the file or empty folder at path a link: a host symbolic link to target (relative to the
// link's folder), or with no target a hard link to the file hardTarget. True once it is there.
bool Link(const std::wstring& path, const wchar_t* target, const std::wstring& hardTarget);
// The folder of the running test program, where the DLL and the helper programs are built.
std::wstring ProgramFolder();
std::string Utf8(const std::wstring& text);
size_t Count(const std::string& text, const std::string& piece);
inline bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}
inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
// text with every occurrence of from replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to);
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
// The system's text without its line end, as a sentence inside a window's text.
std::wstring SystemReason(DWORD code);
// An environment variable of this process as UTF-8, "(unset)" when it is not set.
std::string Variable(const wchar_t* name);

// Points the run log at a fresh file for the length of a test.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::string Text() const { return ReadFileBytes(file_); }
  void Clear() const { DeleteFileW(file_.c_str()); }

 private:
  ScopedTempDir dir_;
  std::wstring file_, previous_;
};

// text with the banners' date and time as "<stamp>".
std::string MaskStamps(const std::string& text);
// Waits until the sample launcher that wrote last to this record file has ended: it holds its
// folder.
void WaitForRecordedLauncher(const std::wstring& recordFile);

// What the user's run log, the one the DLL writes, gains from construction on, with its stamps
// masked.
class UserRunLog {
 public:
  UserRunLog();
  std::string Added() const;

 private:
  size_t start_;
};

// Polls until condition holds; the bound only keeps a broken build from hanging.
template <typename Condition>
bool Eventually(Condition condition) {
  for (const ULONGLONG deadline = GetTickCount64() + 60000; !condition(); Sleep(5)) {
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

// An event with a name unique to this test process, for handshakes with helper programs.
class NamedEvent {
 public:
  explicit NamedEvent(const std::wstring& purpose);
  ~NamedEvent() { CloseHandle(handle_); }
  const std::wstring& Name() const { return name_; }
  void Set() const { SetEvent(handle_); }
  void Reset() const { ResetEvent(handle_); }
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
  // Starts it in directory (empty: ours); with input, its standard input is a pipe that
  // CloseInput ends.
  bool Start(const std::wstring& executable, const std::wstring& arguments,
             const std::wstring& directory = L"", bool input = false);
  void CloseInput();
  bool WaitForExit(DWORD milliseconds = 30000) {
    return WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
  }
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_; }

 private:
  HANDLE process_ = nullptr, input_ = nullptr;
  DWORD id_ = 0;
};

// A running stand-in for a launcher (tools/waiting_process.exe): up once constructed, it ends
// when Finish closes its input.
class WaitingProcess : public HelperProcess {
 public:
  WaitingProcess();
  bool Finish() { return CloseInput(), WaitForExit(); }
  static std::wstring ExecutablePath() { return ProgramFolder() + L"\\waiting_process.exe"; }
};

std::wstring Rundll32Path();

// Holds a file open without sharing in a helper process until Release or the end of the object.
class FileLock {
 public:
  explicit FileLock(const std::wstring& path);
  ~FileLock() { Release(); }
  bool Held() const { return held_; }
  void Release() { release_.Set(), locker_.WaitForExit(), held_ = false; }

 private:
  NamedEvent ready_{L"lock_ready"}, release_{L"lock_release"};
  HelperProcess locker_;
  bool held_ = false;
};

}  // namespace quorvel::test
