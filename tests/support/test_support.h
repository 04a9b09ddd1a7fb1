#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/code_page.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "gtest/gtest.h"

namespace quorvel::test {

// The block header that stands right before a string's characters (the shared empty block's
// for every empty string).
template <typename String>
const StringHeader* HeaderOf(const String& text) {
  return reinterpret_cast<const StringHeader*>(text.Chars()) - 1;
}

// A fresh folder under base (the system's temporary folder when empty), removed with
// everything in it at the end.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(std::wstring base = L"");
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

inline std::string Utf8(const std::wstring& text) {
  SharedString bytes;
  ConvertToCodePage(text.c_str(), bytes, CP_UTF8);
  return std::string(bytes.Chars(), bytes.Length());
}
// Writes bytes to a file, creating its folders.
inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos;
       slash = path.find(L'\\', slash + 1)) {
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
  }
  const ScopedFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ASSERT_EQ(written, bytes.size()) << "cannot write " << Utf8(path);
}
// A whole file; empty when it cannot be read.
inline std::string ReadFileBytes(const std::wstring& path) {
  const ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  char chunk[4096];
  for (DWORD read = 0; ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read != 0;) {
    bytes.append(chunk, read);
  }
  return bytes;
}
inline bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
// The contents of each file, each followed by "|"; "-" for a path that does not exist.
inline std::string Contents(const std::vector<std::wstring>& paths) {
  std::string text;
  for (const std::wstring& path : paths) {
    text += (PathExists(path) ? ReadFileBytes(path) : "-") + "|";
  }
  return text;
}
// Every folder and file below root with each file's bytes, in a stable order: two trees with
// the same fingerprint hold the same names and the same contents. A file named skip is left out
// wherever it is, and so is a backup folder's lock.
std::string TreeFingerprint(const std::wstring& root, const std::wstring& skip = L"",
                            const std::wstring& relative = L"");
// Makes the file or empty folder at path a link: a symbolic link to target (a host path relative
// to the link's folder, with slashes), made by the host as Wine's CreateSymbolicLinkW makes
// nothing; or with no target a hard link to the file hardTarget. True once it is there. Wine shows
// a linked folder as a reparse point, as Windows shows a junction; fingerprints list it as
// "name@" and removal takes the link only. With aside, what stood at path is first renamed to
// path.away by the host, past Windows' sharing rules.
bool Link(const std::wstring& path, const wchar_t* target, const std::wstring& hardTarget,
          bool aside = false);
// Runs the shell script on the host in folder (a Windows path; empty: a fresh one of its own) and
// waits until it is done; false when it could not start or failed.
bool OnHost(const std::wstring& folder, const std::wstring& script);
// A drive letter for folder, made by the host for the object's life as a player maps one (Wine
// keeps its drive letters as links in the prefix's dosdevices folder): a free one, B or A first,
// which Wine then names the folder's final path with. Root() is empty when none could be made.
class DriveLetter {
 public:
  explicit DriveLetter(const std::wstring& folder);
  DriveLetter(const DriveLetter&) = delete;
  DriveLetter& operator=(const DriveLetter&) = delete;
  ~DriveLetter();
  const std::wstring& Root() const { return root_; }

 private:
  // The letter's link in the prefix, quoted for the host's shell.
  std::wstring Device() const {
    return L"\\\"$WINEPREFIX/dosdevices/" + std::wstring(1, towlower(root_[0])) + L":\\\"";
  }
  std::wstring root_;
};
// The folder of the running test program, where the DLL and the helper programs are built.
inline std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path).substr(0, std::wstring(path).find_last_of(L'\\'));
}
// text with every occurrence of from replaced by to.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}
// How often piece, which must not overlap itself, occurs in text.
inline size_t Count(const std::string& text, const std::string& piece) {
  return (text.size() - Replaced(text, piece, "").size()) / piece.size();
}
inline bool Has(const std::string& text, const std::string& p) { return text.find(p) != text.npos; }
inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.rfind(tail) == text.size() - tail.size();
}
template <typename Strings>
std::vector<std::wstring> Texts(const Strings& strings) {
  std::vector<std::wstring> texts;
  for (const auto& text : strings) {
    texts.emplace_back(text.Chars());
  }
  return texts;
}

