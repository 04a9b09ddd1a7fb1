// Report sections and their registry, the version report, the assertion report and the channel
// log that carries it.
#include <regex>
#include <tuple>

#include "crash/assertion_report.h"
#include "crash/build_report.h"
#include "crash/channel_id.h"
#include "crash/channel_log.h"
#include "crash/stack_trace_section.h"
#include "crash/version_report_section.h"
#include "patch/entry/module_objects.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A section with a fixed title and body that counts how often its body was asked for.
struct FixedSection : ReportSection {
  FixedSection(const char* title = "", const char* body = "") : title_(title), body_(body) {}
  SharedString content(const ReportInfo&, const ReportThreadInfo&, uint32_t) override {
    return ++contentCalls, SharedString(body_);
  }
  SharedString title() override { return SharedString(title_); }
  const char *title_, *body_;
  int contentCalls = 0;
};

// Each test has a registry of its own, empty at the start; the process's comes back at the end.
class ReportTest : public ::testing::Test {
 protected:
  ~ReportTest() override { delete ReportSectionRegistry::Exchange(previous_); }
  ReportSectionRegistry::Sections* previous_ =
      ReportSectionRegistry::Exchange(new ReportSectionRegistry::Sections());
};

TEST_F(ReportTest, SectionsAppearFramedInAddressOrderAndOnceBetweenHeaderAndTrailer) {
  FixedSection sections[3] = {{"First", "one"}, {"Second", "two"}, {}};
  // Registering again moves an entry, so the registry holds them out of address order.
  ReportSection::Register(&sections[0]);
  ReportSection::Register(&sections[1]);
  auto* leaving = new FixedSection("Leaving", "goes");
  StackTraceSection stackTrace;  // left out by the library's options
  delete leaving;
  ASSERT_NE((*ReportSectionRegistry::Get())[0], &sections[0]);
  // Header, sections and trailer; the stack trace is not among them.
  const std::regex framed(
      "Detailed report:\n\nCurrent local time: .{24}\n\n\n"
      "First:\none\n\nSecond:\ntwo\n\n:\n\n\n\n");
  const std::string report = buildReport({}, {}, 0).Chars();
  EXPECT_TRUE(std::regex_match(report, framed)) << report;
  EXPECT_STREQ(buildReport({kReportBrief}, {}, 0).Chars(), "");
  ReportSectionRegistry::Release();
  EXPECT_EQ(ReportSectionRegistry::Get(), nullptr);
  FixedSection alone;  // the first registration creates the registry
  EXPECT_EQ((*ReportSectionRegistry::Get())[0], &alone);
}

// The sample module's listing: its German group first, as its table has it, and the keys in the
// fixed order, whatever order the resource stores them in.
std::string LanguageLine(WORD language) {
  char name[100] = {};
  return VerLanguageNameA(language, name, 99) == 0 ? "" : std::string("  Language: ") + name + "\n";
}
const std::string kSampleListing =
    LanguageLine(0x0407) +
    "  CompanyName : Beispiel GmbH\n  FileVersion : 3.1.4.1\n  ProductName : Beispielprodukt\n\n" +
    LanguageLine(0x0409) +
    "  CompanyName : Sample Company\n  FileDescription : Version sample module\n"
    "  ProductName : Sample Product\n  Comments : sample comment\n"
    "  DastryBuildVersion : build 42\n  NetVersion : net-7\n";
const std::string kExecutableListing =
    LanguageLine(0x0409) + "  InternalName : crash_tests\n  ProductName : Crash tests\n";

TEST_F(ReportTest, TheVersionReportListsTheExecutableThenTheErrorModule) {
  const std::wstring path = test::ProgramFolder() + L"\\version_sample.dll";
  const HMODULE sample = LoadLibraryW(path.c_str());
  const std::string sampleBlock =
      "\nVersion information for error module " + test::Utf8(path) + ":\n" + kSampleListing;
  // The exception's address, when there is one, overrules the module the thread names; the
  // executable itself or no module gives one block only.
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {nullptr, &context};
  const auto marker = reinterpret_cast<uintptr_t>(GetProcAddress(sample, "SampleModuleMarker"));
  for (const auto& [named, exceptionAt, content] :
       {std::tuple<HMODULE, uintptr_t, std::string>{sample, 0, kExecutableListing + sampleBlock},
        {nullptr, 0, kExecutableListing},
        {GetModuleHandleA(nullptr), marker, kExecutableListing + sampleBlock},
        {sample, reinterpret_cast<uintptr_t>(&LanguageLine), kExecutableListing}}) {
#if defined(_M_IX86) || defined(__i386__)
    context.Eip = static_cast<DWORD>(exceptionAt);
#else
    context.Rip = exceptionAt;
#endif
    const ReportInfo report = {0, exceptionAt != 0 ? &pointers : nullptr};
    EXPECT_EQ(VersionReportSection().content(report, {0, nullptr, named}, 0).Chars(), content);
  }
  FreeLibrary(sample);
}

TEST(BuiltInSectionsTest, TheModulesBuiltInSectionsAreTheVersionReportThenTheStackTrace) {
  static_cast<void>(ModuleSemaphore());  // links the module's static objects into this program
  buildReport({kReportBrief}, {}, 0);    // sorts the registry
  std::string titles;
  for (uint32_t i = 0; i < ReportSectionRegistry::Get()->Count(); ++i) {
    titles += (*ReportSectionRegistry::Get())[i]->title().Chars() + std::string("|");
  }
  EXPECT_EQ(titles,
            "Version Report generated by VoreDuvovor : 2.0.143.1 (0x0200008F)|C++ Stack Trace|");
}

