// Formatting, code-page conversion, failure results, path strings, name keys and the run log's
// lines.

#include <algorithm>

#include "foundation/code_page.h"
#include "foundation/format.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

std::string Narrow(const wchar_t* text, UINT codePage) {
  SharedString narrow("old");
  ConvertToCodePage(text, narrow, codePage);
  return narrow.Chars();
}

TEST(FormatTest, ResultsHaveTheirExactSizeNothingIsTheSharedEmptyStringAndFailuresNeverSucceed) {
  SharedWString wide;
  EXPECT_EQ(Format(wide, L"%ls-%d", L"abc", 42), 6);
  EXPECT_TRUE(wide.Equals(L"abc-42") && HeaderOf(wide)->capacity == 7) << wide.Chars();
  EXPECT_TRUE(Format(wide, L"") == 0 && HeaderOf(wide) == HeaderOf(SharedWString()));
  const std::string own = "a long text that fills a block of its own";
  SharedString narrow(own.c_str());
  // Its own text as arguments.
  EXPECT_EQ(Format(narrow, "<%s|%s>", narrow.Chars(), narrow.Chars()), 85);
  EXPECT_EQ(narrow.Chars(), "<" + own + "|" + own + ">");
  EXPECT_TRUE(Format(narrow, "%s", "") == 0 && HeaderOf(narrow) == HeaderOf(SharedString()));
  // A wide argument the narrow formatter cannot take goes through wide formatting and UTF-8,
  // where every narrow text or character conversion stays narrow, whatever its flags, width or
  // precision, and %S stays wide.
  EXPECT_TRUE(Format(narrow, "%ls|%%%s|%5s|%-3s|%.2s|%c|%S", kWideHan, "a", "b", "c", "def", '\xE9',
                     L"wide") == 29 &&
              narrow.Chars() == std::string(kUtf8Han) + "|%a|    b|c  |de|\xC3\xA9|wide");
  testing::internal::CaptureStdout();
  EXPECT_EQ(HeaderOf(SystemErrorText(0x20001234)), HeaderOf(SharedWString()));  // no message
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FormatMessage failed\n");
  // Failure results pass unchanged; a failure whose call left no code never reads as success.
  EXPECT_EQ(FailureResult(0x80004001u), E_NOTIMPL);
  EXPECT_EQ(FailureResult(ERROR_SUCCESS), E_FAIL);
  EXPECT_EQ(FailureResult(ERROR_SUCCESS, E_ACCESSDENIED), E_ACCESSDENIED);
}

TEST(CodePageTest, ConversionsBothWaysWithTheirSubstitutesAndDiagnostics) {
  SharedWString wide(L"x");
  AppendFromCodePage(wide, "abc", 0);
  EXPECT_TRUE(wide.Equals(L"xabc") && FromCodePage(kUtf8Han, CP_UTF8).Equals(kWideHan));
  ConvertFromCodePage(nullptr, wide, 0);
  EXPECT_EQ(HeaderOf(wide), HeaderOf(SharedWString()));
  EXPECT_EQ(Narrow(kWideHan, 1252) + Narrow(L"\x00E9", 1252), "a<0x4E2D>z\xE9");
  EXPECT_EQ(Narrow(L"x\x00E9", 12345) + Narrow(L"", CP_UTF8), "x<0x00E9>");
  EXPECT_EQ(Utf8(FromCodePage("abc", 12345).Chars()),
            "Could not determine number of bytes needed to convert from codepage 12345! "
            "GetLastError 87 (0x00000057)\n");
}

// Names order and fold as the system's own ordinal table does with slashes as backslashes, also
// where ASCII meets other characters, prefixes and characters outside the BMP.
TEST(NameKeyTest, NamesCompareAndFoldAsTheSystemsTableDoes) {
  // Split at each bar; the last name is empty.
  const std::wstring list =
      L"data/Pack01\\a.txt|DATA\\pack01/A.TXT|data\\pack01|data\\pack01\\a.txt2|x\x00e9t\x00e9.dat|"
      L"X\x00c9T\x00c9.DAT|x\x00e9t\x00e8.dat|x_|xz|\x03c3-a|\x03a3-A|\xd801\xdc28|\xd801\xdc00|"
      L"a\x00df|A\x1e9e|";
  std::vector<std::wstring> names(1);
  for (const wchar_t c : list) {
    if (c == L'|') {
      names.emplace_back();
    } else {
      names.back().push_back(c);
    }
  }
  const auto system = [](std::wstring left, std::wstring right) {
    std::replace(left.begin(), left.end(), L'/', L'\\');
    std::replace(right.begin(), right.end(), L'/', L'\\');
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) -
           CSTR_EQUAL;
  };
  for (const std::wstring& a : names) {
    for (const std::wstring& b : names) {
      const int expected = system(a, b);
      const SharedWString left(a.c_str()), right(b.c_str());
      EXPECT_EQ(CompareNames(left, right), expected) << Utf8(a) << " | " << Utf8(b);
      EXPECT_EQ(NameKey(left) == NameKey(right), expected == 0) << Utf8(a) << " | " << Utf8(b);
    }
  }
}

