#include "patch/post_patch_command.h"

#include <cstdlib>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

class PostPatchCommandTest : public PatchTest {
 protected:
  void SetUp() override {
    for (const wchar_t* folder : {L"Patch", L"Game", L"Backup", L"Elsewhere"}) {
      CreateDirectoryW(At(folder).c_str(), nullptr);
    }
    _wputenv((L"SAMPLE_LAUNCHER_STARTED=" + started_.Name()).c_str());
    // Launcher paths are compared on the drive of the current directory.
    GetCurrentDirectoryW(MAX_PATH, previousDirectory_);
    SetCurrentDirectoryW(Dir().c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryW(previousDirectory_);
    _wputenv(L"SAMPLE_LAUNCHER_STARTED=");
  }
  void PlaceLauncher(const std::wstring& folder) {
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\sample_launcher.exe").c_str(),
                          At(folder + L"\\DastryLauncher.exe").c_str(), TRUE));
  }
  std::string Record() const { return ReadFileBytes(At(L"Game\\DastryLauncher.record.txt")); }
  std::string Launcher() const { return Utf8(At(L"Game\\DastryLauncher.exe")); }

  NamedEvent started_{L"launcher_started"};
  wchar_t previousDirectory_[MAX_PATH + 1] = {};
};

TEST_F(PostPatchCommandTest, ALauncherOnlyInTheBackupIsCopiedIntoTheGameFolder) {
  PlaceLauncher(L"Backup");
  EXPECT_EQ(RunPostPatchCommand(run_), S_OK);
  ASSERT_TRUE(started_.WaitFor(30000));
  const std::string notFound =
      "<" + Launcher() + "> not found! Looking for DastryLauncher.exe in <";
  EXPECT_EQ(log_.Text(), notFound + Utf8(At(L"Patch")) + ">\r\n" + notFound + Utf8(At(L"Backup")) +
                             ">\r\nFound <" + Utf8(At(L"Backup\\DastryLauncher.exe")) +
                             "> copying it to <" + Launcher() +
                             ">\r\nExecuting post patch command: " + Launcher() + " \r\n");
  EXPECT_TRUE(PathExists(At(L"Backup\\DastryLauncher.exe")));
  EXPECT_FALSE(Record().empty());
}

// Nowhere to be found, or the game folder itself missing: then the launcher of the patch folder
// is not copied, for that would create the folder.
TEST_F(PostPatchCommandTest, ALauncherFoundNowhereOrWithoutItsFolderFailsToStart) {
  PlaceLauncher(L"Patch");
  for (const wchar_t* game : {L"Game", L"Missing\\Game"}) {
    run_.applicationDirectory = At(game).c_str();
    run_.patchDirectory = At(game == std::wstring(L"Game") ? L"Elsewhere" : L"Patch").c_str();
    run_.postPatchCommand.Clear();
    log_.Clear();
    const std::string launcher = Utf8(At(game)) + "\\DastryLauncher.exe";
    EXPECT_TRUE(FAILED(RunPostPatchCommand(run_)));
    const std::string text = log_.Text();
    EXPECT_TRUE(Has(text, "Could not find an executable anywhere!Executing post patch command: " +
                              launcher + " \r\nFailed to launch post patch command"))
        << text;
    EXPECT_EQ(
        Has(text, "<" + launcher + "> not found, and the application directory <" + Utf8(At(game)) +
                      "> is not a folder: not copying DastryLauncher.exe into it\r\n"),
        game != std::wstring(L"Game"));
  }
  EXPECT_FALSE(PathExists(At(L"Missing")));
}

// Each argument reaches the launcher as written, however the values inserted in it end.
TEST_F(PostPatchCommandTest, ExpandedArgumentsReachTheLauncherAsTheRuntimeSplitsThem) {
  PlaceLauncher(L"Game");
  _wputenv(L"ONE=C:\\Games\\Dastry\\");
  _wputenv(L"TWO=x\\\\");
  _wputenv(L"QUOTES=a\\\"b\" \"c");
  run_.postPatchCommand = At(L"Game\\DastryLauncher.exe").c_str();
  run_.postPatchArguments =
      L"\"%ONE%\" \"-next\" \"%TWO%\" \"%QUOTES%\" \"C:\\x\\\" \"%NONE%\" \"z\"";
  EXPECT_EQ(RunPostPatchCommand(run_), S_OK);
  ASSERT_TRUE(started_.WaitFor(30000));
  EXPECT_TRUE(Has(Record(),
                  "argv[1]: C:\\Games\\Dastry\\\r\nargv[2]: -next\r\nargv[3]: x\\\\\r\n"
                  "argv[4]: a\\\"b\" \"c\r\nargv[5]: C:\\x\\\r\nargv[6]: \r\n"
                  "argv[7]: z\r\nCommandLineToArgvW: same\r\n"))
      << Record();
  WaitForRecordedLauncher(At(L"Game\\DastryLauncher.record.txt"));
}

TEST_F(PostPatchCommandTest, ALauncherAlreadyRunningFromThatPathIsNotStartedAgain) {
  PlaceLauncher(L"Game");
  PlaceLauncher(L"Elsewhere");
  const SharedWString launcher(At(L"Game\\DastryLauncher.exe").c_str());
  NamedEvent exit(L"launcher_exit");
  HelperProcess running;
  ASSERT_TRUE(running.Start(launcher.Chars(), L"--stay " + exit.Name()));
  ASSERT_TRUE(started_.WaitFor(30000));
  const std::string recordBefore = Record();
  run_.postPatchCommand = launcher;
  run_.postPatchArguments = L"\"%QUORVEL_RESULT%\"";
  EXPECT_FALSE(IsLauncherRunning(SharedWString(At(L"Elsewhere\\DastryLauncher.exe").c_str())));
  EXPECT_EQ(RunPostPatchCommand(run_), S_OK);
  EXPECT_EQ(log_.Text(), "A launcher is already running\r\n");
  EXPECT_STREQ(run_.postPatchArguments.Chars(), L"\"%QUORVEL_RESULT%\"");
  exit.Set();
  EXPECT_TRUE(running.WaitForExit());
  EXPECT_EQ(Record(), recordBefore);
}

TEST(LauncherSearchTest, ACommandThatCannotBeResolvedIsNeverTakenForARunningLauncher) {
  const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x') + L"\\DastryLauncher.exe";
  EXPECT_FALSE(IsLauncherRunning(SharedWString(tooLong.c_str())));
}

}  // namespace
}  // namespace quorvel::test