// Records what it receives and answers with a fixed value.
struct RecordingSink : LogSink {
  explicit RecordingSink(int answer) : answer(answer) {}
  int write(uint32_t level, ChannelId channel, const char* text) override {
    received.push_back(std::to_string(level) + ":" + std::to_string(channel) + ":" + text);
    return answer;
  }
  int answer;
  std::vector<std::string> received;
};

// Channel ids are the ELF hash of their names: the seventh character's top bits 0x6 are folded in
// as 0x60 and cleared, the eighth's 0x7; characters above 0x7F count as negative.
TEST(ChannelLogTest, IdsHashNamesAndTextReachesEverySinkAndDispatchFallsBackToTheDefault) {
  EXPECT_TRUE(channelIdOf(nullptr) == 0 && channelIdOf("") == 0);
  EXPECT_EQ(channelIdOf("abcdefgh"), 0x089ABAA8u);
  EXPECT_EQ(channelIdOf("a\xE9"), 0x000005F9u);
  // Text reaches every sink ending in one newline, and the answer prefers 0, then 1.
  LogChannel channel(7, true);
  EXPECT_EQ(channel.write(1, 7, "x\n"), kSinkDeclined);  // no sinks
  RecordingSink declines(2), odd(5), takes(1), first(0);
  channel.sinks.Append(&declines);
  channel.sinks.Append(&odd);
  EXPECT_EQ(channel.write(3, 9, "no newline"), kSinkDeclined);
  channel.sinks.Append(&takes);
  EXPECT_EQ(channel.write(3, 9, "has newline\n"), 1);
  channel.sinks.Append(&first);
  const std::string longText(3000, 'L');  // past the inline buffer of the added newline
  EXPECT_EQ(channel.write(3, 9, longText.c_str()), 0);
  EXPECT_EQ(declines.received, (std::vector<std::string>{"3:9:no newline\n", "3:9:has newline\n",
                                                         "3:9:" + longText + "\n"}));
  // Dispatch goes to enabled channels and falls back to the default.
  ChannelLog* log = new ChannelLog(4);
  RecordingSink fallback(1), taker(1), muted(1), passes(2);
  log->defaultChannel().sinks.Append(&fallback);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&taker);
  log->addChannel(11, false)->sinks.Append(&muted);
  log->addChannel(12, true)->sinks.Append(&passes);
  log->dispatch(1, kAssertionChannel, "taken\n");
  log->dispatch(1, 11, "dropped\n");  // a disabled channel swallows the text
  log->dispatch(1, 12, "passed on");
  // A channel that is not listed, even one sharing the bucket, goes to the default too.
  log->dispatch(1, kAssertionChannel + 4, "unlisted\n");
  log->muteLevel(2, true);
  log->dispatch(2, 5, "muted level\n");
  log->Release();
  EXPECT_EQ(taker.received.size() + muted.received.size() + passes.received.size(), 2u);
  EXPECT_EQ(fallback.received,
            (std::vector<std::string>{
                "1:12:passed on\n", "1:" + std::to_string(kAssertionChannel + 4) + ":unlisted\n"}));
}

const char kStart[] = "----ASSERTION REPORT START----\nAssertion failed. ";

// The report is longer than the channel log's inline 4095 characters.
TEST_F(ReportTest, AnAssertionReportIsBuiltOnceAndSentThroughTheChannelLogAsTheFlagsSay) {
  const std::string body(5000, 'b');
  FixedSection section("Facts", body.c_str());
  RecordingSink sink(1);
  auto* log = new ChannelLog(8);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&sink);
  ChannelLog::SetInstance(log);
  AssertionReport report;
  report.message = "x != 0";
  AssertionResponse response;
  reportAssertion(report, response);
  EXPECT_TRUE(response.response == 2 && response.dialogShown) << "response " << response.response;
  reportAssertion(report, response);  // a dialog an earlier handler showed is not shown again
  const std::string head = "1:" + std::to_string(kAssertionChannel) + ":";
  const std::string banner = std::string(kStart) + "Dialog Displayed. Report follows.\n";
  const std::string start = head + banner + "x != 0\n";
  const std::string text = head + report.reportText.Chars();
  const std::string end = head + "----ASSERTION REPORT END----\n";
  EXPECT_EQ(sink.received, (std::vector<std::string>{start, text, end, start, text, end}));
  EXPECT_TRUE(section.contentCalls == 1 && test::Has(text, "Facts:\n" + body));
  report.info.flags = kReportKeepsResponse;
  response = AssertionResponse{7, false};
  reportAssertion(report, response);
  EXPECT_TRUE(response.response == 7 && !response.dialogShown) << "response " << response.response;
  EXPECT_EQ(sink.received[6], head + kStart + "No Dialog Displayed. Report follows.\nx != 0\n");
  report.info.flags = kReportSilent;  // changes only the response
  reportAssertion(report, response);
  EXPECT_TRUE(response.response == 2 && sink.received.size() == 9);
  ChannelLog::ReleaseInstance();
  // A message too long for the banner is cut; one that makes it exactly 4095 characters is whole.
  const std::string cut(5000, 'm'), fitting(4095 - banner.size() - 1, 'f');
  EXPECT_EQ(AssertionStartBanner(true, cut.c_str()).Chars(),
            banner + cut.substr(0, 4095 - banner.size()));
  EXPECT_EQ(AssertionStartBanner(true, fitting.c_str()).Chars(), banner + fitting + "\n");
}

}  // namespace
}  // namespace quorvel