// A separator goes between the parts, one of two meeting separators is dropped, and a qualified
// part replaces the base.
TEST(PathStringsTest, JoinAddsOrDropsASeparatorPartsSplitAtTheLastSeparatorLongPathsGoLong) {
  const wchar_t* const joins[][3] = {
      {L"C:\\a", L"", L"C:\\a"},    {L"", L"b\\c", L"b\\c"},       {L"C:\\a", L"D:x", L"D:x"},
      {L"C:\\a", L"/\\x", L"/\\x"}, {L"C:\\a", L"b", L"C:\\a/b"},  {L"C:", L"b", L"C:b"},
      {L"a/", L"/b", L"a/b"},       {L"a\\\\", L"\\b", L"a\\\\b"}, {L"C:\\a", L"\\b", L"C:\\a\\b"}};
  for (const auto& [base, other, expected] : joins) {
    SharedWString path(base);
    JoinPath(path, SharedWString(other));
    EXPECT_STREQ(path.Chars(), expected) << base << " + " << other;
  }
  // Parts split at the last separator and the last dot; bytes above 0x7F are ordinary
  // characters, not separators.
  const char* const parts[][3] = {
      {"a\\b.c.x", "b.c.x", "a\\b.c"},          {"d.x/n", "n", "d.x/n"},    {"C:.x", ".x", "C:"},
      {"\xDC\xAF.x", "\xDC\xAF.x", "\xDC\xAF"}, {"C:\\a\\", "", "C:\\a\\"}, {"n.", "n.", "n"}};
  for (const auto& [input, fileName, stem] : parts) {
    SharedString name(input), withoutExtension(input);
    FileNamePart(name);
    RemoveExtension(withoutExtension);
    EXPECT_STREQ(name.Chars(), fileName) << input;
    EXPECT_STREQ(withoutExtension.Chars(), stem) << input;
  }
  // From 248 characters on, a full path takes the form Win32 calls take at any length.
  const std::wstring a(244, L'a');
  EXPECT_EQ(LongPathForm((L"C:\\" + a).c_str()).Chars(), L"C:\\" + a);
  EXPECT_EQ(LongPathForm((L"C:\\b" + a).c_str()).Chars(), L"\\\\?\\C:\\b" + a);
  EXPECT_EQ(LongPathForm((L"\\\\s\\" + a).c_str()).Chars(), L"\\\\?\\UNC\\s\\" + a);
  EXPECT_EQ(LongPathForm((L"\\\\?\\C:\\" + a).c_str()).Chars(), L"\\\\?\\C:\\" + a);
}

// What the log writes: arguments escaped, the pattern's own line ends and a failure report's
// system text line end kept, every character beyond ASCII in UTF-8.
TEST(RunLogTest, ArgumentsCannotBreakALineAndNoLinkNorMissingFolderTakesTheLog) {
  LogCapture log;
  RunLog::Write("%ls|%s|%d%%s\n", L"a\r\nb\x1b\t%\x2028", "c\nd", 3);
  RunLog::Write("error %d %ls\n", 5, L"Two\r\nlines.\r\n");
  RunLog::Write("File: \"%ls\" %ls\n", L"x\r\n", kWideHan);
  RunLog::Write("%ls\n", L"\x00e9\x00b9");
  RunLog::Write("error: %d %ls", 2, L"Plain.\r\n");
  EXPECT_EQ(log.Text(),
            "a\\r\\nb\\x1b\t%\\u2028|c\\nd|3%s\r\nerror 5 Two\\r\\nlines.\r\r\n\r\n"
            "File: \"x\\r\\n\" " +
                std::string(kUtf8Han) + "\r\n\xC3\xA9\xC2\xB9\r\nerror: 2 Plain.\r\r\n");
  // Never through a link at the log's name or at its folder, to a file or to a name with nothing
  // there yet, planted before the first line or after one went to the log itself; and a log whose
  // folder is missing loses the line, the folder not being made for it. The link's place and its
  // target: no place is no Logs folder at all, no target a hard link.
  const wchar_t* const cases[][2] = {{L"Logs\\Quorvel.log", L"../Outside/log.txt"},
                                     {L"Logs\\Quorvel.log", L"../Outside/missing.txt"},
                                     {L"Logs\\Quorvel.log", nullptr},
                                     {L"Logs", L"Outside"},
                                     {nullptr, nullptr}};
  const std::wstring captured = RunLog::Path().Chars();
  ScopedTempDir dir;
  for (const bool afterALine : {false, true}) {
    for (const auto& c : cases) {
      const std::wstring root =
          dir / (L"case" + std::to_wstring(&c - cases) + (afterALine ? L"b" : L"a")) + L"\\";
      SCOPED_TRACE("row: " + std::to_string(&c - cases) + (afterALine ? " after a line" : ""));
      WriteFileBytes(root + L"Outside\\Quorvel.log", "outside log");
      // The last line went to the file outside, by its own path: a log given a new path asks
      // again what its file is.
      RunLog::SetPath(L"%ls", (root + L"Outside\\log.txt").c_str());
      RunLog::Write("outside log");
      ASSERT_EQ(ReadFileBytes(root + L"Outside\\log.txt"), "outside log");
      RunLog::SetPath(L"%ls", (root + L"Logs\\Quorvel.log").c_str());
      if (c[0] != nullptr) {
        CreateDirectoryW((root + L"Logs").c_str(), nullptr);
        if (afterALine) {
          RunLog::Write("A line of the run\n");
          ASSERT_EQ(ReadFileBytes(root + L"Logs\\Quorvel.log"), "A line of the run\r\n");
        }
        ASSERT_TRUE(Link(root + c[0], c[1], root + L"Outside\\log.txt", afterALine));
      }
      const std::string before = TreeFingerprint(root);

      RunLog::Write("A line of the run\n");

      RunLog::SetPath(L"%ls", captured.c_str());
      EXPECT_EQ(TreeFingerprint(root), before);
    }
  }
}

}  // namespace
}  // namespace quorvel::test
