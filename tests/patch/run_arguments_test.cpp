#include "patch/run_arguments.h"

#include <memory>
#include <string>
#include <vector>

#include "patch/run_steps.h"
#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

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

const std::wstring kExampleHead =
    L"-text \"Updating game files\" 4242 C:\\Game\\Patch C:\\Game C:\\Game\\Backup 2 "
    L"bin\\client.dll data\\strings.dat";

class RunArgumentsTest : public test::TempDirTest {
 protected:
  void SetUp() override { test::WriteFileBytes(launcher_, "MZ"); }
  HRESULT Parse(const std::wstring& commandLine) {
    log_.Clear();
    run_ = std::make_unique<PatchRun>();
    return ParseRunArguments(*run_, commandLine.c_str());
  }
  Words Files() const { return test::Texts(run_->files); }
  bool LogEndsWith(const std::string& tail) const { return test::EndsWith(log_.Text(), tail); }

  test::LogCapture log_;
  std::unique_ptr<PatchRun> run_;
  const std::wstring launcher_ = At(L"Game\\DastryLauncher.exe");
};

TEST_F(RunArgumentsTest, TheWorkedExampleWithItsCommandOnDisk) {
  ASSERT_EQ(Parse(kExampleHead + L" \"" + launcher_ + L"\" -restart"), S_OK);
  EXPECT_STREQ(run_->displayText.Chars(), L"Updating game files");
  EXPECT_EQ(run_->parentPid, 4242u);
  EXPECT_STREQ(run_->patchDirectory.Chars(), L"C:\\Game\\Patch");
  EXPECT_STREQ(run_->applicationDirectory.Chars(), L"C:\\Game");
  EXPECT_STREQ(run_->backupDirectory.Chars(), L"C:\\Game\\Backup");
  EXPECT_EQ(Files(), (Words{L"bin\\client.dll", L"data\\strings.dat"}));
  EXPECT_EQ(run_->postPatchCommand.Chars(), launcher_);
  EXPECT_STREQ(run_->postPatchArguments.Chars(), L"\"-restart\"");
  const std::string launcher = Utf8(launcher_);
  EXPECT_EQ(log_.Text(), Lines({"Argument List:",
                                "\t-text",
                                "\tUpdating game files",
                                "\t4242",
                                "\tC:\\Game\\Patch",
                                "\tC:\\Game",
                                "\tC:\\Game\\Backup",
                                "\t2",
                                "\tbin\\client.dll",
                                "\tdata\\strings.dat",
                                "\t" + launcher,
                                "\t-restart",
                                "parent pid: 4242",
                                "Patch Directory:       <C:\\Game\\Patch>",
                                "Application Directory: <C:\\Game>",
                                "Backup Directory:      <C:\\Game\\Backup>",
                                "There are 2 files to patch",
                                "File: \"bin\\client.dll\"",
                                "File: \"data\\strings.dat\"",
                                "Post Patch Command: <" + launcher + " \"-restart\">"}));
}

TEST_F(RunArgumentsTest, AMissingCommandIsReplacedByTheRunningLaunchersExecutable) {
  test::WaitingProcess launcher;
  const std::wstring missing = At(L"Game\\Missing Launcher.exe");
  ASSERT_EQ(Parse(std::to_wstring(launcher.Id()) + L" P A B 0 \"" + missing + L"\" -restart"),
            S_OK);
  const std::string executable = Utf8(test::WaitingProcess::ExecutablePath());
  EXPECT_EQ(Utf8(run_->postPatchCommand.Chars()), executable);
  EXPECT_EQ(run_->postPatchArguments.Chars(), L"\"" + missing + L"\" \"-restart\"");
  EXPECT_TRUE(LogEndsWith(
      Lines({"Could not find post patch command: " + Utf8(missing),
             "Post Patch Command: <" + executable + " \"" + Utf8(missing) + "\" \"-restart\">"})))
      << log_.Text();
}

