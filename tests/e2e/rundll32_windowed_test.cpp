// Quorvel.dll run the way launchers run it: rundll32.exe Quorvel.dll,Quorvel <arguments> in a
// process of its own, on a real display (scripts/test.sh runs these under Xvfb), ending with a
// copy of the sample launcher restarted. The window watcher (tools/window_watcher.exe) records
// each window as a line ("progress: <text>", "status: ...", "box: <text>") and answers every box.
#include <algorithm>
#include <optional>

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

// A game patched with -text under the watcher (with its own options) by a run that a launcher
// starts and then ends, as launchers do; the launcher restarted is a copy of the sample launcher
// beside the game.
class WindowedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_SKIP_WITHOUT_DISPLAY();
    ASSERT_TRUE(
        CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(), launcher_.c_str(), TRUE));
    // Inherited through rundll32 by the launcher it restarts, which sets the event.
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started_.Name()).c_str());
  }
  // Lays each name with an old file in the game folder and a new one in the patch folder.
  void Lay(const std::wstring& name, const std::string& old, const std::string& fresh) {
    WriteFileBytes(dir_ / (L"Game\\" + name), old);
    WriteFileBytes(dir_ / (L"Patch\\" + name), fresh);
    files_ += L" " + name;
  }
  // The game still holds its data file.
  void LayHeldGame() {
    Lay(L"bin\\client.dll", "old", "new"), Lay(L"data\\locked.dat", "old", "new");
    lock_.emplace(dir_ / L"Game\\data\\locked.dat");
  }
  // Starts the watcher and the run of the laid files, and ends the launcher.
  void Start(std::wstring watching) {
    wchar_t shots[MAX_PATH + 1] = {};  // where scripts/screenshots.sh wants pictures of them
    if (GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", shots, MAX_PATH) != 0) {
      watching += L" --screenshots " + Quoted(shots);
    }
    ASSERT_TRUE(watcher_.Start(L"window_watcher.exe", Quoted(dir_ / L"windows.txt") + L" --stop " +
                                                          stop_.Name() + watching));
    ASSERT_TRUE(StartRun());
    ASSERT_TRUE(Eventually([&] { return Has(log_.Added(), "Waiting for the parent"); }));
    ASSERT_TRUE(starter_.Finish());
  }
  // The run's current folder is on the game's drive, as a launcher's is, and above the test's
  // folder: Wine lets go of an ended process's current folder only a moment after its end.
  bool StartRun() {
    return run_.Start(L"rundll32.exe",
                      Quoted(ProgramFolder() + L"\\Quorvel.dll") +
                          L",Quorvel -text \"Updating game files\" " +
                          std::to_wstring(starter_.Id()) + L" " + Quoted(dir_ / L"Patch") + L" " +
                          Quoted(dir_ / L"Game") + L" " + Quoted(dir_ / L"Backup") + L" " +
                          std::to_wstring(std::count(files_.begin(), files_.end(), L' ')) + files_ +
                          L" " + Quoted(launcher_),
                      dir_.Path().substr(0, dir_.Path().rfind(L'\\')));
  }
  // Waits for the run and the restarted launcher; the watcher's record.
  std::string Finish() {
    EXPECT_TRUE(run_.WaitForExit(60000)) << "the run did not end";
    EXPECT_TRUE(started_.WaitFor(60000)) << "the launcher was not restarted";
    _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
    lock_.reset();
    stop_.Set();
    watcher_.WaitForExit();
    WaitForRecordedLauncher(dir_ / L"DastryLauncher.record.txt");
    return Windows();
  }
  std::string Windows() const { return ReadFileBytes(dir_ / L"windows.txt"); }
  std::string Game() const {
    return Contents({dir_ / L"Game\\bin\\client.dll", dir_ / L"Game\\data\\locked.dat"});
  }

  ScopedTempDir dir_;
  NamedEvent stop_{L"watcher_stop"}, started_{L"launcher_started"};
  HelperProcess watcher_, run_;
  const std::wstring launcher_ = dir_ / L"DastryLauncher.exe";
  std::wstring files_;
  std::optional<FileLock> lock_;
  WaitingProcess starter_;
  UserRunLog log_;
  const std::wstring question_ =
      L"box: Could not replace \"data\\locked.dat\": " + SystemReason(ERROR_SHARING_VIOLATION) +
      L" Another program is using the file: close that program first.\n\nRetry tries the file "
      L"again. Cancel puts back the previous files and ends the update.";
};

