// The run's fields read from the command line's arguments.
#include "patch/arguments/run_arguments.h"

#include <memory>
#include <tuple>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

class RunArgumentsTest : public PatchTest {
 protected:
  HRESULT Parse(const std::wstring& commandLine) {
    log_.Clear();
    parsed_ = std::make_unique<PatchRun>();
    return ParseRunArguments(*parsed_, commandLine.c_str());
  }

  std::unique_ptr<PatchRun> parsed_;
};

// A command that does not exist becomes the first argument of the running launcher's
// executable; a process that has ended cannot be asked for its executable.
TEST_F(RunArgumentsTest, FieldsAreReadAsTheyComeAndACommandNotFoundStaysAnArgument) {
  const std::wstring launcher = At(L"Game\\DastryLauncher.exe"), missing = At(L"no where.exe");
  WriteFileBytes(launcher, "MZ");
  WaitingProcess running;
  DWORD ended = 0;
  {
    WaitingProcess gone;
    ended = gone.Id();
  }
  const std::string runningImage = Utf8(ProgramFolder() + L"\\waiting_process.exe");
  const struct {
    std::wstring commandLine;
    DWORD pid;
    std::string command, arguments, log;
  } cases[] = {
      {std::to_wstring(running.Id()) + L" P A B 0 \"" + missing + L"\" -restart", running.Id(),
       runningImage, "\"" + Utf8(missing) + "\" \"-restart\"",
       "Could not find post patch command: " + Utf8(missing) + "\r\nPost Patch Command: <" +
           runningImage + " \"" + Utf8(missing) + "\" \"-restart\">\r\n"},
      {std::to_wstring(ended) + L" P A B 0 \"" + missing + L"\"", ended, "",
       "\"" + Utf8(missing) + "\"", "Post Patch Command: < \"" + Utf8(missing) + "\">\r\n"},
      // A folder counts as found; no arguments leave a space.
      {L"0x1A P A B 0 \"" + Dir() + L"\"", 26, Utf8(Dir()), "",
       "There are 0 files to patch\r\nPost Patch Command: <" + Utf8(Dir()) + " >\r\n"},
      // Numbers read as C reads them: a count that is no number reads as 0.
      {L"010 P A B many \"" + launcher + L"\" a \"b c\"", 8, Utf8(launcher), "\"a\" \"b c\"",
       "There are 0 files to patch\r\n"},
      // Only a first argument "-text" is the option.
      {L"12abc P A B 0x1 -text \"" + launcher + L"\"", 12, Utf8(launcher), "",
       "File: \"-text\"\r\n"}};
  for (const auto& c : cases) {
    ASSERT_EQ(Parse(c.commandLine), S_OK) << Utf8(c.commandLine);
    EXPECT_EQ(std::make_tuple(parsed_->parentPid, Utf8(parsed_->displayText.Chars()),
                              Utf8(parsed_->postPatchCommand.Chars()),
                              Utf8(parsed_->postPatchArguments.Chars())),
              std::make_tuple(c.pid, "", c.command, c.arguments));
    EXPECT_PRED2(Has, log_.Text(), "parent pid: " + std::to_string(c.pid) + "\r\n");
    EXPECT_PRED2(Has, log_.Text(), c.log);
  }
}

TEST_F(RunArgumentsTest, EachMissingOrFaultyArgumentHasItsMessage) {
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"  \"\"  ", "Argument List:\r\nNo arguments on the command line"},
      {L"-text", "\t-text\r\nNo display text given"},
      {L"-text \"Updating\"", "\tUpdating\r\nNo parent PID given"},
      {L"-TEXT hello 1 P A B 0 x", "\tx\r\nParent PID cannot be zero"},
      {L"12", "parent pid: 12\r\nNo patch directory specified"},
      {L"12 P", "Patch Directory:       <P>\r\nNo application directory specified"},
      {L"12 P A", "Application Directory: <A>\r\nNo backup directory specified"},
      {L"12 P A B",
       "Backup Directory:      <B>\r\nNo file count or file list given on the command line"},
      {L"12 P A B 3 a.dll b.dll",
       "There are 3 files to patch\r\nFile: \"a.dll\"\r\nFile: \"b.dll\"\r\nOnly 2 filenames were "
       "specified"},
      // The stray full stop opens the following line.
      {L"12 P A B 1 a.dll",
       "File: \"a.dll\"\r\nThere is no post patch command\r\n.Failed to build post patch command"}};
  for (const auto& [commandLine, log] : cases) {
    EXPECT_EQ(Parse(commandLine), E_INVALIDARG) << Utf8(commandLine);
    EXPECT_PRED2(EndsWith, log_.Text(), log + "\r\n");
  }
  EXPECT_EQ(Texts(parsed_->files), std::vector<std::wstring>{L"a.dll"});
  EXPECT_STREQ(parsed_->postPatchCommand.Chars(), L"");
  ArgumentList arguments = {SharedWString(L"2"), SharedWString(L"a"), SharedWString(),
                            SharedWString(L"cmd")};
  EXPECT_EQ(ParseFileList(*parsed_, arguments), E_INVALIDARG);
  EXPECT_EQ(Texts(parsed_->files), std::vector<std::wstring>{L"a"}) << "emptied first";
  EXPECT_PRED2(EndsWith, log_.Text(),
               "File: \"a\"\r\nThere was an empty filename in the command line\r\n");
}

}  // namespace
}  // namespace quorvel::test
