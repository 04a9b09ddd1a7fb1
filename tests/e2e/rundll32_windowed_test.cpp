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

// A game patched with -text under the watcher by a run that a launcher starts and then ends, as
// launchers do; the launcher restarted is a copy of the sample launcher beside the game.
class WatchedRun {
 public:
  WatchedRun() {
    EXPECT_TRUE(
        CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(), launcher_.c_str(), TRUE));
    // Inherited through rundll32 by the launcher it restarts, which sets the event.
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started_.Name()).c_str());
  }
  // Lists name, with an old file in the game folder and a new one in the patch folder.
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
  // Starts the watcher (given options of its own) and the run of the listed files (given options,
  // "<dir>" in them naming the test's folder), and ends the launcher. A locale runs it as a player
  // whose user interface speaks it: Wine takes the language from a process's locale, which only a
  // process started from the host sets.
  void Start(std::wstring watching, std::wstring options = L"", const std::wstring& locale = L"") {
    wchar_t shots[MAX_PATH + 1] = {};  // where scripts/screenshots.sh wants pictures of them
    if (GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", shots, MAX_PATH) != 0) {
      watching += L" --screenshots " + Quoted(shots);
    }
    ASSERT_TRUE(watcher_.Start(L"window_watcher.exe", Quoted(dir_ / L"windows.txt") + L" --stop " +
                                                          stop_.Name() + watching));
    if (options.find(L"<dir>") != std::wstring::npos) {
      options.replace(options.find(L"<dir>"), 5, dir_.Path());
    }
    arguments_ = Quoted(ProgramFolder() + L"\\Quorvel.dll") + L",Quorvel " + options +
                 L" -text \"Updating game files\" " + std::to_wstring(starter_.Id()) + L" " +
                 Quoted(dir_ / L"Patch") + L" " + Quoted(dir_ / L"Game") + L" " +
                 Quoted(dir_ / L"Backup") + L" " +
                 std::to_wstring(std::count(files_.begin(), files_.end(), L' ')) + files_ + L" " +
                 Quoted(launcher_);
    if (!locale.empty()) {
      const wchar_t* loader = _wgetenv(L"WINELOADER");
      arguments_ = L"-u WINELOADERNOEXEC LC_ALL=" + locale + L" " +
                   (loader != nullptr ? loader : L"/usr/lib/wine/wine") + L" rundll32.exe " +
                   arguments_;
      program_ = L"Z:\\usr\\bin\\env";
    }
    ASSERT_TRUE(StartRun());
    ASSERT_TRUE(Eventually([&] { return Has(log_.Added(), "Waiting for the parent"); }));
    ASSERT_TRUE(starter_.Finish());
  }
  // The same command again. The run's current folder is on the game's drive, as a launcher's is,
  // and above the test's folder: Wine lets go of an ended process's current folder only a moment
  // after its end.
  bool StartRun() {
    return run_.Start(program_, arguments_, dir_.Path().substr(0, dir_.Path().rfind(L'\\')));
  }
  // Waits for the run and the restarted launcher; the watcher's record.
  std::string Finish() {
    EXPECT_TRUE(started_.WaitFor(60000)) << "the launcher was not restarted";
    // Wine gives no handle to wait on for a run started from the host: its log's last line tells.
    EXPECT_TRUE(Eventually([&] { return Has(log_.Added(), "======= Quorvel "); }));
    EXPECT_TRUE(run_.WaitForExit(60000) || program_ != L"rundll32.exe") << "the run did not end";
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
  // What the run logged, with its folder and its launcher's id masked.
  std::string Log() const {
    return Replaced(Replaced(log_.Added(), Utf8(dir_.Path()), "<dir>"),
                    std::to_string(starter_.Id()), "<pid>");
  }

  ScopedTempDir dir_;
  NamedEvent stop_{L"watcher_stop"}, started_{L"launcher_started"};
  HelperProcess watcher_, run_;
  const std::wstring launcher_ = dir_ / L"DastryLauncher.exe";
  std::wstring files_, program_ = L"rundll32.exe", arguments_;
  std::optional<FileLock> lock_;
  WaitingProcess starter_;
  UserRunLog log_;
};

void ExpectInOrder(const std::string& windows, const std::vector<std::string>& shown) {
  size_t at = 0;
  for (const std::string& line : shown) {
    at = windows.find(line + "\n", at);
    ASSERT_NE(at, std::string::npos) << line << "\nnot in order in\n" << windows;
  }
}

