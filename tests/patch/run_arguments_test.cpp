#include "patch/run_arguments.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "patch/run_steps.h"
#include "support/test_support.h"
#include "support/waiting_process.h"

namespace quorvel {
namespace {

using test::EndsWith;
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
// The worked example's command line up to and including the file names, and its log.
const std::wstring kExampleHead =
    L"-text \"Updating game files\" 4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 2 "
    L"bin\\client.dll data\\strings.dat";
const std::string kExampleHeadLines =
    ArgumentLines({"-text", "Updating game files", "4242", "C:\\Game\\Patch", "C:\\Game",
                   "C:\\Game\\Backup", "2", "bin\\client.dll", "data\\strings.dat"});
const std::string kExampleParsedLines =
    Lines({"parent pid: 4242"}) + kDirectoryLines +
    Lines(
        {"There are 2 files to patch", "File: \"bin\\client.dll\"", "File: \"data\\strings.dat\""});

Words Files(const PatchRun& run) {
  Words files;
  for (const SharedWString& file : run.files) {
    files.emplace_back(file.Chars());
  }
  return files;
}

class RunArgumentsTest : public test::TempDirTest {
 protected:
  void SetUp() override { test::WriteFileBytes(launcher_, "MZ"); }
  // Parses commandLine into a fresh run.
  HRESULT Parse(const std::wstring& commandLine) {
    run_ = std::make_unique<PatchRun>();
    return ParseRunArguments(*run_, commandLine.c_str());
  }
  void ClearLog() { DeleteFileW(log_.FilePath().c_str()); }

  LogCapture log_;
  std::unique_ptr<PatchRun> run_;
  const std::wstring launcher_ = At(L"Game\\DastryLauncher.exe");
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
  ASSERT_EQ(Parse(kExampleHead + L" \"" + launcher_ + L"\" -restart"), S_OK);
  EXPECT_STREQ(run_->displayText.Chars(), L"Updating game files");
  EXPECT_EQ(run_->parentPid, 4242u);
  EXPECT_STREQ(run_->patchDirectory.Chars(), L"C:\\Game\\Patch");
  EXPECT_STREQ(run_->applicationDirectory.Chars(), L"C:\\Game");
  EXPECT_STREQ(run_->backupDirectory.Chars(), L"C:\\Game\\Backup");
  EXPECT_EQ(Files(*run_), (Words{L"bin\\client.dll", L"data\\strings.dat"}));
  EXPECT_EQ(run_->postPatchCommand.Chars(), launcher_);
  EXPECT_STREQ(run_->postPatchArguments.Chars(), L"\"-restart\"");
  const std::string launcher = Utf8(launcher_);
  EXPECT_EQ(log_.Text(), kExampleHeadLines + "\t" + launcher + "\r\n\t-restart\r\n" +
                             kExampleParsedLines +
                             Lines({"Post Patch Command: <" + launcher + " \"-restart\">"}));
}

TEST_F(RunArgumentsTest, AMissingCommandIsReplacedByTheRunningLaunchersExecutable) {
  test::WaitingProcess launcher;
  ASSERT_TRUE(launcher.IsRunning());
  const std::wstring missing = At(L"Game\\Missing Launcher.exe");
  ASSERT_EQ(Parse(L"-text \"Updating game files\" " + std::to_wstring(launcher.Id()) +
                  L" C:\\Game\\Patch C:\\Game C:\\Game\\Backup 2 bin\\client.dll "
                  L"data\\strings.dat \"" +
                  missing + L"\" -restart"),
            S_OK);
  const std::wstring executable = test::WaitingProcess::ExecutablePath();
  EXPECT_EQ(Utf8(run_->postPatchCommand.Chars()), Utf8(executable));
  EXPECT_EQ(run_->postPatchArguments.Chars(), L"\"" + missing + L"\" \"-restart\"");
  EXPECT_TRUE(EndsWith(log_.Text(), Lines({"Could not find post patch command: " + Utf8(missing),
                                           "Post Patch Command: <" + Utf8(executable) + " \"" +
                                               Utf8(missing) + "\" \"-restart\">"})))
      << log_.Text();
}

TEST_F(RunArgumentsTest, CommandsFoundOrNotAndTheirQuotedArguments) {
  // A process that has ended cannot be asked for its executable.
  DWORD ended = 0;
  {
    test::WaitingProcess launcher;
    ended = launcher.Id();
    ASSERT_TRUE(launcher.Finish());
  }
  const std::wstring missing = At(L"nowhere.exe");
  const std::wstring launcher = L"\"" + launcher_ + L"\"";
  const struct {
    std::wstring commandLine, command, arguments;
    std::string logTail;
  } cases[] = {
      {std::to_wstring(ended) + L" P A B 0 " + missing, L"", L"\"" + missing + L"\"",
       Lines({"Could not find post patch command: " + Utf8(missing),
              "Post Patch Command: < \"" + Utf8(missing) + "\">"})},
      // A folder counts as found; no arguments leave a space.
      {L"7 P A B 0 \"" + Dir() + L"\"", Dir(), L"",
       Lines({"There are 0 files to patch", "Post Patch Command: <" + Utf8(Dir()) + " >"})},
      // A count that is no number reads as 0, so the argument after it is the command.
      {L"7 P A B many " + launcher + L" a \"b c\" %RESULT%", launcher_,
       L"\"a\" \"b c\" \"%RESULT%\"",
       Lines({"Post Patch Command: <" + Utf8(launcher_) + " \"a\" \"b c\" \"%RESULT%\">"})}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.commandLine));
    ClearLog();
    ASSERT_EQ(Parse(c.commandLine), S_OK);
    EXPECT_TRUE(run_->files.empty());
    EXPECT_EQ(run_->postPatchCommand.Chars(), c.command);
    EXPECT_EQ(run_->postPatchArguments.Chars(), c.arguments);
    EXPECT_TRUE(EndsWith(log_.Text(), c.logTail)) << log_.Text();
  }
}