// Every attempt fails on the held file (five, two seconds apart); the player is asked, answers
// Cancel, and the run is reverted.
TEST_F(WindowedRunTest, AFailedPatchAsksThePlayerIsRevertedOnCancelShownInABoxAndRestarts) {
  // The status line while the held file waits for its last attempt, the bar past the file done;
  // the question; the box.
  const std::vector<std::string> shown = {
      "progress: Updating game files",
      "status: [1/2] " + Escaped(L"Could not replace \"data\\locked.dat\": " +
                                 SystemReason(ERROR_SHARING_VIOLATION) +
                                 L" Another program is using the file; closing that program lets "
                                 L"the update go on. Trying again: attempt 5 of 5."),
      Escaped(question_), "answer: Cancel",
      "box: " + Escaped(L"Could not patch file \"data\\locked.dat\", error 32: " +
                        SystemMessage(ERROR_SHARING_VIOLATION))};
  LayHeldGame();
  Start(L"");
  const std::string windows = Finish();
  // Each of the four pauses named the held file and the attempt to come.
  size_t at = 0;
  for (const std::string& line : shown) {
    at = windows.find(line + "\n", at);
    ASSERT_NE(at, std::string::npos) << line << "\nnot in order in\n" << windows;
  }
  EXPECT_EQ(Count(windows, "] Could not replace") + Count(windows, "box: "), 6u) << windows;
  EXPECT_PRED2(Has, log_.Added(), "The player answered Cancel\r\nCould not patch file");
  EXPECT_EQ(Game(), "old|old|");
}

// The game lets go of the file once the question is up; Retry starts the file's attempts again
// and the patch completes.
TEST_F(WindowedRunTest, AHeldFileReleasedWhileThePlayerIsAskedIsPatchedOnRetry) {
  const NamedEvent retry(L"watcher_retry");
  LayHeldGame();
  Start(L" --retry " + retry.Name());
  ASSERT_TRUE(Eventually([&] { return Has(Windows(), Escaped(question_)); })) << Windows();
  lock_.reset();
  retry.Set();
  EXPECT_EQ(Count(Finish(), "box: "), 1u) << Windows();
  EXPECT_PRED2(Has, log_.Added(),
               "Asking the player whether to try \"data\\locked.dat\" again, HResult "
               "0x80070020\r\nThe player answered Retry\r\n");
  EXPECT_PRED2(Has, ReadFileBytes(dir_ / L"DastryLauncher.record.txt"), "RESULT=0x00000000\r\n");
  EXPECT_EQ(Game(), "new|new|");
}

// A run of 1,000 files killed part way; the same command again puts back what the killed run
// had done, the bar counting the files down, and then completes the patch.
TEST_F(WindowedRunTest, ARunKilledPartWayIsRestoredWithTheBarMovingThenFinishedByTheSameCommand) {
  for (int i = 0; i < 1000; ++i) {
    const std::wstring name = L"f\\" + std::to_wstring(1000 + i) + L".dat";
    Lay(name, "old " + std::to_string(i), "new " + std::to_string(i));
    WriteFileBytes(dir_ / (L"Expected\\Game\\" + name), "new " + std::to_string(i));
    WriteFileBytes(dir_ / (L"Expected\\Backup\\" + name), "old " + std::to_string(i));
  }
  CreateDirectoryW((dir_ / L"Expected\\Patch").c_str(), nullptr);
  const auto trees = [&](const std::wstring& root) {
    return TreeFingerprint(root + L"Game", L"Quorvel.journal") + TreeFingerprint(root + L"Backup") +
           TreeFingerprint(root + L"Patch");
  };
  Start(L"");
  // Files are backed up in the order listed; most of them are put back.
  ASSERT_TRUE(Eventually([&] { return PathExists(dir_ / L"Backup\\f\\1700.dat"); }));
  ASSERT_FALSE(run_.WaitForExit(0)) << "the run ended before it could be cut short";
  TerminateProcess(run_.Handle(), 1);
  ASSERT_TRUE(run_.WaitForExit(60000) && StartRun());
  const std::string windows = Finish();
  EXPECT_EQ(trees(dir_ / L""), trees(dir_ / L"Expected\\"));
  // The bar stood at several places while the files were put back, each lower than the one
  // before.
  const std::string restoring = "] Restoring the game files after an interrupted update: \"f\\\\";
  std::vector<int> positions;
  for (size_t at = windows.find(restoring); at != std::string::npos;
       at = windows.find(restoring, at + 1)) {
    positions.push_back(std::stoi(windows.substr(windows.rfind('[', at) + 1)));
  }
  EXPECT_GE(positions.size(), 2u) << windows;
  EXPECT_TRUE(std::is_sorted(positions.rbegin(), positions.rend())) << windows;
}

}  // namespace
}  // namespace quorvel::test
