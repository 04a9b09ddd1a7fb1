#include "foundation/run_log.h"

#include "support/test_support.h"

namespace quorvel::test {
namespace {

// a, U+4E2D, z in UTF-16 and in UTF-8.
const wchar_t kWideHan[] = {L'a', 0x4E2D, L'z', 0};
const char kUtf8Han[] = "a\xE4\xB8\xADz";

// A log whose folder is missing loses the line, and the folder is not made for it.
TEST(RunLogTest, NothingIsWrittenIntoAMissingFolder) {
  LogCapture log;
  ScopedTempDir dir;
  RunLog::SetPath(L"%ls\\missing\\Quorvel.log", dir.Path().c_str());
  RunLog::Write("lost\n");
  EXPECT_TRUE(RemoveDirectoryW(dir.Path().c_str())) << "only an empty folder can be removed";
}

// What the log writes: arguments escaped, the pattern's own line ends and a failure report's
// system text line end kept, every character beyond ASCII in UTF-8.
TEST(RunLogTest, ArgumentsCannotBreakALine) {
  LogCapture log;
  const auto write = [](const char* format, auto... args) { RunLog::Write(format, args...); };
  write("%ls|%s|%d%%s\n", L"a\r\nb\x1b\t%\x2028", "c\nd", 3);
  write("error %d %ls\n", 5, L"Two\r\nlines.\r\n");
  write("File: \"%ls\" %ls\n", L"x\r\n", kWideHan);
  write("%ls\n", L"\x00e9\x00b9");
  write("error: %d %ls", 2, L"Plain.\r\n");
  EXPECT_EQ(log.Text(),
            "a\\r\\nb\\x1b\t%\\u2028|c\\nd|3%s\r\nerror 5 Two\\r\\nlines.\r\r\n\r\n"
            "File: \"x\\r\\n\" " +
                std::string(kUtf8Han) + "\r\n\xC3\xA9\xC2\xB9\r\nerror: 2 Plain.\r\r\n");
}

// Through a link at the log's name or at its folder, to a file or to a name with nothing there yet.
TEST(RunLogTest, TheLogIsNeverWrittenThroughALink) {
  const struct {
    const wchar_t* at;
    const wchar_t* target;  // none: a hard link
  } cases[] = {{L"Logs\\Quorvel.log", L"../Outside/log.txt"},
               {L"Logs\\Quorvel.log", L"../Outside/missing.txt"},
               {L"Logs\\Quorvel.log", nullptr},
               {L"Logs", L"Outside"}};
  LogCapture log;
  const std::wstring captured = RunLog::Path().Chars();
  ScopedTempDir dir;
  for (const auto& c : cases) {
    const std::wstring root = dir / (L"case" + std::to_wstring(&c - cases)) + L"\\";
    SCOPED_TRACE(Utf8(c.at) + (c.target == nullptr ? " hard" : ""));
    WriteFileBytes(root + L"Outside\\log.txt", "outside log");
    CreateDirectoryW((root + L"Logs").c_str(), nullptr);
    ASSERT_TRUE(Link(root + c.at, c.target, root + L"Outside\\log.txt"));
    const std::string before = TreeFingerprint(root);
    RunLog::SetPath(L"%ls", (root + L"Logs\\Quorvel.log").c_str());

    RunLog::Write("A line of the run\n");

    RunLog::SetPath(L"%ls", captured.c_str());
    EXPECT_EQ(TreeFingerprint(root), before);
  }
}

}  // namespace
}  // namespace quorvel::test
