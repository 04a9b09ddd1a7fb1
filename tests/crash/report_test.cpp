// Report sections and their registry, the version report and the assertion report.
#include <regex>
#include <string>
#include <vector>

#include "crash/assertion_report.h"
#include "crash/build_report.h"
#include "crash/channel_log.h"
#include "crash/stack_trace_section.h"
#include "crash/version_report_section.h"
#include "patch/module_objects.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A section with a fixed title and body that counts how often its body was asked for.
class FixedSection : public ReportSection {
 public:
  FixedSection(const char* title = "", const char* body = "") : title_(title), body_(body) {}
  SharedString content(const ReportInfo&, const ReportThreadInfo&, uint32_t) override {
    ++contentCalls;
    return SharedString(body_.c_str());
  }
  bool applies(const ReportInfo& info, const ReportThreadInfo& thread) override {
    return applying && ReportSection::applies(info, thread);
  }
  SharedString title() override { return SharedString(title_.c_str()); }
  bool applying = true;
  int contentCalls = 0;

 private:
  std::string title_, body_;
};

// Each test has a registry of its own, empty at the start; the process's comes back at the end.
class ReportTest : public ::testing::Test {
 protected:
  ~ReportTest() override { delete ReportSectionRegistry::Exchange(previous_); }
  static std::string Build(uint32_t flags) {
    ReportInfo info;
    info.flags = flags;
    return buildReport(info, ReportThreadInfo(), 0).Chars();
  }
  ReportSectionRegistry::Sections* previous_ =
      ReportSectionRegistry::Exchange(new ReportSectionRegistry::Sections());
};

TEST_F(ReportTest, SectionsAppearFramedInAddressOrderAndOnceBetweenHeaderAndTrailer) {
  EXPECT_TRUE(std::regex_match(Build(0), std::regex("Detailed report:\n\nCurrent local time: "
                                                    ".{24}\n\n\n\n")))
      << Build(0);
  FixedSection sections[3] = {{"First", "one"}, {"Second", "two"}, {"", ""}};
  // Registering again moves an entry, so the registry holds them out of address order.
  ReportSection::Register(&sections[0]);
  ReportSection::Register(&sections[1]);
  auto* leaving = new FixedSection("Leaving", "goes");
  FixedSection skipped("Skipped", "never");
  skipped.applying = false;
  StackTraceSection stackTrace;  // left out by the library's options
  delete leaving;
  ASSERT_NE((*ReportSectionRegistry::Get())[0], &sections[0]);
  const std::string report = Build(0);
  EXPECT_TRUE(test::EndsWith(report, "\n\nFirst:\none\n\nSecond:\ntwo\n\n:\n\n\n\n")) << report;
  EXPECT_FALSE(test::Has(report, "C++ Stack Trace"));
  EXPECT_EQ(ReportSectionRegistry::Get()->Count(), 5u);
  EXPECT_EQ(Build(kReportBrief), "");
  EXPECT_EQ(sections[0].contentCalls + skipped.contentCalls, 1);
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
  const HMODULE sample = LoadLibraryW((test::ProgramFolder() + L"\\version_sample.dll").c_str());
  char path[MAX_PATH] = {};
  GetModuleFileNameA(sample, path, MAX_PATH);
  const std::string sampleBlock =
      std::string("\nVersion information for error module ") + path + ":\n" + kSampleListing;
  // The exception's address, when there is one, overrules the module the thread names; the
  // executable itself or no module gives one block only.
  CONTEXT context = {};
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  const auto marker = reinterpret_cast<uintptr_t>(GetProcAddress(sample, "SampleModuleMarker"));
  const struct {
    HMODULE named;
    uintptr_t exceptionAt;
    std::string content;
  } cases[] = {{sample, 0, kExecutableListing + sampleBlock},
               {GetModuleHandleA(nullptr), 0, kExecutableListing},
               {nullptr, 0, kExecutableListing},
               {GetModuleHandleA(nullptr), marker, kExecutableListing + sampleBlock},
               {sample, reinterpret_cast<uintptr_t>(&LanguageLine), kExecutableListing}};
  for (const auto& c : cases) {
    ReportInfo report;
    report.exceptionPointers = c.exceptionAt != 0 ? &pointers : nullptr;
#if defined(_M_IX86) || defined(__i386__)
    context.Eip = static_cast<DWORD>(c.exceptionAt);
#else
    context.Rip = c.exceptionAt;
#endif
    ReportThreadInfo thread;
    thread.errorModule = c.named;
    EXPECT_EQ(VersionReportSection().content(report, thread, 0).Chars(), c.content);
  }
  FreeLibrary(sample);
  EXPECT_STREQ(VersionReportSection().title().Chars(),
               "Version Report generated by VoreDuvovor : 2.0.143.1 (0x0200008F)");
}

