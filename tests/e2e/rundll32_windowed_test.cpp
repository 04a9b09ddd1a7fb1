// Quorvel.dll run the way launchers run it: rundll32.exe Quorvel.dll,Quorvel <arguments> in a
// process of its own, on a real display (scripts/test.sh runs these under Xvfb), ending with a
// copy of the sample launcher restarted. A window watcher records the windows and answers every
// message box, so that no run waits on a box nobody sees.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/scoped_handle.h"
#include "support/helper_process.h"
#include "support/test_support.h"
#include "support/user_run_log.h"
#include "support/waiting_process.h"
#include "support/window_watcher.h"

namespace quorvel {
namespace {

// Only a bound for what never comes, so that a broken build fails instead of hanging.
constexpr DWORD kPatience = 60000;

const char kStartBanner[] = "\r\n\r\n======= Starting Quorvel <stamp> ============\r\n";
const char kCompleteBanner[] = "\r\n======= Quorvel Complete <stamp> ============\r\n";
const char kFailedBanner[] = "\r\n======= Quorvel Failed <stamp> ============\r\n";

// One start of the sample launcher, as it recorded itself.
struct LauncherStart {
  std::string commandLine;
  DWORD pid = 0;
  std::string started;   // creation time, as TimeText writes it
  std::string result;    // QUORVEL_RESULT, "(unset)" when it was not set
  std::string fileName;  // QUORVEL_FILENAME, likewise
};

std::vector<LauncherStart> LauncherStarts(const std::wstring& launcher) {
  const std::string record =
      test::ReadFileBytes(launcher.substr(0, launcher.rfind(L'.')) + L".record.txt");
  std::vector<LauncherStart> starts;
  size_t start = 0;
  for (size_t end = record.find("\r\n"); end != std::string::npos;
       start = end + 2, end = record.find("\r\n", start)) {
    const std::string line = record.substr(start, end - start);
    auto value = [&](const std::string& key) { return line.substr(key.size()); };
    if (line.rfind("command line: ", 0) == 0) {
      starts.emplace_back();
      starts.back().commandLine = value("command line: ");
    } else if (starts.empty()) {
      ADD_FAILURE() << "record does not begin with a command line: " << record;
      break;
    } else if (line.rfind("pid: ", 0) == 0) {
      starts.back().pid = static_cast<DWORD>(std::stoul(value("pid: ")));
    } else if (line.rfind("started: ", 0) == 0) {
      starts.back().started = value("started: ");
    } else if (line.rfind("QUORVEL_RESULT=", 0) == 0) {
      starts.back().result = value("QUORVEL_RESULT=");
    } else if (line.rfind("QUORVEL_FILENAME=", 0) == 0) {
      starts.back().fileName = value("QUORVEL_FILENAME=");
    }
  }
  return starts;
}

// A time in the form the sample launcher records its start in; two such texts compare as the
// times they show.
std::string TimeText(const FILETIME& time) {
  SYSTEMTIME parts = {};
  FileTimeToSystemTime(&time, &parts);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  char text[64] = {};
  snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%07llu UTC", parts.wYear,
           parts.wMonth, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond,
           ticks % 10000000ull);
  return text;
}

FILETIME ExitTime(HANDLE process) {
  FILETIME created = {};
  FILETIME exited = {};
  FILETIME kernel = {};
  FILETIME user = {};
  EXPECT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user)) << GetLastError();
  return exited;
}

// Compares two logs line by line (each line with its CR LF), naming the first difference.
void ExpectSameLines(const std::string& actual, const std::string& expected) {
  auto split = [](const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      const size_t end = std::min(text.find('\n', start), text.size() - 1);
      lines.push_back(text.substr(start, end + 1 - start));
      start = end + 1;
    }
    return lines;
  };
  const std::vector<std::string> a = split(actual);
  const std::vector<std::string> e = split(expected);
  for (size_t i = 0; i < a.size() && i < e.size(); ++i) {
    if (a[i] != e[i]) {
      ADD_FAILURE() << "log line " << i + 1
                    << " differs\n  actual:   " << testing::PrintToString(a[i])
                    << "\n  expected: " << testing::PrintToString(e[i]) << "\nwhole log:\n"
                    << actual;
      return;
    }
  }
  EXPECT_EQ(a.size(), e.size()) << "whole log:\n" << actual;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The window's status line, as the watcher records it with the bar at done of count files,
