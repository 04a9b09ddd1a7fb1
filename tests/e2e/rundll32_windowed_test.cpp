// Quorvel.dll run the way launchers run it: rundll32.exe Quorvel.dll,Quorvel <arguments> in a
// process of its own, on a real display (scripts/test.sh runs these under Xvfb), ending with a
// copy of the sample launcher restarted. The window watcher (tools/window_watcher.exe) records
// each window as a line ("progress: <text>", "box: <text>", "gone: ...") and answers every box.
#include <cstdio>
#include <string>

#include "support/test_support.h"

namespace quorvel {
namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The launcher that starts the run waits until the run waits for it; the game still holds its
// data file, so every attempt fails on it (five, two seconds apart) and the run is reverted.
TEST(Rundll32RunTest, AFailedPatchIsRevertedShownInABoxAndStillRestartsTheLauncher) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  test::ScopedTempDir dir;
  test::NamedEvent stop(L"watcher_stop"), started(L"launcher_started");
  std::wstring watching = Quoted(dir / L"windows.txt") + L" --stop " + stop.Name();
  wchar_t shots[MAX_PATH + 1] = {};  // where scripts/screenshots.sh wants pictures of them
  if (GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", shots, MAX_PATH) != 0) {
    CreateDirectoryW(shots, nullptr);
    const std::wstring folder =
        shots + std::wstring(L"\\AFailedPatchIsRevertedShownInABoxAndStillRestartsTheLauncher");
    CreateDirectoryW(folder.c_str(), nullptr);
    watching += L" --screenshots " + Quoted(folder);
  }
  test::HelperProcess watcher, run;
  ASSERT_TRUE(watcher.Start(L"window_watcher.exe", watching));
  const std::wstring launcher = dir / L"Game\\DastryLauncher.exe";
  for (const wchar_t* name : {L"bin\\client.dll", L"data\\locked.dat"}) {
    test::WriteFileBytes(dir / (L"Game\\" + std::wstring(name)), "old");
    test::WriteFileBytes(dir / (L"Patch\\" + std::wstring(name)), "new");
  }
  CreateDirectoryW((dir / L"Backup").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW((test::ProgramFolder() + L"\\sample_launcher.exe").c_str(),
                        launcher.c_str(), TRUE));
  // Inherited through rundll32 by the launcher it restarts, which sets the event.
  _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started.Name()).c_str());
  test::FileLock lock(dir / L"Game\\data\\locked.dat");
  test::FileLock clientLock(dir / L"Game\\bin\\client.dll");
  // As the watcher records a text: backslashes, carriage returns and line feeds escaped.
  const auto escaped = [](const std::wstring& text) {
    std::string line;
    for (char c : test::Utf8(text)) {
      line += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return line;
  };
  // The status line while a held file waits for attempt next, the bar at done of 2 files.
  std::wstring reason = test::SystemMessage(ERROR_SHARING_VIOLATION);
  reason.erase(reason.find_last_not_of(L"\r\n ") + 1);
  const auto RetryLine = [&](int done, const std::wstring& name, int next) {
    return "status: [" + std::to_string(done) + "/2] " +
           escaped(L"Could not replace \"" + name + L"\": " + reason +
                   L" Another program is using the file; closing that program lets the update "
                   L"go on. Trying again: attempt " + std::to_wstring(next) + L" of 5.");
  };
  const std::string firstRetry = RetryLine(0, L"bin\\client.dll", 2);
  test::WaitingProcess starter;
  test::UserRunLog log;
  // The run's current folder is on the game's drive, as a launcher's is, and above the test's
  // folder: Wine lets go of an ended process's current folder only a moment after its end.
  ASSERT_TRUE(run.Start(test::Rundll32Path(),
                        Quoted(test::ProgramFolder() + L"\\Quorvel.dll") +
                            L",Quorvel -text \"Updating game files\" " +
                            std::to_wstring(starter.Id()) + L" " + Quoted(dir / L"Patch") + L" " +
                            Quoted(dir / L"Game") + L" " + Quoted(dir / L"Backup") +
                            L" 2 bin\\client.dll data\\locked.dat " + Quoted(launcher) +
                            L" -restart %QUORVEL_RESULT% %QUORVEL_FILENAME%",
                        dir.Path().substr(0, dir.Path().rfind(L'\\'))));
  ASSERT_TRUE(test::Eventually([&] { return test::Has(log.Added(), "Waiting for the parent"); }));
  EXPECT_FALSE(test::Has(log.Added(), "Backing up")) << "patched while the launcher ran";
  ASSERT_TRUE(starter.Finish());
  // The first file is held too, until the window has named it; then the bar moves on.
  ASSERT_TRUE(test::Eventually(
      [&] { return test::Has(test::ReadFileBytes(dir / L"windows.txt"), firstRetry); }));
  clientLock.Release();
  FILETIME created, exited, kernel, user;
  GetProcessTimes(starter.Handle(), &created, &exited, &kernel, &user);
  EXPECT_TRUE(run.WaitForExit(60000)) << "the run did not end";
  EXPECT_TRUE(started.WaitFor(60000)) << "the launcher was not restarted";
  _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
  lock.Release();
  stop.Set();
  watcher.WaitForExit();
  // The restarted launcher holds the test's folder: it ends first.
  const std::string record = test::ReadFileBytes(dir / L"Game\\DastryLauncher.record.txt");
  const HANDLE restarted =
      OpenProcess(SYNCHRONIZE, FALSE, std::stoul("0" + record.substr(record.find("pid: ") + 5)));
  WaitForSingleObject(restarted, 60000);
  CloseHandle(restarted);

  const std::string box = "box: " + escaped(L"Could not patch file \"data\\locked.dat\", error 32: " +
                                            test::SystemMessage(ERROR_SHARING_VIOLATION));
  // Before the box, each pause named the held file and the attempt to come, with the bar at the
  // files done; the launcher's text stays as given.
  std::string expected = "progress: Updating game files\n" + firstRetry + "\n";
  for (int next = 3; next <= 5; ++next) {
    expected += RetryLine(1, L"data\\locked.dat", next) + "\n";
  }
  const std::string windows = test::ReadFileBytes(dir / L"windows.txt");
  std::string shown;  // the windows and, before the box, the retry lines of the status
  size_t others = 0;
  for (size_t at = 0, end; (end = windows.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = windows.substr(at, end + 1 - at);
    const bool retry = line.rfind("status: [", 0) == 0 && test::Has(line, "] Could not");
    others += line.rfind("status: ", 0) != 0;
    if (retry ? shown.find("box: ") == std::string::npos : line.rfind("status: ", 0) != 0) {
      shown += line;
    }
  }
  EXPECT_EQ(shown.find(expected + box + "\n"), 0u) << windows;
  EXPECT_EQ(others, 4u) << windows;
  EXPECT_EQ(test::Contents({dir / L"Game\\bin\\client.dll", dir / L"Game\\data\\locked.dat",
                            dir / L"Patch\\bin\\client.dll", dir / L"Patch\\data\\locked.dat",
                            dir / L"Backup\\bin\\client.dll"}),
            "old|old|new|new|-|");
  EXPECT_TRUE(test::Has(record, "command line: \"" + test::Utf8(launcher) +
                                    "\" \"-restart\" \"0x80070020\" \"data\\locked.dat\"\r\n"))
      << record;
  EXPECT_TRUE(
      test::Has(record, "QUORVEL_RESULT=0x80070020\r\nQUORVEL_FILENAME=data\\locked.dat\r\n"));
  // The launcher records its start in this form: it came after the starter's end.
  SYSTEMTIME at;
  FileTimeToSystemTime(&exited, &at);
  char ended[64];
  snprintf(ended, sizeof(ended), "started: %04u-%02u-%02u %02u:%02u:%02u.%07llu UTC", at.wYear,
           at.wMonth, at.wDay, at.wHour, at.wMinute, at.wSecond,
           ((static_cast<unsigned long long>(exited.dwHighDateTime) << 32) | exited.dwLowDateTime) %
               10000000ull);
  EXPECT_LE(std::string(ended), record.substr(record.find("started: "), strlen(ended))) << record;
  EXPECT_TRUE(test::EndsWith(log.Added(), "\r\n======= Quorvel Failed <stamp> ============\r\n"))
      << log.Added();
}

}  // namespace
}  // namespace quorvel
