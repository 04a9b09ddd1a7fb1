#include "patch/run_arguments.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "patch/run_steps.h"
#include "support/test_support.h"
#include "support/waiting_process.h"

namespace quorvel {
namespace {

using test::LogCapture;
using test::Utf8;
using Words = std::vector<std::wstring>;

// Log lines as the file holds them: each ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\r\n";
  }
  return text;
}

// The tokenizer's log of the given arguments.
std::string ArgumentLines(std::initializer_list<std::string> arguments) {
  std::string text = "Argument List:\r\n";
  for (const std::string& argument : arguments) {
    text += "\t" + argument + "\r\n";
  }
  return text;
}

const std::string kDirectoryLines =
    Lines({"Patch Directory:       <C:\\Game\\Patch>", "Application Directory: <C:\\Game>",
           "Backup Directory:      <C:\\Game\\Backup>"});

Words Files(const PatchRun& run) {
  Words files;
  for (const SharedWString& file : run.files) {
    files.emplace_back(file.Chars());
  }
  return files;
}

class RunArgumentsTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    launcher_ = At(L"Game\\DastryLauncher.exe");
    test::WriteFileBytes(launcher_, "MZ");
  }

  // Parses commandLine into run_ and returns the result; the log holds what was written.
  HRESULT Parse(const std::wstring& commandLine) {
    return ParseRunArguments(run_, commandLine.c_str());
  }

  // The worked example's command line up to and including the file names.
  static std::wstring WorkedExampleHead() {
    return L"-text \"Updating game files\" 4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 2 "
           L"bin\\client.dll data\\strings.dat";
  }
  static std::string WorkedExampleHeadLines() {
    return Lines({"parent pid: 4242"}) + kDirectoryLines +
           Lines({"There are 2 files to patch", "File: \"bin\\client.dll\"",
                  "File: \"data\\strings.dat\""});
  }

  LogCapture log_;
  PatchRun run_;
  std::wstring launcher_;
};

TEST_F(RunArgumentsTest, TheRoadOfOneRun) {
  ASSERT_EQ(Parse(L"-text \"Updating game files\" 4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup "
                  L"1 bin\\client.dll \"" +
                  launcher_ + L"\" -restart"),
            S_OK);
  EXPECT_EQ(log_.Text(), ArgumentLines({"-text", "Updating game files", "4242", "C:\\Game\\Patch",
                                        "C:\\Game", "C:\\Game\\Backup", "1", "bin\\client.dll",
                                        Utf8(launcher_), "-restart"}) +
                             Lines({"parent pid: 4242"}) + kDirectoryLines +
                             Lines({"There are 1 files to patch", "File: \"bin\\client.dll\"",
                                    "Post Patch Command: <" + Utf8(launcher_) + " \"-restart\">"}));
}

TEST_F(RunArgumentsTest, TheWorkedExampleWithItsCommandOnDisk) {
  ASSERT_EQ(Parse(WorkedExampleHead() + L" \"" + launcher_ + L"\" -restart"), S_OK);
  EXPECT_STREQ(run_.displayText.Chars(), L"Updating game files");
  EXPECT_EQ(run_.parentPid, 4242u);
  EXPECT_STREQ(run_.patchDirectory.Chars(), L"C:\\Game\\Patch");
  EXPECT_STREQ(run_.applicationDirectory.Chars(), L"C:\\Game");
  EXPECT_STREQ(run_.backupDirectory.Chars(), L"C:\\Game\\Backup");
  EXPECT_EQ(Files(run_), (Words{L"bin\\client.dll", L"data\\strings.dat"}));
  EXPECT_EQ(run_.postPatchCommand.Chars(), launcher_);
  EXPECT_STREQ(run_.postPatchArguments.Chars(), L"\"-restart\"");
  EXPECT_EQ(run_.postPatchArguments.Length(), 10u);
  EXPECT_EQ(log_.Text(), ArgumentLines({"-text", "Updating game files", "4242", "C:\\Game\\Patch",
                                        "C:\\Game", "C:\\Game\\Backup", "2", "bin\\client.dll",
                                        "data\\strings.dat", Utf8(launcher_), "-restart"}) +
                             WorkedExampleHeadLines() +
                             Lines({"Post Patch Command: <" + Utf8(launcher_) + " \"-restart\">"}));
}

