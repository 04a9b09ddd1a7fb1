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

// A game whose data file the game still holds, patched with -text under the watcher (with its
// own options) by a run that a launcher starts and then ends, as launchers do.
class WindowedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_SKIP_WITHOUT_DISPLAY();
    for (const wchar_t* name : {L"bin\\client.dll", L"data\\locked.dat"}) {
      WriteFileBytes(dir_ / (L"Game\\" + std::wstring(name)), "old");
      WriteFileBytes(dir_ / (L"Patch\\" + std::wstring(name)), "new");
    }
    ASSERT_TRUE(
        CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(), launcher_.c_str(), TRUE));
    lock_.emplace(dir_ / L"Game\\data\\locked.dat");
    // Inherited through rundll32 by the launcher it restarts, which sets the event.
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started_.Name()).c_str());
  }
  void Start(const std::wstring& watching, const std::wstring& files) {
    ASSERT_TRUE(watcher_.Start(L"window_watcher.exe", Quoted(dir_ / L"windows.txt") + L" --stop " +
                                                          stop_.Name() + watching));
    // The run's current folder is on the game's drive, as a launcher's is, and above the test's
    // folder: Wine lets go of an ended process's current folder only a moment after its end.
    ASSERT_TRUE(run_.Start(L"rundll32.exe",
                           Quoted(ProgramFolder() + L"\\Quorvel.dll") +
                               L",Quorvel -text \"Updating game files\" " +
                               std::to_wstring(starter_.Id()) + L" " + Quoted(dir_ / L"Patch") +
                               L" " + Quoted(dir_ / L"Game") + L" " + Quoted(dir_ / L"Backup") +
                               L" " + files + L" " + Quoted(launcher_),
                           dir_.Path().substr(0, dir_.Path().rfind(L'\\'))));
    ASSERT_TRUE(Eventually([&] { return Has(log_.Added(), "Waiting for the parent"); }));
    ASSERT_TRUE(starter_.Finish());
  }
  // Waits for the run and the restarted launcher; the watcher's record.
  std::string Finish() {
    EXPECT_TRUE(run_.WaitForExit(60000)) << "the run did not end";
    EXPECT_TRUE(started_.WaitFor(60000)) << "the launcher was not restarted";
    _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
    lock_->Release();
    stop_.Set();
    watcher_.WaitForExit();
    WaitForRecordedLauncher(launcher_.substr(0, launcher_.size() - 3) + L"record.txt");
    return ReadFileBytes(dir_ / L"windows.txt");
  }
  std::string Windows() const { return ReadFileBytes(dir_ / L"windows.txt"); }

  ScopedTempDir dir_;
  NamedEvent stop_{L"watcher_stop"}, started_{L"launcher_started"};
  HelperProcess watcher_, run_;
  const std::wstring launcher_ = dir_ / L"Game\\DastryLauncher.exe";
  std::optional<FileLock> lock_;
  WaitingProcess starter_;
  UserRunLog log_;
  const std::wstring question_ =
      L"box: Could not replace \"data\\locked.dat\": " + SystemReason(ERROR_SHARING_VIOLATION) +
      L" Another program is using the file: close that program first.\n\n"
      L"Retry tries the file again. Cancel puts back the previous files "
      L"and ends the update.";
};

// Every attempt fails on the held file (five, two seconds apart); the player is asked, answers
// Cancel, and the run is reverted.
TEST_F(WindowedRunTest, AFailedPatchAsksThePlayerIsRevertedOnCancelShownInABoxAndRestarts) {
  std::wstring watching;
  wchar_t shots[MAX_PATH + 1] = {};  // where scripts/screenshots.sh wants pictures of them
  if (GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", shots, MAX_PATH) != 0) {
    watching += L" --screenshots " + Quoted(shots);
  }
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
  shown.push_back(Escaped(question_));
  shown.push_back("answer: Cancel");
  shown.push_back("box: " + Escaped(L"Could not patch file \"data\\locked.dat\", error 32: " +
                                    SystemMessage(ERROR_SHARING_VIOLATION)));
  Start(watching, L"2 bin\\client.dll data\\locked.dat");
  const std::string windows = Finish();
  // Each pause named the held file and the attempt to come, with the bar past the file done,
  // below the launcher's text as given; then the question, then the box named the file and the
  // reason.
  size_t at = 0;
  for (const std::string& line : shown) {
    at = windows.find(line + "\n", at);
    ASSERT_NE(at, std::string::npos) << line << "\nnot in order in\n" << windows;
  }
  EXPECT_EQ(Count(windows, "] Could not replace") + Count(windows, "box: "), 6u) << windows;
  EXPECT_PRED2(Has, log_.Added(), "The player answered Cancel\r\nCould not patch file");
  EXPECT_EQ(Contents({dir_ / L"Game\\bin\\client.dll", dir_ / L"Game\\data\\locked.dat"}),
            "old|old|");
}

