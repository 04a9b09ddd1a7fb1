#include "patch/texts/player_texts.h"

#include "patch/arguments/run_arguments.h"
#include "patch/texts/player_language.h"
#include "resources/resource.h"
#include "support/patch_test.h"

namespace quorvel::test {
namespace {

// Every language the module carries holds every text, with the placeholders of the English one.
TEST(PlayerTextsTest, EveryLanguageHoldsEveryTextWithItsPlaceholders) {
  const LANGID carried[] = {0x0409, 0x0407, 0x040C, 0x0C0A, 0x0410, 0x0416, 0x0415,
                            0x0419, 0x041F, 0x0411, 0x0412, 0x0804, 0x0404};
  size_t index = 0;
  for (const PlayerTextInfo& info : PlayerTextTable()) {
    EXPECT_EQ(static_cast<size_t>(info.text), index++) << info.key;
    for (LANGID language : carried) {
      const SharedWString text = ModuleText(info.resourceId, language);
      std::vector<std::wstring> names;
      EXPECT_TRUE(ReadPlaceholders(text.Chars(), names)) << info.key << " " << language;
      EXPECT_EQ(names.size(), info.placeholders.size()) << info.key << " " << language;
      for (const std::wstring& name : info.placeholders) {
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << info.key << " " << language;
      }
    }
  }
  EXPECT_EQ(index, static_cast<size_t>(PlayerText::kCount));
}

// As Windows picks resources: the player's language, the same language of another country (of
// the same script for Chinese), then English; a studio's sections from the most specific tag.
TEST(PlayerTextsTest, ThePlayersLanguageFallsBackToItsKinThenToEnglish) {
  struct Row {
    LANGID player;
    std::vector<LANGID> module;
    std::vector<std::wstring> tags;
  };
  const Row rows[] = {
      {0x0407, {0x0407, 0x0409}, {L"de-de", L"de"}},
      {0x0C07, {0x0407, 0x0409}, {L"de-at", L"de"}},
      {0x0816, {0x0416, 0x0409}, {L"pt-pt", L"pt"}},
      {0x080A, {0x0C0A, 0x0409}, {L"es-mx", L"es"}},
      {0x0C04, {0x0404, 0x0409}, {L"zh-hk", L"zh-hant", L"zh"}},
      {0x1004, {0x0804, 0x0409}, {L"zh-sg", L"zh-hans", L"zh"}},
      {0x0809, {0x0409}, {L"en-gb", L"en"}},
      {0x0413, {0x0409}, {L"nl-nl", L"nl"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ModuleLanguagesFor(row.player), row.module) << row.player;
    EXPECT_EQ(StudioTagsFor(row.player), row.tags) << row.player;
  }
}

class StudioTextsTest : public PatchTest {
 protected:
  // Parses a command line whose options name a texts file of contents, for a German player.
  HRESULT Parse(const std::string& contents, PatchRun& run, LANGID player = 0x0407) {
    WriteFileBytes(At(L"texts.txt"), contents);
    run.texts = PlayerTexts(player);
    log_.Clear();
    return ParseRunArguments(run, (L"-quiet -texts " + At(L"texts.txt") + L" 12 " + At(L"Patch") +
                                   L" " + At(L"Game") + L" " + At(L"Backup") + L" 0 " + Dir())
                                      .c_str());
  }
};

// The studio's text for the player's language, the German one, the studio's English one, then
// the English one; a text whose placeholders differ, or a file that is not one, is refused with
// the line named, as a malformed command line.
TEST_F(StudioTextsTest, AStudiosTextsReplaceThePlayersOrRefuseTheCommandLine) {
  const std::string contents =
      "\xEF\xBB\xBF# Studio\r\n[EN]\r\ncaption=Studio\r\nrestoring=Fixing {{it}}\r\n"
      "[de-DE]\nreverting=Zur\u00FCck: {file}\n[fr]\nrestoring=x\n";
  PatchRun german, english;
  ASSERT_EQ(Parse(contents, german), S_OK);
  ASSERT_EQ(Parse(contents, english, 0x0409), S_OK);
  EXPECT_TRUE(german.quiet);
  EXPECT_STREQ(german.texts.Compose(PlayerText::kCaption).Chars(), L"Quorvel");
  EXPECT_STREQ(english.texts.Compose(PlayerText::kCaption).Chars(), L"Studio");
  EXPECT_STREQ(german.texts.Compose(PlayerText::kReverting, {{L"file", L"a"}}).Chars(),
               L"Zur\u00FCck: a");
  EXPECT_STREQ(german.texts.Compose(PlayerText::kRestoring).Chars(),
               L"Die Spieldateien werden nach einem unterbrochenen Update wiederhergestellt");
  EXPECT_STREQ(english.texts.Compose(PlayerText::kRestoring).Chars(), L"Fixing {it}");
  EXPECT_STREQ(PlayerTexts(0x0411).Compose(PlayerText::kReasonNumber, {{L"code", L"5"}}).Chars(),
               L"\u30A8\u30E9\u30FC 5\u3002");
  const std::string refused = "Refusing the texts file <" + Utf8(At(L"texts.txt")) + ">, line ";
  const std::pair<std::string, std::string> faults[] = {
      {"caption=x\n", "1: the text stands before the first [language tag]"},
      {"[de]\ncaption\n", "2: the line is neither a [language tag] nor key=text"},
      {"[d e]\n", "1: a section is [language tag], such as [de] or [pt-BR]: [d e]"},
      {"[de]\ntitle=x\n", "2: no text of the player is called title"},
      {"[de]\ncaption=a\ncaption=b\n", "3: caption is given twice in [de]"},
      {"[de]\ncaption=\n", "2: the text of caption is empty"},
      {"[de]\nreverting=back\n",
       "2: the text of reverting holds the placeholders none, not {file} as the original"},
      {"[de]\nrestart_failed={code} {file}\n",
       "2: the text of restart_failed holds the placeholders {code} {file}, not {code} {reason} "
       "as the original"},
      {"[de]\ncaption={x\n",
       "2: the text of caption has a brace that is no placeholder: a "
       "placeholder is {name}, a brace is {{ or }}"},
      {"[de]\ncaption=\xC3(\n", "2: it is not UTF-8 text"},
      {"[de]\ncaption=a\tb\n", "2: the line holds the control character U+0009"},
  };
  for (const auto& fault : faults) {
    PatchRun bad;
    EXPECT_EQ(Parse(fault.first, bad), E_INVALIDARG) << fault.first;
    EXPECT_TRUE(EndsWith(log_.Text(), refused + fault.second + "\r\n")) << log_.Text();
  }
}

}  // namespace
}  // namespace quorvel::test
