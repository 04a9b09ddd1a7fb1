// Quorvel.dll run the way launchers run it: rundll32.exe Quorvel.dll,Quorvel <arguments> in a
// process of its own, on a real display (scripts/test.sh runs these under Xvfb), ending with a
// copy of the sample launcher restarted. A window watcher records the windows and answers every
// message box, so that no run waits on a box nobody sees.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

constexpr DWORD kPatience = 60000;  // only a bound for what never comes

// tools/window_watcher.exe, recording one line per window it sees ("progress: <text>",
// "box: <text>", "gone: ..."); QUORVEL_TEST_SCREENSHOTS names a folder for pictures of them.
class WindowWatcher {
 public:
  WindowWatcher() {
    std::wstring arguments =
        L"\"" + (dir_ / L"record.txt") + L"\" --stop " + stop_.Name() + L" --seen " + seen_.Name();
    wchar_t shots[MAX_PATH + 1] = {};
    if (GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", shots, MAX_PATH) != 0) {
      const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
      arguments += L" --screenshots \"" + std::wstring(shots) + L"\\" +
                   std::wstring(name.begin(), name.end()) + L"\"";
      CreateDirectoryW(shots, nullptr);
      CreateDirectoryW(
          (std::wstring(shots) + L"\\" + std::wstring(name.begin(), name.end())).c_str(), nullptr);
    }
    EXPECT_TRUE(process_.Start(L"window_watcher.exe", arguments));
  }
  bool WaitUntilSeen() const { return seen_.WaitFor(kPatience); }
  std::vector<std::string> Stop() {
    stop_.Set();
    process_.WaitForExit();
    std::vector<std::string> lines;
    std::string record = test::ReadFileBytes(dir_ / L"record.txt");
    for (size_t end = record.find('\n'); end != std::string::npos; end = record.find('\n')) {
      lines.push_back(record.substr(0, end));
      record.erase(0, end + 1);
    }
    return lines;
  }

 private:
  test::ScopedTempDir dir_;
  test::NamedEvent stop_{L"watcher_stop"}, seen_{L"watcher_seen"};
  test::HelperProcess process_;
};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class Rundll32RunTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    QUORVEL_SKIP_WITHOUT_DISPLAY();
    watcher_ = std::make_unique<WindowWatcher>();
    CreateDirectoryW(At(L"Game").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((test::ProgramFolder() + L"\\sample_launcher.exe").c_str(),
                          launcher_.c_str(), FALSE));
    CreateDirectoryW(At(L"Backup").c_str(), nullptr);
    // Inherited through rundll32 by the launcher it restarts, which sets the event.
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + launcherStarted_.Name()).c_str());
  }
  void TearDown() override { _wputenv(L"SAMPLE_LAUNCHER_STARTED="); }

  // name in the game folder with old content and in the patch folder with new.
  void PlaceFile(const std::wstring& name, const std::string& old, const std::string& updated) {
    test::WriteFileBytes(At(L"Game\\" + name), old);
    test::WriteFileBytes(At(L"Patch\\" + name), updated);
  }
  // Starts the run as a launcher does, then lets the launcher end. Its current folder is on the
  // game's drive, as a launcher's is, and above the test's folder: Wine lets go of an ended
  // process's current folder only a moment later, too late for removing the test's folder.
  void StartRun(const std::wstring& files, const std::wstring& after = L"") {
    ASSERT_TRUE(run_.Start(test::Rundll32Path(),
                           Quoted(test::ProgramFolder() + L"\\Quorvel.dll") +
                               L",Quorvel -text \"Updating game files\" " +
                               std::to_wstring(starter_.Id()) + L" " + Quoted(At(L"Patch")) + L" " +
                               Quoted(At(L"Game")) + L" " + Quoted(At(L"Backup")) + L" " + files +
                               L" " + Quoted(launcher_) + L" -restart" + after,
                           Dir().substr(0, Dir().rfind(L'\\'))));
  }
  // Waits for the run's end and the launcher's restart; the windows the watcher saw.
  std::vector<std::string> FinishRun() {
    EXPECT_TRUE(run_.WaitForExit(kPatience)) << "the run did not end";
    EXPECT_TRUE(launcherStarted_.WaitFor(kPatience)) << "the launcher was not restarted";
    // The restarted launcher holds the test's folder: it ends first.
    const std::string record = Record();
    const DWORD pid = std::stoul("0" + record.substr(record.find("pid: ") + 5));
    const HANDLE launcher = OpenProcess(SYNCHRONIZE, FALSE, pid);
    WaitForSingleObject(launcher, kPatience);
    CloseHandle(launcher);
    return watcher_->Stop();
  }
  std::string Record() const { return test::ReadFileBytes(At(L"Game\\DastryLauncher.record.txt")); }

  std::unique_ptr<WindowWatcher> watcher_;
  test::NamedEvent launcherStarted_{L"launcher_started"};
  test::WaitingProcess starter_;
  test::HelperProcess run_;
  test::UserRunLog log_;
  const std::wstring launcher_ = At(L"Game\\DastryLauncher.exe");
};

