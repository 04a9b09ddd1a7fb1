#include "patch/launcher/post_patch_command.h"

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

// Its arguments arrive as written, whatever the values inserted in them hold or end with.
TEST_F(PostPatchCommandTest, ALauncherOnlyInTheBackupIsCopiedIntoTheGameFolderAndGetsItsArguments) {
  PlaceLauncher(L"Backup");
  for (const wchar_t* value : {LR"(QV_ONE=C:\Games\)", LR"(QV_TWO=x\\)", LR"(QV_Q=a\"b" "c)"}) {
    _wputenv(value);
  }
  run_.postPatchArguments = LR"("%QV_ONE%" "-a" "%QV_TWO%" "%QV_Q%" "C:\x\" "" "z")";
  EXPECT_EQ(RunPostPatchCommand(run_), S_OK);
  ASSERT_TRUE(started_.WaitFor(30000));
  const std::string notFound =
      "<" + Launcher() + "> not found! Looking for DastryLauncher.exe in <";
  EXPECT_EQ(log_.Text(), notFound + Utf8(At(L"Patch")) + ">\r\n" + notFound + Utf8(At(L"Backup")) +
                             ">\r\nFound <" + Utf8(At(L"Backup\\DastryLauncher.exe")) +
                             "> copying it to <" + Launcher() +
                             ">\r\nExecuting post patch command: " + Launcher() +
                             R"( "C:\Games\\" "-a" "x\\\\" "a\\\"b\" \"c" "C:\x\\" "" "z")"
                             "\r\n");
  EXPECT_TRUE(PathExists(At(L"Backup\\DastryLauncher.exe")));
  WaitForRecordedLauncher(At(L"Game\\DastryLauncher.record.txt"));
}

// Nor is one fetched into a game folder that does not exist: that would create the folder.
TEST_F(PostPatchCommandTest, ALauncherFoundNowhereOrOnlyForAMissingGameFolderFailsToStart) {
  EXPECT_EQ(RunPostPatchCommand(run_), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  const std::string launched =
      "Could not find an executable anywhere!Executing post patch command: ";
  EXPECT_PRED2(Has, log_.Text(),
               launched + Launcher() + " \r\nFailed to launch post patch command, " +
                   "HResult: 0x80070002, error 2 " + LoggedSystemMessage(2));
  PlaceLauncher(L"Patch");
  run_.applicationDirectory = At(L"Missing\\Game").c_str();
  run_.postPatchCommand.Clear();
  EXPECT_TRUE(FAILED(RunPostPatchCommand(run_)));
  EXPECT_PRED2(Has, log_.Text(),
               "is not a folder: not copying DastryLauncher.exe into it\r\n" + launched);
  EXPECT_FALSE(PathExists(At(L"Missing")));
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