// while an attempt that failed on a file another program holds waits for attempt next.
std::string HeldFileStatus(const std::wstring& name, int next, int done, int count) {
  std::wstring reason = test::SystemMessage(ERROR_SHARING_VIOLATION);
  reason.erase(reason.find_last_not_of(L"\r\n ") + 1);
  return "status: [" + std::to_string(done) + "/" + std::to_string(count) + "] " +
         test::WindowWatcher::Escaped(test::Utf8(
             L"Could not replace \"" + name + L"\": " + reason +
             L" Another program is using the file; closing that program lets the update go on."
             L" Trying again: attempt " + std::to_wstring(next) + L" of 5."));
}

// The lines of the watcher's record that begin with prefix, or with anything else.
std::vector<std::string> Lines(const std::vector<std::string>& lines, const std::string& prefix,
                               bool with) {
  std::vector<std::string> chosen;
  for (const std::string& line : lines) {
    if ((line.rfind(prefix, 0) == 0) == with) {
      chosen.push_back(line);
    }
  }
  return chosen;
}

class Rundll32RunTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    QUORVEL_SKIP_WITHOUT_DISPLAY();
    ASSERT_TRUE(watcher_.Started());
    game_ = At(L"Game");
    patch_ = At(L"Patch");
    backup_ = At(L"Backup");
    launcher_ = game_ + L"\\DastryLauncher.exe";
    for (const std::wstring& folder : {game_, patch_, backup_}) {
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    // Inherited through rundll32 by the launcher it restarts, which sets the event.
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + launcherStarted_.Name()).c_str());
  }

  void TearDown() override {
    _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
    // The folder goes with the test: let the launchers it holds end first.
    for (const LauncherStart& start : LauncherStarts(launcher_)) {
      ScopedHandle process(
          OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, start.pid));
      wchar_t image[MAX_PATH + 1] = {};
      DWORD size = MAX_PATH;
      // An id can be given again once its process has gone: wait only for the launcher.
      if (process.IsValid() && QueryFullProcessImageNameW(process.Get(), 0, image, &size) &&
          _wcsicmp(image, launcher_.c_str()) == 0) {
        WaitForSingleObject(process.Get(), kPatience);
      }
    }
  }

  void PlaceLauncher(const std::wstring& path) {
    ASSERT_TRUE(
        CopyFileW((test::ProgramFolder() + L"\\sample_launcher.exe").c_str(), path.c_str(), TRUE))
        << GetLastError();
  }

  // The command line of a run over the three folders, the way a launcher writes it.
  std::wstring Arguments(const std::wstring& before, DWORD pid, const std::wstring& after) const {
    return before + std::to_wstring(pid) + L" " + Quoted(patch_) + L" " + Quoted(game_) + L" " +
           Quoted(backup_) + L" " + after;
  }

  // Starts rundll32.exe Quorvel.dll,Quorvel <arguments> as a launcher does, its standard output
  // (the progress window's trace) to a file. Its current folder is on the game's drive, as a
  // launcher's is, since the check for a running launcher takes the drive from there. It is the
  // folder above the test's: the restarted launcher inherits it, and Wine lets go of an ended
  // process's current folder only a moment later, too late for removing the test's folder.
  void StartRun(const std::wstring& arguments) {
    ASSERT_TRUE(
        run_.StartIn(test::Rundll32Path(),
                     Quoted(test::ProgramFolder() + L"\\Quorvel.dll") + L",Quorvel " + arguments,
                     Dir().substr(0, Dir().rfind(L'\\')), RunOutputFile()))
        << GetLastError();
  }

  void FinishRun() { ASSERT_TRUE(run_.WaitForExit(kPatience)) << "the run did not end"; }

  // A whole run as a launcher makes it: the run starts, the starter exits, the run ends.
  void Run(test::WaitingProcess& starter, const std::wstring& before, const std::wstring& after) {
    StartRun(Arguments(before, starter.Id(), after));
    ASSERT_TRUE(starter.Finish());
    FinishRun();
  }

  void ExpectLauncherRestarted() {
    ASSERT_TRUE(launcherStarted_.WaitFor(kPatience)) << "the launcher was not restarted";
  }

  // name in the game folder with old content and in the patch folder with new.
  void PlaceFile(const std::wstring& name, const std::string& old, const std::string& updated) {
    test::WriteFileBytes(game_ + L"\\" + name, old);
    test::WriteFileBytes(patch_ + L"\\" + name, updated);
  }

  // The launcher's path and the argument it is restarted with, as the command line ends.
  std::wstring Restart() const { return L" " + Quoted(launcher_) + L" -restart"; }

  std::wstring RunOutputFile() const { return At(L"rundll32.out"); }

  // The log from its banner through the parse: the tokenizer's heading and each argument on a
  // line of its own (before, the pid, the three folders, after), then the pid and the folders as
  // read; followed by rest.
  std::string ExpectedLog(std::vector<std::wstring> before, DWORD pid,
                          const std::vector<std::wstring>& after, const std::string& rest) const {
    before.insert(before.end(), {std::to_wstring(pid), patch_, game_, backup_});
    before.insert(before.end(), after.begin(), after.end());
    std::string text = kStartBanner + std::string("Argument List:\r\n");
    for (const std::wstring& argument : before) {
      text += "\t" + test::Utf8(argument) + "\r\n";
    }
    return text + "parent pid: " + std::to_string(pid) + "\r\n" + "Patch Directory:       <" +
           test::Utf8(patch_) + ">\r\n" + "Application Directory: <" + test::Utf8(game_) + ">\r\n" +
           "Backup Directory:      <" + test::Utf8(backup_) + ">\r\n" + rest;
  }

  // The log lines of one file replaced: its backup, then the new file moved in.
  std::string PatchLines(const std::wstring& name) const {
    return "Backing up \"" + test::Utf8(game_ + L"\\" + name) + "\" to \"" +
           test::Utf8(backup_ + L"\\" + name) + "\"\r\n" + "Copying up \"" +
           test::Utf8(patch_ + L"\\" + name) + "\" to \"" + test::Utf8(game_ + L"\\" + name) +
           "\"\r\n";
  }

  test::WindowWatcher watcher_;
  test::NamedEvent launcherStarted_{L"launcher_started"};
  test::HelperProcess run_;
  std::wstring game_;
  std::wstring patch_;
  std::wstring backup_;
  std::wstring launcher_;
};