// The game holds the file until the window has been seen, so the run cannot end before that.
TEST_F(Rundll32RunTest, ARunWaitsForItsLauncherShowsItsWindowReplacesTheFileAndRestartsIt) {
  PlaceFile(L"bin\\client.dll", "client 1", "client 2");
  test::FileLock lock(At(L"Game\\bin\\client.dll"));
  StartRun(L"1 bin\\client.dll");
  ASSERT_TRUE(test::Eventually([&] { return test::Has(log_.Added(), "Waiting for the parent"); }));
  EXPECT_FALSE(test::Has(log_.Added(), "Backing up")) << "patched while the launcher ran";
  ASSERT_TRUE(starter_.Finish());
  FILETIME created, exited, kernel, user;
  GetProcessTimes(starter_.Handle(), &created, &exited, &kernel, &user);
  SYSTEMTIME at;
  FileTimeToSystemTime(&exited, &at);
  char starterEnded[64];
  snprintf(starterEnded, sizeof(starterEnded), "%04u-%02u-%02u %02u:%02u:%02u.%07llu UTC", at.wYear,
           at.wMonth, at.wDay, at.wHour, at.wMinute, at.wSecond,
           ((static_cast<unsigned long long>(exited.dwHighDateTime) << 32) | exited.dwLowDateTime) %
               10000000ull);
  ASSERT_TRUE(watcher_->WaitUntilSeen()) << "no window came up";
  lock.Release();
  EXPECT_EQ(FinishRun(),
            (std::vector<std::string>{"progress: Updating game files", "gone: progress"}));
  const std::string record = Record();
  EXPECT_TRUE(test::Has(record, "command line: \"" + test::Utf8(launcher_) + "\" \"-restart\"\r\n"))
      << record;
  // The launcher records its start in the same form: the texts compare as the times.
  const size_t started = record.find("started: ") + 9;
  EXPECT_LE(std::string(starterEnded),
            record.substr(started, record.find("\r\n", started) - started));
  EXPECT_TRUE(test::Has(record, "QUORVEL_RESULT=0x00000000\r\nQUORVEL_FILENAME=(unset)\r\n"));
  EXPECT_EQ(test::Contents(
                {At(L"Game\\bin\\client.dll"), At(L"Backup\\bin\\client.dll"), At(L"Patch\\bin")}),
            "client 2|client 1|-|");
  EXPECT_TRUE(
      test::EndsWith(log_.Added(), "\r\n======= Quorvel Complete <stamp> ============\r\n"));
}

TEST_F(Rundll32RunTest, AFailedPatchIsRevertedShownInABoxAndStillRestartsTheLauncher) {
  PlaceFile(L"bin\\client.dll", "client 1", "client 2");
  PlaceFile(L"data\\locked.dat", "data 1", "data 2");
  // The game still holds its data file: every attempt fails on it (five, two seconds apart).
  test::FileLock lock(At(L"Game\\data\\locked.dat"));
  ASSERT_TRUE(lock.Held());
  StartRun(L"2 bin\\client.dll data\\locked.dat", L" %QUORVEL_RESULT% %QUORVEL_FILENAME%");
  ASSERT_TRUE(starter_.Finish());
  const std::vector<std::string> windows = FinishRun();
  lock.Release();
  const std::wstring message = L"Could not patch file \"data\\locked.dat\", error 32: " +
                               test::SystemMessage(ERROR_SHARING_VIOLATION);
  std::string escaped;
  for (char c : test::Utf8(message)) {
    escaped += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  }
  ASSERT_EQ(windows.size(), 4u);
  EXPECT_EQ(windows[0], "progress: Updating game files");
  EXPECT_EQ(windows[1], "box: " + escaped);
  EXPECT_EQ(test::Contents({At(L"Game\\bin\\client.dll"), At(L"Game\\data\\locked.dat"),
                            At(L"Patch\\bin\\client.dll"), At(L"Patch\\data\\locked.dat"),
                            At(L"Backup\\bin\\client.dll")}),
            "client 1|data 1|client 2|data 2|-|");
  const std::string record = Record();
  EXPECT_TRUE(test::Has(record, "command line: \"" + test::Utf8(launcher_) +
                                    "\" \"-restart\" \"0x80070020\" \"data\\locked.dat\"\r\n"))
      << record;
  EXPECT_TRUE(
      test::Has(record, "QUORVEL_RESULT=0x80070020\r\nQUORVEL_FILENAME=data\\locked.dat\r\n"));
  const std::string added = log_.Added();
  EXPECT_EQ(test::Count(added, "Copy failed, HResult 0x80070020"), 5u) << added;
  EXPECT_TRUE(test::EndsWith(
      added, "Reverting all patches\r\nCopying \"" + test::Utf8(At(L"Backup")) +
                 "\\bin\\client.dll\" to \"" + test::Utf8(At(L"Game")) +
                 "\\bin\\client.dll\"\r\nExecuting post patch command: " + test::Utf8(launcher_) +
                 " \"-restart\" \"0x80070020\" \"data\\locked.dat\"\r\n\r\n"
                 "======= Quorvel Failed <stamp> ============\r\n"))
      << added;
}

}  // namespace
}  // namespace quorvel