const char kStart[] = "----ASSERTION REPORT START----\nAssertion failed. ";

// The assertion channel's texts.
struct CapturingSink : LogSink {
  int write(uint32_t level, ChannelId channel, const char* text) override {
    received.push_back(std::to_string(level) + ":" + std::to_string(channel) + ":" + text);
    return 1;
  }
  std::vector<std::string> received;
};

TEST_F(ReportTest, AnAssertionReportIsBuiltOnceAndSentAsTheFlagsSay) {
  FixedSection section("Facts", "fact one");
  CapturingSink sink;
  auto* log = new ChannelLog(8);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&sink);
  ChannelLog::SetInstance(log);
  AssertionReport report;
  report.message = "x != 0";
  AssertionResponse response;
  reportAssertion(report, response);
  EXPECT_TRUE(response.response == 2 && response.dialogShown);
  reportAssertion(report, response);  // a dialog an earlier handler showed is not shown again
  const std::string head = "1:" + std::to_string(kAssertionChannel) + ":";
  ASSERT_EQ(sink.received.size(), 6u);
  EXPECT_EQ(sink.received[0], head + kStart + "Dialog Displayed. Report follows.\nx != 0\n");
  EXPECT_EQ(sink.received[1], head + report.reportText.Chars());
  EXPECT_TRUE(test::Has(sink.received[1], "Facts:\nfact one\n\n"));
  EXPECT_EQ(sink.received[2], head + "----ASSERTION REPORT END----\n");
  EXPECT_TRUE(sink.received[3] == sink.received[0] && sink.received[4] == sink.received[1]);
  EXPECT_EQ(section.contentCalls, 1);
  report.info.flags = kReportKeepsResponse;
  response = AssertionResponse{7, false};
  reportAssertion(report, response);
  EXPECT_TRUE(response.response == 7 && !response.dialogShown);
  EXPECT_EQ(sink.received[6], head + kStart + "No Dialog Displayed. Report follows.\nx != 0\n");
  report.info.flags = kReportSilent;  // changes only the response
  reportAssertion(report, response);
  EXPECT_EQ(response.response, 2u);
  EXPECT_EQ(sink.received.size(), 9u);
  ChannelLog::ReleaseInstance();
  report.info.flags = 0;
  report.reportText.Clear();
  reportAssertion(report, response);  // without a log the report is still built
  EXPECT_TRUE(test::Has(report.reportText.Chars(), "Facts:\nfact one"));
}

TEST(BuiltInSectionsTest, TheModulesBuiltInSectionsListTheVersionReportFirst) {
  static_cast<void>(ModuleSemaphore());  // links the module's static objects into this program
  ReportInfo info;
  info.flags = kReportBrief;
  buildReport(info, ReportThreadInfo(), 0);  // sorts the registry
  std::string order;
  for (uint32_t i = 0; i < ReportSectionRegistry::Get()->Count(); ++i) {
    order += (*ReportSectionRegistry::Get())[i]->title().Chars()[0];
  }
  EXPECT_EQ(order, "VC");
}

TEST(AssertionBannerTest, ALongMessageIsCutAndTerminated) {
  const std::string message(5000, 'm');
  const std::string prefix = std::string(kStart) + "Dialog Displayed. Report follows.\n";
  const SharedString banner = AssertionStartBanner(true, SharedString(message.c_str()));
  ASSERT_EQ(banner.Length(), kAssertionBannerCapacity - 1);
  EXPECT_EQ(banner.Chars(), prefix + message.substr(0, 4095 - prefix.size()));
  const std::string fitting(4095 - prefix.size() - 1, 'f');  // exactly 4095 characters: whole
  EXPECT_EQ(AssertionStartBanner(true, SharedString(fitting.c_str())).Chars(),
            prefix + fitting + "\n");
}

}  // namespace
}  // namespace quorvel