const wchar_t kText[] = L"-text \"Updating game files\" ";

TEST_F(Rundll32RunTest, ARunReplacesTheFileLogsEveryStepAndRestartsTheLauncher) {
  PlaceFile(L"bin\\client.dll", "client 1", "client 2");
  PlaceLauncher(launcher_);
  test::UserRunLog log;
  test::WaitingProcess starter;

  ASSERT_NO_FATAL_FAILURE(Run(starter, kText, L"1 bin\\client.dll" + Restart()));
  ExpectLauncherRestarted();
  const std::vector<std::string> windows = watcher_.Stop();

  ExpectSameLines(
      log.AddedWithoutStamps(),
      ExpectedLog({L"-text", L"Updating game files"}, starter.Id(),
                  {L"1", L"bin\\client.dll", launcher_, L"-restart"},
                  "There are 1 files to patch\r\n"
                  "File: \"bin\\client.dll\"\r\n"
                  "Post Patch Command: <" +
                      test::Utf8(launcher_) + " \"-restart\">\r\n" +
                      "Waiting for the parent process to end\r\n" + PatchLines(L"bin\\client.dll") +
                      "All Quorvel patches successful\r\n" + "Executing post patch command: " +
                      test::Utf8(launcher_) + " \"-restart\"\r\n" + kCompleteBanner));

  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\bin\\client.dll"), "client 2");
  EXPECT_EQ(test::ReadFileBytes(backup_ + L"\\bin\\client.dll"), "client 1");
  EXPECT_FALSE(test::PathExists(patch_ + L"\\bin")) << "the emptied patch folder stays";
  EXPECT_TRUE(test::IsDirectory(patch_));

  const std::vector<LauncherStart> starts = LauncherStarts(launcher_);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine, "\"" + test::Utf8(launcher_) + "\" \"-restart\"");
  EXPECT_EQ(starts[0].result, "0x00000000");
  EXPECT_EQ(starts[0].fileName, "(unset)");
  for (const std::string& window : windows) {
    EXPECT_EQ(window.rfind("box: ", 0), std::string::npos) << window;
  }
}