// a, U+4E2D, z in UTF-16 and in UTF-8: the middle character has no form in code page 1252.
inline const wchar_t kWideHan[] = {L'a', 0x4E2D, L'z', 0};
inline const char kUtf8Han[] = "a\xE4\xB8\xADz";

// The system's text for a Win32 error as FormatMessage gives it (Wine's texts differ from
// Windows'), and as the run log holds it: UTF-8, each line feed written as CR LF.
inline std::wstring SystemMessage(DWORD code) {
  wchar_t text[1024] = {};
  FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text,
                 1024, nullptr);
  return text;
}
inline std::string LoggedSystemMessage(DWORD code) {
  return Replaced(Utf8(SystemMessage(code)), "\n", "\r\n");
}
// The system's text without its line end, as a sentence inside a window's text.
inline std::wstring SystemReason(DWORD code) {
  std::wstring text = SystemMessage(code);
  return text.erase(text.find_last_not_of(L"\r\n ") + 1);
}
// An environment variable of this process as UTF-8, "(unset)" when it is not set.
inline std::string Variable(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value == nullptr ? "(unset)" : Utf8(value);
}

// Points the run log at a fresh file for the length of a test.
class LogCapture {
 public:
  LogCapture() : file_(dir_ / L"Quorvel.log"), previous_(RunLog::Path().Chars()) {
    RunLog::SetPath(L"%ls", file_.c_str());
  }
  ~LogCapture() { RunLog::SetPath(L"%ls", previous_.c_str()); }
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
inline void WaitForRecordedLauncher(const std::wstring& recordFile) {
  const std::string record = ReadFileBytes(recordFile);
  const DWORD pid = std::stoul("0" + record.substr(record.rfind("pid: ") + 5));
  WaitForSingleObject(ScopedHandle(OpenProcess(SYNCHRONIZE, FALSE, pid)).Get(), 60000);
}

// What the user's run log, the one the DLL writes, gains from construction on, with its stamps
// masked.
struct UserRunLog {
  static std::string Text();  // the whole log; its folder is made, as the DLL needs it
  std::string Added() const { return MaskStamps(Text().substr(start)); }
  const size_t start = Text().size();
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
  const std::wstring& Name() const { return name_; }
  void Set() const { SetEvent(handle_.Get()); }
  void Reset() const { ResetEvent(handle_.Get()); }
  bool WaitFor(DWORD milliseconds) const {
    return WaitForSingleObject(handle_.Get(), milliseconds) == WAIT_OBJECT_0;
  }

 private:
  std::wstring name_;
  ScopedHandle handle_;
};

// A helper program, ended by force when the object goes unless it has exited.
class HelperProcess {
 public:
  ~HelperProcess();
  // Starts program (a bare name is looked up beside the test program, then in the system's
  // folders) in directory (empty: ours); with input, its standard input is a pipe that Finish
  // ends before it waits.
  bool Start(const std::wstring& program, const std::wstring& arguments,
             const std::wstring& directory = L"", bool input = false);
  bool Finish() { return input_.Reset(), WaitForExit(); }
  bool WaitForExit(DWORD milliseconds = 30000) {
    return WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
  }
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_.Get(); }

 private:
  ScopedHandle process_, input_;
  DWORD id_ = 0;
};

// A running stand-in for a launcher (tools/waiting_process.exe): up once constructed, it ends
// when Finish closes its input.
struct WaitingProcess : HelperProcess {
  WaitingProcess() {
    const NamedEvent ready(L"waiting_process_ready");
    EXPECT_TRUE(Start(L"waiting_process.exe", ready.Name(), L"", true)) << GetLastError();
    EXPECT_TRUE(ready.WaitFor(30000)) << "waiting_process did not start";
  }
};

// Holds a file open without sharing in a helper process until Release or the end of the object.
class FileLock {
 public:
  explicit FileLock(const std::wstring& path)
      : held_(locker_.Start(L"file_locker.exe",
                            L"\"" + path + L"\" " + ready_.Name() + L" " + release_.Name()) &&
              ready_.WaitFor(30000) && !locker_.WaitForExit(0)) {}
  ~FileLock() { Release(); }
  bool Held() const { return held_; }
  void Release() { release_.Set(), locker_.WaitForExit(), held_ = false; }

 private:
  NamedEvent ready_{L"lock_ready"}, release_{L"lock_release"};
  HelperProcess locker_;
  bool held_ = false;
};

}  // namespace quorvel::test
