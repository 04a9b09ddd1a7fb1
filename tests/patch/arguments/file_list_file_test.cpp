#include "patch/arguments/file_list_file.h"

#include "patch/entry/run_driver.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

class FileListFileTest : public PatchTest {
 protected:
  // A run's command line whose names are those of the list file at list.
  std::wstring CommandLine(const std::wstring& list) const {
    return L"12 " + At(L"Patch") + L" " + At(L"Game") + L" " + At(L"Backup") + L" @" + list + L" " +
           Dir();
  }
};

// In the count's place, "@" and a path name a file of names: UTF-16 LE, or UTF-8 with its mark,
// CR LF and a last line without its end. When the last of thousands is locked, the run puts
// every other back; once it is free the list applies whole, and the same list again is known.
TEST_F(FileListFileTest, AListFileOfThousandsOfNamesIsAppliedRevertedAndKnownAgain) {
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
  PatchRun locked;
  ASSERT_EQ(ParseRunArguments(locked, CommandLine(At(L"utf16.txt")).c_str()), S_OK);
  {
    FileLock lock(Game(run_.files.back().Chars()));
    EXPECT_EQ(PatchFiles(locked), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(tree(), before);
  for (const wchar_t* list : {L"utf8.txt", L"utf16.txt"}) {
    PatchRun parsed;
    log_.Clear();
    ASSERT_EQ(ParseRunArguments(parsed, CommandLine(At(list)).c_str()), S_OK);
    EXPECT_EQ(Texts(parsed.files), Texts(run_.files)) << Utf8(list);
    EXPECT_TRUE(Has(log_.Text(), "Reading the file list <" + Utf8(At(list)) +
                                     ">\r\nThere are 2000 files to patch\r\nFile: \"" +
                                     Utf8(run_.files.front().Chars()) + "\"\r\n"));
    EXPECT_EQ(Count(log_.Text(), "\r\nFile: \""), 2000u);
    EXPECT_EQ(PatchFiles(parsed), S_OK);
  }
}

// A list that cannot be read whole as names fails the run as a malformed command line does,
// before anything is touched, with one line that names the file and, for its text, the line.
TEST_F(FileListFileTest, EachKindOfBadListFileFailsTheRunWithItsOwnMessage) {
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
      {list, "a.txt\n\xEF\xBB\xBF_b", refused(2, "the line holds the byte-order mark U+FEFF")},
      {list, std::string(32768, 'a'), refused(1, "the name is longer than 32767 characters")}};
  for (const auto& c : cases) {
    if (c.path == list) {
      WriteFileBytes(list, c.bytes);
    }
    log_.Clear();
    EXPECT_EQ(RunPatch(CommandLine(c.path).c_str()), 0);
    EXPECT_PRED2(EndsWith, MaskStamps(log_.Text()),
                 c.log + "\r\n======= Quorvel Failed <stamp> ============\r\n");
  }
  EXPECT_EQ(TreeFingerprint(At(L"Game")) + TreeFingerprint(At(L"Patch")), before);
  EXPECT_FALSE(PathExists(At(L"Backup")));
}

}  // namespace
}  // namespace quorvel::test
