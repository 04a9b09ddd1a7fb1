// The command line: its split into arguments, the run's fields read from them, and the
// environment references of the launcher's arguments.
#include "patch/run_arguments.h"

#include <cstdlib>
#include <memory>

#include "foundation/heap.h"
#include "patch/command_line.h"
#include "patch/environment_references.h"
#include "patch/file_list_file.h"
#include "patch/run_driver.h"
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

  // A command line up to the "@" of a list file.
  std::wstring Folders() const {
    return L"12 " + At(L"Patch") + L" " + At(L"Game") + L" " + At(L"Backup") + L" @";
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

// In the count's place, "@" and a path name a file of names: UTF-16 LE, or UTF-8 with its mark,
// CR LF and a last line without its end. When the last of thousands is locked, the run puts
// every other back; once it is free the list applies whole, and the same list again is known.
TEST_F(RunArgumentsTest, AListFileOfThousandsOfNamesIsAppliedRevertedAndKnownAgain) {
  std::string utf8 = "\xEF\xBB\xBF";
  std::wstring utf16 = L"\xFEFF";
  for (int i = 0; i < 2000; ++i) {
    const std::wstring name =
        L"d" + std::to_wstring(i % 50) + L"\\\x00E9\x4E2D" + std::to_wstring(i);
    Pairs({name.c_str()});
    utf8 += (i > 0 ? "\r\n" : "") + Utf8(name);
    utf16 += name + L"\n";
  }
  WriteFileBytes(At(L"utf8.txt"), utf8);
  WriteFileBytes(At(L"utf16.txt"), std::string(reinterpret_cast<const char*>(utf16.data()),
                                               utf16.size() * sizeof(wchar_t)));
  // The run journal stays in the game folder; every other byte comes back.
  const auto tree = [this] {
    return TreeFingerprint(At(L"Game"), L"Quorvel.journal") + TreeFingerprint(At(L"Patch"));
  };
  const std::string before = tree();
  ASSERT_EQ(Parse(Folders() + At(L"utf16.txt") + L" " + Dir()), S_OK);
  {
    FileLock lock(Game(run_.files.back().Chars()));
    EXPECT_EQ(PatchFiles(*parsed_), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(tree(), before);
  for (const wchar_t* list : {L"utf8.txt", L"utf16.txt"}) {
    ASSERT_EQ(Parse(Folders() + At(list) + L" " + Dir()), S_OK);
    EXPECT_EQ(Texts(parsed_->files), Texts(run_.files));
    EXPECT_TRUE(Has(log_.Text(), "Reading the file list <" + Utf8(At(list)) +
                                     ">\r\nThere are 2000 files to patch\r\nFile: \"" +
                                     Utf8(run_.files.front().Chars()) + "\"\r\n"));
    EXPECT_EQ(Count(log_.Text(), "\r\nFile: \""), 2000u);
    EXPECT_EQ(PatchFiles(*parsed_), S_OK);
  }
  EXPECT_TRUE(Has(log_.Text(), "The patch of this list is already applied: nothing to do\r\n"));
  EXPECT_EQ(ReadFileBytes(Game(run_.files.back().Chars())),
            "new " + Utf8(run_.files.back().Chars()));
}

// A list that cannot be read whole as names fails the run as a malformed command line does,
// before anything is touched, with one line that names the file and, for its text, the line.
TEST_F(RunArgumentsTest, EachKindOfBadListFileFailsTheRunWithItsOwnMessage) {
  Pairs({L"a.txt"});
  const std::string before = TreeFingerprint(At(L"Game")) + TreeFingerprint(At(L"Patch"));
  const std::wstring list = At(L"list.txt"), large = At(L"large.txt");
  WriteFileBytes(large, std::string(kFileListMaxBytes + 1, 'a'));
  const auto refused = [&](int line, const std::string& reason) {
    return "Refusing the file list <" + Utf8(list) + ">, line " + std::to_string(line) + ": " +
           reason + "\r\n";
  };
  const std::string notUtf8 =
      "it is not UTF-8 text (UTF-16 LE text begins with its byte-order mark)";
  const std::string bom = "it begins with the byte-order mark of UTF-";
  const std::string control = "the line holds the control character U+00";
  const struct {
    std::wstring path;
    std::string bytes, log;
  } cases[] = {
      {At(L"none.txt"), "",
       "Could not open the file list <" + Utf8(At(L"none.txt")) +
           ">, HResult: 0x80070002, error: 2 " + LoggedSystemMessage(2)},
      {L"", "", "No file list path given after the @\r\n"},
      {L"NUL", "", "Refusing the file list <NUL>: it is no file on disk\r\n"},
      {large, "",
       "Refusing the file list <" + Utf8(large) +
           ">: it holds 67108865 bytes, more than the 67108864 a list may hold\r\n"},
      {list, "\xEF\xBB\xBF", refused(1, "it holds no names")},
      {list, "\xFE\xFF", refused(1, bom + "16 BE, not UTF-8 or UTF-16 LE")},
      {list, std::string("\xFF\xFE\0\0a\0\0\0", 8),
       refused(1, bom + "32 LE, not UTF-8 or UTF-16 LE")},
      {list, std::string("a\0\n\0", 4), refused(1, notUtf8)},
      {list, "a.txt\n\xC0\xAF", refused(2, notUtf8)},
      {list, std::string("\xFF\xFEz\0\n\0\0\xD8", 8), refused(2, "it is not UTF-16 LE text")},
      {list, "a.txt\r\n\r\nb", refused(2, "the line is empty")},
      {list, "a.txt\r", refused(1, control + "0D")},
      {list, "\xC2\x85", refused(1, control + "85")},
      {list, std::string(32768, 'a'), refused(1, "the name is longer than 32767 characters")}};
  for (const auto& c : cases) {
    if (c.path == list) {
      WriteFileBytes(list, c.bytes);
    }
    log_.Clear();
    EXPECT_EQ(RunPatch((Folders() + c.path + L" " + Dir()).c_str()), 0);
    EXPECT_TRUE(EndsWith(MaskStamps(log_.Text()),
                         c.log + "\r\n======= Quorvel Failed <stamp> ============\r\n"))
        << log_.Text();
  }
  EXPECT_EQ(TreeFingerprint(At(L"Game")) + TreeFingerprint(At(L"Patch")), before);
  EXPECT_FALSE(PathExists(At(L"Backup")));
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