TEST_F(Rundll32RunTest, TheLauncherIsRestartedOnlyAfterTheProcessThatStartedTheRunHasEnded) {
  PlaceFile(L"a.txt", "old", "new");
  PlaceLauncher(launcher_);
  test::UserRunLog log;
  test::WaitingProcess starter;

  StartRun(Arguments(L"", starter.Id(), L"1 a.txt" + Restart()));
  // The starter stays until the run is waiting for it: nothing may happen before it ends.
  ASSERT_TRUE(test::Eventually(
      [&] {
        return log.Added().find("Waiting for the parent process to end\r\n") != std::string::npos;
      },
      kPatience))
      << log.Added();
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\a.txt"), "old") << "patched while the starter ran";
  ASSERT_TRUE(starter.Finish());
  const FILETIME starterEnded = ExitTime(starter.Handle());
  FinishRun();
  ExpectLauncherRestarted();

  const std::vector<LauncherStart> starts = LauncherStarts(launcher_);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_LE(TimeText(starterEnded), starts[0].started)
      << "the launcher was restarted while the process that started the run was running";
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\a.txt"), "new");
  EXPECT_EQ(starts[0].result, "0x00000000");
}

TEST_F(Rundll32RunTest, AFailedPatchIsRevertedShownInABoxAndStillRestartsTheLauncher) {
  PlaceFile(L"bin\\client.dll", "client 1", "client 2");
  PlaceFile(L"data\\locked.dat", "data 1", "data 2");
  PlaceLauncher(launcher_);
  // The game still holds its data file: every attempt fails on it (five, two seconds apart).
  test::FileLock lock(game_ + L"\\data\\locked.dat");
  ASSERT_TRUE(lock.Held());
  test::UserRunLog log;
  test::WaitingProcess starter;

  ASSERT_NO_FATAL_FAILURE(Run(
      starter, kText,
      L"2 bin\\client.dll data\\locked.dat" + Restart() + L" %QUORVEL_RESULT% %QUORVEL_FILENAME%"));
  ExpectLauncherRestarted();
  lock.Release();
  const std::vector<std::string> windows = watcher_.Stop();

  const std::string lockedBackup = "Backing up \"" + test::Utf8(game_) +
                                   "\\data\\locked.dat\" to \"" + test::Utf8(backup_) +
                                   "\\data\\locked.dat\"\r\n";
  const std::string copyFailed = "Copy failed, HResult 0x80070020, error 32 " +
                                 test::LoggedSystemMessage(ERROR_SHARING_VIOLATION) + "\r\n";
  std::string attempts = lockedBackup + copyFailed;
  for (int retry = 1; retry <= 4; ++retry) {
    attempts +=
        "Patch failed. Retry " + std::to_string(retry) + " ...\r\n" + lockedBackup + copyFailed;
  }
  ExpectSameLines(
      log.AddedWithoutStamps(),
      ExpectedLog({L"-text", L"Updating game files"}, starter.Id(),
                  {L"2", L"bin\\client.dll", L"data\\locked.dat", launcher_, L"-restart",
                   L"%QUORVEL_RESULT%", L"%QUORVEL_FILENAME%"},
                  "There are 2 files to patch\r\n"
                  "File: \"bin\\client.dll\"\r\n"
                  "File: \"data\\locked.dat\"\r\n"
                  "Post Patch Command: <" +
                      test::Utf8(launcher_) +
                      " \"-restart\" \"%QUORVEL_RESULT%\" \"%QUORVEL_FILENAME%\">\r\n" +
                      "Waiting for the parent process to end\r\n" + PatchLines(L"bin\\client.dll") +
                      attempts + "Could not patch file \"data\\locked.dat\", error 0x80070020\r\n" +
                      "Reverting all patches\r\n" + "Copying \"" + test::Utf8(backup_) +
                      "\\bin\\client.dll\" to \"" + test::Utf8(game_) + "\\bin\\client.dll\"\r\n" +
                      "Executing post patch command: " + test::Utf8(launcher_) +
                      " \"-restart\" \"0x80070020\" \"data\\locked.dat\"\r\n" + kFailedBanner));

  // Every file is back as it was; the new ones wait in the patch folder for the next run.
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\bin\\client.dll"), "client 1");
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\data\\locked.dat"), "data 1");
  EXPECT_EQ(test::ReadFileBytes(patch_ + L"\\bin\\client.dll"), "client 2");
  EXPECT_EQ(test::ReadFileBytes(patch_ + L"\\data\\locked.dat"), "data 2");
  EXPECT_FALSE(test::PathExists(backup_ + L"\\bin\\client.dll"));

  const std::wstring message = L"Could not patch file \"data\\locked.dat\", error 32: " +
                               test::SystemMessage(ERROR_SHARING_VIOLATION);
  const std::vector<std::string> shown = Lines(windows, "status: ", false);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], "progress: Updating game files");
  EXPECT_EQ(shown[1], "box: " + test::WindowWatcher::Escaped(test::Utf8(message)));
  EXPECT_EQ(shown.size(), 4u);
  // Before the box, each pause named the held file and the attempt to come, the bar at the one
  // file done.
  const auto box = std::find(windows.begin(), windows.end(), shown[1]);
  const std::vector<std::string> retries =
      Lines(std::vector<std::string>(windows.begin(), box), "status: [1/2] Could not", true);
  std::vector<std::string> expected;
  for (int next = 2; next <= 5; ++next) {
    expected.push_back(HeldFileStatus(L"data\\locked.dat", next, 1, 2));
  }
  EXPECT_EQ(retries, expected);

  const std::vector<LauncherStart> starts = LauncherStarts(launcher_);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine,
            "\"" + test::Utf8(launcher_) + "\" \"-restart\" \"0x80070020\" \"data\\locked.dat\"");
  EXPECT_EQ(starts[0].result, "0x80070020");
  EXPECT_EQ(starts[0].fileName, "data\\locked.dat");
}