// The launcher that starts the run waits until the run waits for it; the game still holds its
// data file, so every attempt fails on it (five, two seconds apart) and the run is reverted.
// The player reads it in their language, with the system's text in it; the log stays English.
TEST(Rundll32RunTest, AFailedPatchIsRevertedShownInTheLanguageOfThePlayerAndRestartsTheLauncher) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  wchar_t pictured[32] = {};  // scripts/screenshots.sh: one run in a language, for its pictures
  GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOT_LOCALE", pictured, 32);
  struct Language {
    std::wstring locale, retrying, question, box;
  };
  const std::wstring file = L"\"data\\locked.dat\"";
  const std::wstring german = L"\u201Edata\\locked.dat\u201C";
  const Language languages[] = {
      {L"",
       L"Could not replace " + file +
           L": <reason> Another program is using the file; closing "
           L"that program lets the update go on. Trying again: "
           L"attempt <n> of 5.",
       L"Could not replace " + file +
           L": <reason> Another program is using the file: close that program first.\n\nRetry "
           L"tries the file again. Cancel puts back the previous files and ends the update.",
       L"Could not patch file " + file + L", error 32: "},
      {L"de_DE.UTF-8",
       german + L" konnte nicht ersetzt werden: <reason> Ein anderes Programm verwendet die "
                L"Datei; wird es geschlossen, geht das Update weiter. Neuer Versuch: <n> von 5.",
       german + L" konnte nicht ersetzt werden: <reason> Ein anderes Programm verwendet die "
                L"Datei: Schlie\u00DFen Sie zuerst dieses Programm.\n\nWiederholen versucht "
                L"es mit der Datei erneut. Abbrechen stellt die vorherigen Dateien wieder her und "
                L"beendet das Update.",
       L"Die Datei " + german + L" konnte nicht aktualisiert werden, Fehler 32: "}};
  std::string englishLog;
  for (const Language& language : languages) {
    WatchedRun run;
    run.LayHeldGame();
    run.Start(L"", L"", pictured[0] != 0 ? pictured : language.locale);
    const std::string windows = run.Finish();
    if (pictured[0] != 0) {
      return;
    }
    // The system's text is the player's too: the box ends with it.
    const size_t reasonAt = windows.find(Escaped(language.box));
    ASSERT_NE(reasonAt, std::string::npos) << windows;
    const size_t from = reasonAt + Escaped(language.box).size();
    std::string reason = windows.substr(from, windows.find('\n', from) - from);
    if (language.locale.empty()) {
      EXPECT_EQ(reason, Escaped(SystemMessage(ERROR_SHARING_VIOLATION)));
    }
    // Each pause named the held file and the attempt to come, with the bar past the file done,
    // below the launcher's text as given; then the box named the file and the reason.
    const std::string sentence = Replaced(reason, "\\r\\n", "");
    std::vector<std::string> shown = {"progress: Updating game files"};
    for (int next = 2; next <= 5; ++next) {
      shown.push_back("status: [1/2] " +
                      Replaced(Replaced(Escaped(language.retrying), "<reason>", sentence), "<n>",
                               std::to_string(next)));
    }
    // The player was asked before the revert, and the watcher answered Cancel.
    shown.push_back("box: " + Replaced(Escaped(language.question), "<reason>", sentence));
    shown.push_back("answer: Cancel");
    shown.push_back("box: " + Escaped(language.box) + reason);
    ExpectInOrder(windows, shown);
    const std::string pause = Escaped(language.retrying.substr(0, language.retrying.find(L'<')));
    EXPECT_EQ(Count(windows, "] " + pause) + Count(windows, "box: "), 6u) << windows;
    EXPECT_PRED2(Has, run.Log(), "The player answered Cancel\r\nCould not patch file");
    EXPECT_EQ(run.Game(), "old|old|");
    // The log is the English one, byte for byte, but for the system's own text.
    const std::string log = Replaced(run.Log(), sentence, "<reason>");
    EXPECT_EQ(log, language.locale.empty() ? (englishLog = log) : englishLog);
  }
}