TEST_F(RunArgumentsTest, FieldsAreReadAsTheyComeAndACommandNotFoundStaysAnArgument) {
  DWORD ended = 0;  // a process that has ended cannot be asked for its executable
  {
    test::WaitingProcess launcher;
    ended = launcher.Id();
  }
  const std::wstring missing = At(L"nowhere.exe"), launcher = L"\"" + launcher_ + L"\"";
  const struct {
    std::wstring commandLine;
    DWORD pid;
    std::wstring command, arguments;
    std::string logTail;
  } cases[] = {
      {std::to_wstring(ended) + L" P A B 0 " + missing, ended, L"", L"\"" + missing + L"\"",
       Lines({"Could not find post patch command: " + Utf8(missing),
              "Post Patch Command: < \"" + Utf8(missing) + "\">"})},
      // A folder counts as found; no arguments leave a space.
      {L"0x1A P A B 0 \"" + Dir() + L"\"", 26, Dir(), L"",
       Lines({"There are 0 files to patch", "Post Patch Command: <" + Utf8(Dir()) + " >"})},
      // Numbers read as C reads them; a count that is no number reads as 0.
      {L"010 P A B many " + launcher + L" a \"b c\"", 8, launcher_, L"\"a\" \"b c\"",
       Lines({"There are 0 files to patch",
              "Post Patch Command: <" + Utf8(launcher_) + " \"a\" \"b c\">"})},
      {L"12abc P A B 0x1 -text " + launcher, 12, launcher_, L"", "File: \"-text\"\r\n"}};
  for (const auto& c : cases) {
    ASSERT_EQ(Parse(c.commandLine), S_OK) << Utf8(c.commandLine);
    EXPECT_EQ(run_->parentPid, c.pid);
    EXPECT_TRUE(run_->displayText.IsEmpty());
    EXPECT_EQ(run_->postPatchCommand.Chars(), c.command);
    EXPECT_EQ(run_->postPatchArguments.Chars(), c.arguments);
    EXPECT_TRUE(test::Has(log_.Text(), "parent pid: " + std::to_string(c.pid) + "\r\n"));
    EXPECT_TRUE(test::Has(log_.Text(), c.logTail)) << log_.Text();
  }
}

TEST_F(RunArgumentsTest, EachMissingOrFaultyArgumentHasItsMessage) {
  const struct {
    std::wstring commandLine;
    std::string logTail;
  } cases[] = {
      {L"  \"\"  ", Lines({"Argument List:", "No arguments on the command line"})},
      {L"-text", Lines({"\t-text", "No display text given"})},
      {L"-text \"Updating\"", Lines({"\tUpdating", "No parent PID given"})},
      {L"-TEXT hello 1 P A B 0 x", Lines({"\tx", "Parent PID cannot be zero"})},
      {L"12", Lines({"parent pid: 12", "No patch directory specified"})},
      {L"12 P", Lines({"Patch Directory:       <P>", "No application directory specified"})},
      {L"12 P A", Lines({"Application Directory: <A>", "No backup directory specified"})},
      {L"12 P A B", Lines({"Backup Directory:      <B>",
                           "No file count or file list given on the command line"})},
      {L"12 P A B 3 a.dll b.dll", Lines({"There are 3 files to patch", "File: \"a.dll\"",
                                         "File: \"b.dll\"", "Only 2 filenames were specified"})},
      // The stray full stop opens the following line.
      {kExampleHead, Lines({"File: \"data\\strings.dat\"", "There is no post patch command",
                            ".Failed to build post patch command"})}};
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.commandLine), E_INVALIDARG) << Utf8(c.commandLine);
    EXPECT_TRUE(LogEndsWith(c.logTail)) << log_.Text();
  }
  EXPECT_EQ(Files(), (Words{L"bin\\client.dll", L"data\\strings.dat"}));
  EXPECT_TRUE(run_->postPatchCommand.IsEmpty());
}

TEST(FileListTest, AnEmptyNameFailsAndTheListIsEmptiedFirst) {
  test::LogCapture log;
  PatchRun run;
  run.files.push_back(SharedWString(L"stale"));
  ArgumentList arguments = {SharedWString(L"2"), SharedWString(L"a"), SharedWString(),
                            SharedWString(L"cmd")};
  EXPECT_EQ(ParseFileList(run, arguments), E_INVALIDARG);
  EXPECT_EQ(test::Texts(run.files), (Words{L"a"}));
  EXPECT_TRUE(test::EndsWith(log.Text(),
                             "File: \"a\"\r\nThere was an empty filename in the command line\r\n"));
}

}  // namespace
}  // namespace quorvel
