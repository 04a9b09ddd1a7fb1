// Quorvel.dll run the way launchers run it: rundll32.exe Quorvel.dll,Quorvel <arguments> in a
// process of its own, on a real display (scripts/test.sh runs these under Xvfb), ending with a
// copy of the sample launcher restarted. The window watcher (tools/window_watcher.exe) records
// each window as a line ("progress: <text>", "status: ...", "box: <text>") and answers every box.
#include "support/test_support.h"

namespace quorvel::test {
namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// As the watcher records a text: backslashes, carriage returns and line feeds escaped.
std::string Escaped(const std::wstring& text) {
  std::string line;
  for (char c : Utf8(text)) {
    line += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  }
  return line;
}

// The launcher that starts the run waits until the run waits for it; the game still holds its
// data file, so every attempt fails on it (five, two seconds apart) and the run is reverted.
TEST(Rundll32RunTest, AFailedPatchIsRevertedShownInABoxAndStillRestartsTheLauncher) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  ScopedTempDir dir;
  NamedEvent stop(L"watcher_stop"), started(L"launcher_started");
  std::wstring watching = Quoted(dir / L"windows.txt") + L" --stop " + stop.Name();
  wchar_t shots[MAX_PATH + 1] = {};  // where scripts/screenshots.sh wants pictures of them
  if (GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", shots, MAX_PATH) != 0) {
    watching += L" --screenshots " + Quoted(shots);
  }
  HelperProcess watcher, run;
  ASSERT_TRUE(watcher.Start(L"window_watcher.exe", watching));
  const std::wstring launcher = dir / L"Game\\DastryLauncher.exe";
  for (const wchar_t* name : {L"bin\\client.dll", L"data\\locked.dat"}) {
    WriteFileBytes(dir / (L"Game\\" + std::wstring(name)), "old");
    WriteFileBytes(dir / (L"Patch\\" + std::wstring(name)), "new");
  }
  ASSERT_TRUE(
      CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(), launcher.c_str(), TRUE));
  // Inherited through rundll32 by the launcher it restarts, which sets the event.
  _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started.Name()).c_str());
  FileLock lock(dir / L"Game\\data\\locked.dat");
  // The status line while the held file waits for attempt next, the bar past the file done.
  std::vector<std::string> shown = {"progress: Updating game files"};
  for (int next = 2; next <= 5; ++next) {
    shown.push_back("status: [1/2] " +
                    Escaped(L"Could not replace \"data\\locked.dat\": " +
                            SystemReason(ERROR_SHARING_VIOLATION) +
                            L" Another program is using the file; closing that program lets the "
                            L"update go on. Trying again: attempt " +
                            std::to_wstring(next) + L" of 5."));
  }
  shown.push_back("box: " + Escaped(L"Could not patch file \"data\\locked.dat\", error 32: " +
                                    SystemMessage(ERROR_SHARING_VIOLATION)));
  WaitingProcess starter;
  UserRunLog log;
  // The run's current folder is on the game's drive, as a launcher's is, and above the test's
  // folder: Wine lets go of an ended process's current folder only a moment after its end.
  ASSERT_TRUE(run.Start(L"rundll32.exe",
                        Quoted(ProgramFolder() + L"\\Quorvel.dll") +
                            L",Quorvel -text \"Updating game files\" " +
                            std::to_wstring(starter.Id()) + L" " + Quoted(dir / L"Patch") + L" " +
                            Quoted(dir / L"Game") + L" " + Quoted(dir / L"Backup") +
                            L" 2 bin\\client.dll data\\locked.dat " + Quoted(launcher),
                        dir.Path().substr(0, dir.Path().rfind(L'\\'))));
  ASSERT_TRUE(Eventually([&] { return Has(log.Added(), "Waiting for the parent"); }));
  ASSERT_TRUE(starter.Finish());
  EXPECT_TRUE(run.WaitForExit(60000)) << "the run did not end";
  EXPECT_TRUE(started.WaitFor(60000)) << "the launcher was not restarted";
  _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
  lock.Release();
  stop.Set();
  watcher.WaitForExit();
  WaitForRecordedLauncher(dir / L"Game\\DastryLauncher.record.txt");

  // Each pause named the held file and the attempt to come, with the bar past the file done,
  // below the launcher's text as given; then the box named the file and the reason.
  const std::string windows = ReadFileBytes(dir / L"windows.txt");
  size_t at = 0;
  for (const std::string& line : shown) {
    at = windows.find(line + "\n", at);
    ASSERT_NE(at, std::string::npos) << line << "\nnot in order in\n" << windows;
  }
  EXPECT_EQ(Count(windows, "] Could not replace") + Count(windows, "box: "), 5u) << windows;
}

}  // namespace
}  // namespace quorvel::test