// The game lets go of the file once the question is up; Retry starts the file's attempts again
// and the patch completes.
TEST_F(WindowedRunTest, AHeldFileReleasedWhileThePlayerIsAskedIsPatchedOnRetry) {
  const NamedEvent retry(L"watcher_retry");
  Start(L" --retry " + retry.Name(), L"2 bin\\client.dll data\\locked.dat");
  ASSERT_TRUE(Eventually([&] { return Has(Windows(), Escaped(question_)); })) << Windows();
  lock_->Release();
  retry.Set();
  const std::string windows = Finish();
  EXPECT_EQ(Count(windows, "box: "), 1u) << windows;
  EXPECT_PRED2(Has, log_.Added(),
               "Asking the player whether to try \"data\\locked.dat\" again, HResult "
               "0x80070020\r\nThe player answered Retry\r\n");
  EXPECT_PRED2(Has, ReadFileBytes(dir_ / L"Game\\DastryLauncher.record.txt"),
               "QUORVEL_RESULT=0x00000000\r\n");
  EXPECT_EQ(Contents({dir_ / L"Game\\bin\\client.dll", dir_ / L"Game\\data\\locked.dat"}),
            "new|new|");
}

// A run of 1,000 files killed part way; the same command again puts back what the killed run
// had done, the bar counting the files down, and then completes the patch.
TEST(Rundll32RunTest, ARunKilledPartWayIsRestoredWithTheBarMovingThenFinishedByTheSameCommand) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  constexpr int kFiles = 1000;
  ScopedTempDir dir;
  const std::wstring game = dir / L"Game";
  HelperProcess ended;  // its id names a launcher that has already exited
  ASSERT_TRUE(ended.Start(L"cut_short_run.exe", L""));
  ASSERT_TRUE(ended.WaitForExit(60000));
  std::wstring command = Quoted(ProgramFolder() + L"\\Quorvel.dll") + L",Quorvel -text Updating " +
                         std::to_wstring(ended.Id()) + L" " + Quoted(game + L"\\Patch") + L" " +
                         Quoted(game) + L" " + Quoted(game + L"\\Backup") + L" " +
                         std::to_wstring(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring name = L"f\\" + std::to_wstring(1000 + i) + L".dat";
    WriteFileBytes(game + L"\\" + name, "old " + std::to_string(i));
    WriteFileBytes(game + L"\\Patch\\" + name, "new " + std::to_string(i));
    WriteFileBytes(dir / L"Expected\\" + name, "new " + std::to_string(i));
    WriteFileBytes(dir / L"Expected\\Backup\\" + name, "old " + std::to_string(i));
    command += L" " + name;
  }
  CreateDirectoryW((dir / L"Expected\\Patch").c_str(), nullptr);
  // The command to start afterwards: the helper exits at once without arguments.
  command += L" " + Quoted(ProgramFolder() + L"\\cut_short_run.exe");

  HelperProcess run, watcher, again;
  ASSERT_TRUE(run.Start(L"rundll32.exe", command));
  // Files are backed up in the order listed; most of them are put back.
  ASSERT_TRUE(Eventually([&] { return PathExists(game + L"\\Backup\\f\\1700.dat"); }));
  ASSERT_FALSE(run.WaitForExit(0)) << "the run ended before it could be cut short";
  TerminateProcess(run.Handle(), 1);
  ASSERT_TRUE(run.WaitForExit(60000));
  ASSERT_NE(TreeFingerprint(game, L"Quorvel.journal"), TreeFingerprint(dir / L"Expected"));

  const NamedEvent stop(L"watcher_stop");
  ASSERT_TRUE(watcher.Start(L"window_watcher.exe",
                            Quoted(dir / L"windows.txt") + L" --stop " + stop.Name()));
  ASSERT_TRUE(again.Start(L"rundll32.exe", command));
  ASSERT_TRUE(again.WaitForExit(60000));
  stop.Set();
  watcher.WaitForExit();
  EXPECT_EQ(TreeFingerprint(game, L"Quorvel.journal"), TreeFingerprint(dir / L"Expected"));
  // The bar stood at several places while the files were put back, each lower than the one
  // before.
  const std::string windows = ReadFileBytes(dir / L"windows.txt");
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