TEST_F(RunArgumentsTest, TextIsAnOptionOnlyAsTheFirstArgumentInLowerCase) {
  EXPECT_EQ(Parse(L"-TEXT hello 1 P A B 0 x"), E_INVALIDARG);
  EXPECT_TRUE(EndsWith(log_.Text(), Lines({"\tx", "Parent PID cannot be zero"}))) << log_.Text();
  EXPECT_EQ(Parse(L"5 P A B 1 -text \"" + launcher_ + L"\""), S_OK);
  EXPECT_EQ(Files(*run_), (Words{L"-text"}));
  EXPECT_TRUE(run_->displayText.IsEmpty());
}

TEST_F(RunArgumentsTest, ProcessIdsReadInDecimalHexadecimalAndOctal) {
  for (const auto& [text, pid] : {std::pair<std::wstring, DWORD>{L"0x1A", 26},
                                  {L"010", 8},
                                  {L"4242", 4242},
                                  {L"12abc", 12}}) {
    ClearLog();
    EXPECT_EQ(Parse(text + L" P A B 0 \"" + launcher_ + L"\""), S_OK);
    EXPECT_EQ(run_->parentPid, pid) << Utf8(text);
    EXPECT_NE(log_.Text().find("\r\nparent pid: " + std::to_string(pid) + "\r\n"),
              std::string::npos);
  }
}

TEST_F(RunArgumentsTest, EachMissingArgumentHasItsMessage) {
  const struct {
    const wchar_t* commandLine;
    std::string logTail;
  } cases[] = {
      {L"  \"\"  ", Lines({"Argument List:", "No arguments on the command line"})},
      {L"-text", Lines({"\t-text", "No display text given"})},
      {L"-text \"Updating\"", Lines({"\tUpdating", "No parent PID given"})},
      {L"12", Lines({"parent pid: 12", "No patch directory specified"})},
      {L"12 P", Lines({"Patch Directory:       <P>", "No application directory specified"})},
      {L"12 P A", Lines({"Application Directory: <A>", "No backup directory specified"})},
      {L"12 P A B", Lines({"Backup Directory:      <B>",
                           "No file count or file list given on the command line"})}};
  for (const auto& c : cases) {
    ClearLog();
    EXPECT_EQ(Parse(c.commandLine), E_INVALIDARG) << Utf8(c.commandLine);
    EXPECT_TRUE(EndsWith(log_.Text(), c.logTail)) << log_.Text();
  }
}

TEST_F(RunArgumentsTest, ACountLargerThanTheNamesConsumesThemAllAndFails) {
  EXPECT_EQ(Parse(L"12 P A B 3 a.dll b.dll"), E_INVALIDARG);
  EXPECT_EQ(Files(*run_), (Words{L"a.dll", L"b.dll"}));
  EXPECT_TRUE(run_->postPatchCommand.IsEmpty());
  EXPECT_TRUE(EndsWith(log_.Text(), Lines({"There are 3 files to patch", "File: \"a.dll\"",
                                           "File: \"b.dll\"", "Only 2 filenames were specified"})))
      << log_.Text();
}

TEST_F(RunArgumentsTest, ACommandLineEndingAfterTheNamesHasNoPostPatchCommand) {
  EXPECT_EQ(Parse(kExampleHead), E_INVALIDARG);
  EXPECT_EQ(Files(*run_), (Words{L"bin\\client.dll", L"data\\strings.dat"}));
  // The stray full stop opens the following line.
  EXPECT_EQ(log_.Text(),
            kExampleHeadLines + kExampleParsedLines +
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
