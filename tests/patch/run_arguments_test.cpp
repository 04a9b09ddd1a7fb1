// The command line: its split into arguments, the run's fields read from them, and the
// environment references of the launcher's arguments.
#include "patch/run_arguments.h"

#include <cstdlib>
#include <memory>

#include "foundation/heap.h"
#include "patch/command_line.h"
#include "patch/environment_references.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

using Words = std::vector<std::wstring>;

const std::string kParseFailure = "Could not parse the command line to get the argument list\r\n";

// Only an unquoted space separates; quotes switch, with no escape, and are dropped; the log's
// text mode writes each line feed as CR LF, also one inside an argument. A null line, an odd
// number of quotes or scratch storage that cannot grow (five arguments need the pointer array to
// grow twice) fails and keeps the list: leaving an argument out would shift the run's fields.
TEST(CommandLineTest, ArgumentsAreSplitAtUnquotedSpacesAndLoggedOrTheSplitFailsWhole) {
  const std::string list = "Argument List:\r\n";
  const wchar_t* const five = L"4242 C:\\P C:\\A C:\\B 1";
  const struct {
    const wchar_t* line;
    Words words;
    std::string log;
    uint32_t allocations = 99;
  } cases[] = {
      {L"", {}, list},
      {L"  a   b  ", {L"a", L"b"}, list + "\ta\r\n\tb\r\n"},
      {L"a\"b c\"d", {L"ab cd"}, list + "\tab cd\r\n"},
      {L"a\tb\r\n\x3000", {L"a\tb\r\n\x3000"}, list + "\ta\tb\\r\\n\xE3\x80\x80\r\n"},
      {L"a \"\" b", {L"a", L"b"}, list + "\ta\r\n\tb\r\n"},
      {L"\" \"", {L" "}, list + "\t \r\n"},
      {L"C:\\dir\\\" x\" y", {L"C:\\dir\\ x", L"y"}, list + "\tC:\\dir\\ x\r\n\ty\r\n"},
      {nullptr, {L"kept"}, "Error: No command line given\r\n" + kParseFailure},
      {L"1 \"C:\\Game 2 3\" \"x", {L"kept"}, "Error: Mismatched quote (\")\r\n" + kParseFailure},
      {five, {L"kept"}, kParseFailure, 0},
      {five, {L"kept"}, kParseFailure, 1},
      {five, {L"kept"}, kParseFailure, 2}};
  for (const auto& c : cases) {
    LogCapture log;
    ArgumentList arguments = {SharedWString(L"kept")};
    {
      AllocationFailureAfter failure(c.allocations);
      EXPECT_EQ(BuildArgumentList(c.line, arguments), c.words != Words{L"kept"}) << c.allocations;
    }
    EXPECT_EQ(Texts(arguments), c.words) << Utf8(c.line ? c.line : L"(null)");
    EXPECT_EQ(log.Text(), c.log);
  }
}

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
  const std::string runningImage = Utf8(WaitingProcess::ExecutablePath());
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
    EXPECT_TRUE(parsed_->parentPid == c.pid && parsed_->displayText.IsEmpty());
    EXPECT_EQ(Utf8(parsed_->postPatchCommand.Chars()), c.command);
    EXPECT_EQ(Utf8(parsed_->postPatchArguments.Chars()), c.arguments);
    EXPECT_TRUE(Has(log_.Text(), "parent pid: " + std::to_string(c.pid) + "\r\n"));
    EXPECT_TRUE(Has(log_.Text(), c.log)) << log_.Text();
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
    EXPECT_TRUE(EndsWith(log_.Text(), log + "\r\n")) << log_.Text();
  }
  EXPECT_TRUE(Texts(parsed_->files) == std::vector<std::wstring>{L"a.dll"} &&
              parsed_->postPatchCommand.IsEmpty());
  ArgumentList arguments = {SharedWString(L"2"), SharedWString(L"a"), SharedWString(),
                            SharedWString(L"cmd")};
  EXPECT_EQ(ParseFileList(*parsed_, arguments), E_INVALIDARG);
  EXPECT_EQ(Texts(parsed_->files), std::vector<std::wstring>{L"a"}) << "emptied first";
  EXPECT_TRUE(
      EndsWith(log_.Text(), "File: \"a\"\r\nThere was an empty filename in the command line\r\n"));
}

TEST(EnvironmentReferencesTest, ReferencesExpandPercentSignsFollowTheirRulesAndCyclesEnd) {
  const wchar_t* variables[] = {L"QV_RESULT=0x80070020",   L"QV_UNSET=",
                                L"QV_INNER=[%QV_RESULT%]", L"QV_SELF=<%%%QV_SELF%>",
                                L"QV_PING=ping %QV_PONG%", L"QV_PONG=pong %QV_PING%",
                                L"QV_HALF=half%"};
  for (const wchar_t* variable : variables) {
    _wputenv(variable);
  }
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\"-restart\"", L"\"-restart\""},
      {L"", L""},
      {L"\"%QV_RESULT%\" \"x\"", L"\"0x80070020\" \"x\""},
      {L"a%qv_result%b", L"a0x80070020b"},
      {L"100%% sure", L"100% sure"},
      {L"%%%%", L"%%"},
      {L"trailing%", L"trailing"},
      {L"a%QV_UNSET%b", L"ab"},
      {L"keep %QV_RESULT", L"keep 0x80070020"},
      {L"x %no such", L"x "},
      // An inserted value is scanned again; its trailing sign pairs with the text after it.
      {L"%QV_INNER% %QV_INNER%", L"[0x80070020] [0x80070020]"},
      {L"%QV_HALF%QV_RESULT%", L"half0x80070020"},
      // A reference inside its own inserted value is left as it is, also after a %% there.
      {L"%QV_SELF% and %QV_SELF%", L"<%%QV_SELF%> and <%%QV_SELF%>"},
      {L"%QV_PING%", L"ping pong %QV_PING%"}};
  for (const auto& [text, expanded] : cases) {
    EXPECT_STREQ(ExpandEnvironmentReferences(SharedWString(text)).Chars(), expanded) << text;
  }
  for (const wchar_t* variable : variables) {
    _wputenv(std::wstring(variable).substr(0, std::wstring(variable).find(L'=') + 1).c_str());
  }
}

}  // namespace
}  // namespace quorvel::test