TEST_F(Rundll32RunTest, ABadCommandLineFailsWithoutTouchingFilesOrStartingTheLauncher) {
  PlaceFile(L"a.txt", "old", "new");
  PlaceLauncher(launcher_);
  test::UserRunLog log;
  test::WaitingProcess starter;

  // The count announces four names where one was listed: the launcher's path and its argument
  // are read as names, and no post-patch command is left.
  ASSERT_NO_FATAL_FAILURE(Run(starter, kText, L"4 a.txt" + Restart()));
  const std::vector<std::string> windows = watcher_.Stop();

  ExpectSameLines(log.AddedWithoutStamps(),
                  ExpectedLog({L"-text", L"Updating game files"}, starter.Id(),
                              {L"4", L"a.txt", launcher_, L"-restart"},
                              "There are 4 files to patch\r\n"
                              "File: \"a.txt\"\r\n"
                              "File: \"" +
                                  test::Utf8(launcher_) + "\"\r\n" + "File: \"-restart\"\r\n" +
                                  "Only 3 filenames were specified\r\n" + kFailedBanner));
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\a.txt"), "old");
  EXPECT_EQ(test::ReadFileBytes(patch_ + L"\\a.txt"), "new");
  EXPECT_TRUE(LauncherStarts(launcher_).empty());
  EXPECT_TRUE(windows.empty()) << "a run that cannot read its arguments opens no window";
}

TEST_F(Rundll32RunTest, ALauncherAlreadyRunningFromThatPathIsNotStartedTwice) {
  PlaceFile(L"a.txt", "old", "new");
  PlaceLauncher(launcher_);
  // The player has started the launcher again while the patch was pending.
  test::NamedEvent running(L"launcher_running");
  test::NamedEvent letGo(L"launcher_let_go");
  _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + running.Name()).c_str());
  test::HelperProcess runningLauncher;
  ASSERT_TRUE(runningLauncher.Start(launcher_, L"--stay " + letGo.Name()));
  ASSERT_TRUE(running.WaitFor(kPatience));
  _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + launcherStarted_.Name()).c_str());
  test::UserRunLog log;
  test::WaitingProcess starter;

  ASSERT_NO_FATAL_FAILURE(Run(starter, L"", L"1 a.txt" + Restart()));
  const bool startedAgain = launcherStarted_.WaitFor(0);
  letGo.Set();
  EXPECT_TRUE(runningLauncher.WaitForExit(kPatience));

  ExpectSameLines(log.AddedWithoutStamps(),
                  ExpectedLog({}, starter.Id(), {L"1", L"a.txt", launcher_, L"-restart"},
                              "There are 1 files to patch\r\n"
                              "File: \"a.txt\"\r\n"
                              "Post Patch Command: <" +
                                  test::Utf8(launcher_) + " \"-restart\">\r\n" +
                                  "Waiting for the parent process to end\r\n" +
                                  PatchLines(L"a.txt") + "All Quorvel patches successful\r\n" +
                                  "A launcher is already running\r\n" + kCompleteBanner));
  EXPECT_FALSE(startedAgain);
  const std::vector<LauncherStart> starts = LauncherStarts(launcher_);
  ASSERT_EQ(starts.size(), 1u) << "the launcher was started a second time";
  EXPECT_EQ(starts[0].pid, runningLauncher.Id());
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\a.txt"), "new");
}