// A studio's texts replace the caption and the box's words around the system's text; a quiet
// run shows no box and restarts the launcher at once. Neither changes the log: the same refused
// name logs the same lines, but for the options themselves among the arguments.
TEST(Rundll32RunTest, AStudioRenamesTheWindowsRewordsTheBoxOrKeepsItAway) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  struct Case {
    std::wstring options, caption;
    std::string box;  // empty: no box at all
  };
  const std::string box = "box: " + Escaped(L"Could not patch file \"bin:x\", error 87: " +
                                            SystemMessage(ERROR_INVALID_PARAMETER));
  const Case cases[] = {{L"", L"Quorvel", box},
                        {L"-texts \"<dir>\\texts.txt\"", L"Studio Patcher",
                         "box: " + Escaped(L"The update of bin:x failed (87): " +
                                           SystemMessage(ERROR_INVALID_PARAMETER))},
                        {L"-quiet", L"Quorvel", ""}};
  std::string plainLog;
  for (const Case& c : cases) {
    WatchedRun run;
    WriteFileBytes(run.dir_ / L"texts.txt",
                   "[en]\ncaption=Studio Patcher\npatch_failed_reason=The "
                   "update of {file} failed ({code}): {reason}\n");
    run.LayHeldGame();
    run.files_ = L" bin:x";  // a name the run refuses
    run.Start(L" --caption " + Quoted(c.caption), c.options);
    const std::string windows = run.Finish();
    // A box opens over the progress window, so the window is seen under the same caption.
    if (c.box.empty()) {
      EXPECT_FALSE(Has(windows, "box: ")) << windows;
    } else {
      ExpectInOrder(windows, {c.box, "gone: box"});
      EXPECT_TRUE(Has(windows, "progress: Updating game files\n")) << windows;
    }
    std::string log = Replaced(run.Log(), "\t-quiet\r\n", "");
    log = Replaced(Replaced(log, "\t-texts\r\n", ""), "\t<dir>\\texts.txt\r\n", "");
    EXPECT_EQ(log, c.options.empty() ? (plainLog = log) : plainLog) << Utf8(c.options);
  }
}

// The game lets go of the file once the question is up; Retry starts the file's attempts again
// and the patch completes.
TEST(Rundll32RunTest, AHeldFileReleasedWhileThePlayerIsAskedIsPatchedOnRetry) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  const NamedEvent retry(L"watcher_retry");
  WatchedRun run;
  run.LayHeldGame();
  run.Start(L" --retry " + retry.Name());
  // The question is the run's first box; the language case reads its words.
  ASSERT_TRUE(Eventually([&] { return Has(run.Windows(), "box: "); })) << run.Windows();
  run.lock_.reset();
  retry.Set();
  EXPECT_EQ(Count(run.Finish(), "box: "), 1u) << run.Windows();
  EXPECT_PRED2(Has, run.Log(),
               "Asking the player whether to try \"data\\locked.dat\" again, HResult "
               "0x80070020\r\nThe player answered Retry\r\n");
  EXPECT_EQ(run.Game(), "new|new|");
}

// A run of 1,000 files killed part way; the same command again puts back what the killed run
// had done, the bar counting the files down, and then completes the patch.
TEST(Rundll32RunTest, ARunKilledPartWayIsRestoredWithTheBarMovingThenFinishedByTheSameCommand) {
  QUORVEL_SKIP_WITHOUT_DISPLAY();
  WatchedRun run;
  const ScopedTempDir& dir = run.dir_;
  for (int i = 0; i < 1000; ++i) {
    const std::wstring name = L"f\\" + std::to_wstring(1000 + i) + L".dat";
    run.Lay(name, "old " + std::to_string(i), "new " + std::to_string(i));
    WriteFileBytes(dir / (L"Expected\\Game\\" + name), "new " + std::to_string(i));
    WriteFileBytes(dir / (L"Expected\\Backup\\" + name), "old " + std::to_string(i));
  }
  CreateDirectoryW((dir / L"Expected\\Patch").c_str(), nullptr);
  const auto trees = [&](const std::wstring& root) {
    return TreeFingerprint(root + L"Game", L"Quorvel.journal") + TreeFingerprint(root + L"Backup") +
           TreeFingerprint(root + L"Patch");
  };
  run.Start(L"");
  // Files are backed up in the order listed; most of them are put back.
  ASSERT_TRUE(Eventually([&] { return PathExists(dir / L"Backup\\f\\1700.dat"); }));
  ASSERT_FALSE(run.run_.WaitForExit(0)) << "the run ended before it could be cut short";
  TerminateProcess(run.run_.Handle(), 1);
  ASSERT_TRUE(run.run_.WaitForExit(60000) && run.StartRun());
  const std::string windows = run.Finish();
  EXPECT_EQ(trees(dir / L""), trees(dir / L"Expected\\"));
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