TEST_F(RunArgumentsTest, AMissingCommandIsReplacedByTheRunningLaunchersExecutable) {
  test::WaitingProcess launcher;
  ASSERT_TRUE(launcher.IsRunning());
  const std::wstring missing = At(L"Game\\Missing Launcher.exe");
  const std::wstring pid = std::to_wstring(launcher.Id());
  ASSERT_EQ(Parse(L"-text \"Updating game files\" " + pid +
                  L" C:\\Game\\Patch C:\\Game C:\\Game\\Backup 2 bin\\client.dll "
                  L"data\\strings.dat \"" +
                  missing + L"\" -restart"),
            S_OK);
  const std::wstring executable = test::WaitingProcess::ExecutablePath();
  EXPECT_EQ(Utf8(run_.postPatchCommand.Chars()), Utf8(executable));
  EXPECT_EQ(run_.postPatchArguments.Chars(), L"\"" + missing + L"\" \"-restart\"");
  const std::string log = log_.Text();
  const std::string tail = Lines(
      {"Could not find post patch command: " + Utf8(missing),
       "Post Patch Command: <" + Utf8(executable) + " \"" + Utf8(missing) + "\" \"-restart\">"});
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(RunArgumentsTest, AMissingCommandWithoutALauncherToAskLeavesTheCommandEmpty) {
  // A process that has ended cannot be asked for its executable.
  DWORD ended = 0;
  {
    test::WaitingProcess launcher;
    ended = launcher.Id();
    ASSERT_TRUE(launcher.Finish());
  }
  const std::wstring missing = At(L"nowhere.exe");
  ASSERT_EQ(Parse(std::to_wstring(ended) + L" P A B 0 " + missing), S_OK);
  EXPECT_TRUE(run_.postPatchCommand.IsEmpty());
  EXPECT_EQ(run_.postPatchArguments.Chars(), L"\"" + missing + L"\"");
  const std::string log = log_.Text();
  const std::string tail = Lines({"Could not find post patch command: " + Utf8(missing),
                                  "Post Patch Command: < \"" + Utf8(missing) + "\">"});
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(RunArgumentsTest, AFolderCountsAsAFoundCommandAndNoArgumentsLeaveASpace) {
  ASSERT_EQ(Parse(L"7 P A B 0 \"" + Dir() + L"\""), S_OK);
  EXPECT_EQ(run_.postPatchCommand.Chars(), Dir());
  EXPECT_TRUE(run_.postPatchArguments.IsEmpty());
  EXPECT_TRUE(run_.files.empty());
  const std::string log = log_.Text();
  const std::string tail =
      Lines({"There are 0 files to patch", "Post Patch Command: <" + Utf8(Dir()) + " >"});
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

// A count that is no number reads as 0, so the argument after it is the command.
TEST_F(RunArgumentsTest, ACountThatIsNoNumberReadsAsZeroAndEveryArgumentIsQuoted) {
  ASSERT_EQ(Parse(L"7 P A B many \"" + launcher_ + L"\" a \"b c\" %RESULT%"), S_OK);
  EXPECT_TRUE(run_.files.empty());
  EXPECT_EQ(run_.postPatchCommand.Chars(), launcher_);
  EXPECT_STREQ(run_.postPatchArguments.Chars(), L"\"a\" \"b c\" \"%RESULT%\"");
}

TEST_F(RunArgumentsTest, TextIsAnOptionOnlyAsTheFirstArgumentInLowerCase) {
  EXPECT_EQ(Parse(L"-TEXT hello 1 P A B 0 x"), E_INVALIDARG);
  EXPECT_EQ(log_.Text(), ArgumentLines({"-TEXT", "hello", "1", "P", "A", "B", "0", "x"}) +
                             Lines({"Parent PID cannot be zero"}));
  PatchRun later;
  EXPECT_EQ(ParseRunArguments(later, (L"5 P A B 1 -text \"" + launcher_ + L"\"").c_str()), S_OK);
  EXPECT_EQ(Files(later), (Words{L"-text"}));
  EXPECT_TRUE(later.displayText.IsEmpty());
}

TEST_F(RunArgumentsTest, TheDisplayTextAndThePidMustFollowText) {
  EXPECT_EQ(Parse(L"-text"), E_INVALIDARG);
  EXPECT_EQ(log_.Text(), ArgumentLines({"-text"}) + Lines({"No display text given"}));
  DeleteFileW(log_.FilePath().c_str());
  PatchRun other;
  EXPECT_EQ(ParseRunArguments(other, L"-text \"Updating\""), E_INVALIDARG);
  EXPECT_EQ(log_.Text(), ArgumentLines({"-text", "Updating"}) + Lines({"No parent PID given"}));
}

TEST_F(RunArgumentsTest, ProcessIdsReadInDecimalHexadecimalAndOctal) {
  for (const auto& [text, pid] : {std::pair<std::wstring, DWORD>{L"0x1A", 26},
                                  {L"010", 8},
                                  {L"4242", 4242},
                                  {L"12abc", 12}}) {
    PatchRun run;
    EXPECT_EQ(ParseRunArguments(run, (text + L" P A B 0 \"" + launcher_ + L"\"").c_str()), S_OK);
    EXPECT_EQ(run.parentPid, pid) << Utf8(text);
  }
  const std::string log = log_.Text();
  EXPECT_NE(log.find("\r\nparent pid: 26\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nparent pid: 8\r\n"), std::string::npos) << log;
}

TEST_F(RunArgumentsTest, NoArgumentsAtAll) {
  EXPECT_EQ(Parse(L"  \"\"  "), E_INVALIDARG);
  EXPECT_EQ(log_.Text(), Lines({"Argument List:", "No arguments on the command line"}));
}

TEST_F(RunArgumentsTest, EachMissingDirectoryHasItsMessage) {
  const struct {
    const wchar_t* commandLine;
    std::string lines;
  } cases[] = {
      {L"12", Lines({"parent pid: 12", "No patch directory specified"})},
      {L"12 C:\\Game\\Patch", Lines({"parent pid: 12", "Patch Directory:       <C:\\Game\\Patch>",
                                     "No application directory specified"})},
      {L"12 C:\\Game\\Patch C:\\Game",
       Lines({"parent pid: 12", "Patch Directory:       <C:\\Game\\Patch>",
              "Application Directory: <C:\\Game>", "No backup directory specified"})},
      {L"12 C:\\Game\\Patch C:\\Game C:\\Game\\Backup",
       Lines({"parent pid: 12"}) + kDirectoryLines +
           Lines({"No file count or file list given on the command line"})},
  };
  for (const auto& c : cases) {
    DeleteFileW(log_.FilePath().c_str());
    PatchRun run;
    EXPECT_EQ(ParseRunArguments(run, c.commandLine), E_INVALIDARG) << Utf8(c.commandLine);
    const std::string log = log_.Text();
    ASSERT_GE(log.size(), c.lines.size()) << log;
    EXPECT_EQ(log.substr(log.size() - c.lines.size()), c.lines);
  }
}

TEST_F(RunArgumentsTest, ACountLargerThanTheNamesConsumesThemAllAndFails) {
  EXPECT_EQ(Parse(L"12 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 3 a.dll b.dll"), E_INVALIDARG);
  EXPECT_EQ(Files(run_), (Words{L"a.dll", L"b.dll"}));
  EXPECT_TRUE(run_.postPatchCommand.IsEmpty());
  EXPECT_EQ(log_.Text(), ArgumentLines({"12", "C:\\Game\\Patch", "C:\\Game", "C:\\Game\\Backup",
                                        "3", "a.dll", "b.dll"}) +
                             Lines({"parent pid: 12"}) + kDirectoryLines +
                             Lines({"There are 3 files to patch", "File: \"a.dll\"",
                                    "File: \"b.dll\"", "Only 2 filenames were specified"}));
}

TEST_F(RunArgumentsTest, ACommandLineEndingAfterTheNamesHasNoPostPatchCommand) {
  EXPECT_EQ(Parse(WorkedExampleHead()), E_INVALIDARG);
  EXPECT_EQ(Files(run_), (Words{L"bin\\client.dll", L"data\\strings.dat"}));
  // The stray full stop opens the following line.
  EXPECT_EQ(log_.Text(),
            ArgumentLines({"-text", "Updating game files", "4242", "C:\\Game\\Patch", "C:\\Game",
                           "C:\\Game\\Backup", "2", "bin\\client.dll", "data\\strings.dat"}) +
                WorkedExampleHeadLines() +
                Lines({"There is no post patch command", ".Failed to build post patch command"}));
}

TEST(FileListTest, AnEmptyNameFailsAndTheListIsEmptiedFirst) {
  LogCapture log;
  PatchRun run;
  run.files.push_back(SharedWString(L"stale"));
  ArgumentList arguments = {SharedWString(L"2"), SharedWString(L"a"), SharedWString(),
                            SharedWString(L"cmd")};
  EXPECT_EQ(ParseFileList(run, arguments), E_INVALIDARG);
  EXPECT_EQ(Files(run), (Words{L"a"}));
  EXPECT_EQ(log.Text(), Lines({"There are 2 files to patch", "File: \"a\"",
                               "There was an empty filename in the command line"}));
}

}  // namespace
}  // namespace quorvel