TEST_F(Rundll32RunTest, ALauncherMissingFromTheGameFolderIsFetchedFromTheBackupFolder) {
  PlaceFile(L"a.txt", "old", "new");
  const std::wstring kept = backup_ + L"\\DastryLauncher.exe";
  PlaceLauncher(kept);
  // The launcher that started the run has ended, so its executable cannot be read from it.
  test::WaitingProcess starter;
  ASSERT_TRUE(starter.Finish());
  test::UserRunLog log;

  StartRun(Arguments(L"", starter.Id(), L"1 a.txt" + Restart()));
  FinishRun();
  ExpectLauncherRestarted();

  const std::string launcher = test::Utf8(launcher_);
  const std::string notFound = "<" + launcher + "> not found! Looking for DastryLauncher.exe in <";
  ExpectSameLines(
      log.AddedWithoutStamps(),
      ExpectedLog({}, starter.Id(), {L"1", L"a.txt", launcher_, L"-restart"},
                  "There are 1 files to patch\r\n"
                  "File: \"a.txt\"\r\n"
                  "Could not find post patch command: " +
                      launcher + "\r\n" + "Post Patch Command: < \"" + launcher +
                      "\" \"-restart\">\r\n" + "Waiting for the parent process to end\r\n" +
                      PatchLines(L"a.txt") + "All Quorvel patches successful\r\n" + notFound +
                      test::Utf8(patch_) + ">\r\n" + notFound + test::Utf8(backup_) + ">\r\n" +
                      "Found <" + test::Utf8(kept) + "> copying it to <" + launcher + ">\r\n" +
                      "Executing post patch command: " + launcher + " \"" + launcher +
                      "\" \"-restart\"\r\n" + kCompleteBanner));

  EXPECT_TRUE(test::PathExists(kept)) << "the backup's launcher is copied, not moved";
  const std::vector<LauncherStart> starts = LauncherStarts(launcher_);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine, "\"" + launcher + "\" \"" + launcher + "\" \"-restart\"");
  EXPECT_EQ(starts[0].result, "0x00000000");
}

TEST_F(Rundll32RunTest, TheProgressWindowCountsTheFilesNamesAHeldOneAndIsGoneAfterTheRun) {
  PlaceFile(L"a.txt", "old a", "new a");
  PlaceFile(L"b.txt", "old b", "new b");
  PlaceLauncher(launcher_);
  // The game holds both files, each until the window has told the player about it.
  test::FileLock lockA(game_ + L"\\a.txt");
  test::FileLock lockB(game_ + L"\\b.txt");
  ASSERT_TRUE(lockA.Held() && lockB.Held());
  test::UserRunLog log;
  test::WaitingProcess starter;
  auto shown = [&](const std::string& line) {
    return test::Eventually(
        [&] {
          const std::vector<std::string> lines = watcher_.Lines();
          return std::find(lines.begin(), lines.end(), line) != lines.end();
        },
        kPatience);
  };

  StartRun(Arguments(kText, starter.Id(), L"2 a.txt b.txt" + Restart()));
  ASSERT_TRUE(starter.Finish());
  ASSERT_TRUE(shown(HeldFileStatus(L"a.txt", 2, 0, 2))) << testing::PrintToString(watcher_.Lines());
  lockA.Release();
  ASSERT_TRUE(shown(HeldFileStatus(L"b.txt", 3, 1, 2))) << testing::PrintToString(watcher_.Lines());
  lockB.Release();
  FinishRun();
  ExpectLauncherRestarted();
  const std::vector<std::string> windows = watcher_.Stop();

  // The launcher's text stays as it was given; the status lines come and go below it.
  EXPECT_EQ(Lines(windows, "status: ", false),
            (std::vector<std::string>{"progress: Updating game files", "gone: progress"}));
  EXPECT_EQ(FindWindowW(nullptr, L"Quorvel"), nullptr);
  // The run closed the window itself before it returned: the dialog ended with result 0.
  std::string printed;
  for (char c : test::ReadFileBytes(RunOutputFile())) {
    if (c != '\r') {
      printed += c;
    }
  }
  EXPECT_NE(printed.find("WM_INITDIALOG\n"), std::string::npos) << printed;
  const size_t closed = printed.find("WM_CLOSE\n");
  const size_t result = printed.rfind("result: 0\n");
  EXPECT_TRUE(closed != std::string::npos && result != std::string::npos && closed < result &&
              result + 10 == printed.size())
      << printed;
  const std::string added = log.AddedWithoutStamps();
  EXPECT_TRUE(test::EndsWith(added, kCompleteBanner)) << added;
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\a.txt"), "new a");
  EXPECT_EQ(test::ReadFileBytes(game_ + L"\\b.txt"), "new b");
}

}  // namespace
}  // namespace quorvel
