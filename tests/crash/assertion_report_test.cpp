#include "crash/assertion_report.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "crash/channel_log.h"
#include "crash/stack_trace_section.h"
#include "crash_test_support.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

const char kStart[] = "----ASSERTION REPORT START----\nAssertion failed. ";
const char kEnd[] = "----ASSERTION REPORT END----\n";

class CapturingSink : public LogSink {
 public:
  int write(uint32_t level, ChannelId channel, const char* text) override {
    if (level == 1 && channel == kAssertionChannel) {
      received.push_back(text);
    }
    return 1;
  }
  std::vector<std::string> received;
};

// A process-wide log whose assertion channel is captured, and a registry with one section.
class AssertionReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* log = new ChannelLog(8);
    log->addChannel(kAssertionChannel, true)->sinks.Append(&sink_);
    ChannelLog::SetInstance(log);
    report_.message = "x != 0";
  }
  void TearDown() override { ChannelLog::ReleaseInstance(); }

  test::ScopedReportRegistry registry_;
  test::FixedSection section_{"Facts", "fact one"};
  CapturingSink sink_;
  AssertionReport report_;
};

TEST_F(AssertionReportTest, FirstHandlerShowsTheDialogAndSendsThreeTextsOfAReportBuiltOnce) {
  AssertionResponse response;
  reportAssertion(report_, response);
  EXPECT_EQ(response.response, 2u);
  EXPECT_TRUE(response.dialogShown);
  reportAssertion(report_, response);
  EXPECT_EQ(section_.contentCalls, 1);
  ASSERT_EQ(sink_.received.size(), 6u);
  EXPECT_EQ(sink_.received[0], std::string(kStart) + "Dialog Displayed. Report follows.\nx != 0\n");
  EXPECT_EQ(sink_.received[1], std::string(report_.reportText.Chars()));
  EXPECT_NE(sink_.received[1].find("Facts:\nfact one\n\n"), std::string::npos);
  EXPECT_EQ(sink_.received[2], kEnd);
  EXPECT_EQ(sink_.received[4], sink_.received[1]);
}

TEST_F(AssertionReportTest, KeptResponseIsLeftAlone) {
  report_.info.flags = kReportKeepsResponse;
  AssertionResponse response;
  response.response = 7;
  reportAssertion(report_, response);
  EXPECT_EQ(response.response, 7u);
  EXPECT_FALSE(response.dialogShown);
  ASSERT_EQ(sink_.received.size(), 3u);
  EXPECT_EQ(sink_.received[0],
            std::string(kStart) + "No Dialog Displayed. Report follows.\nx != 0\n");

  // A dialog shown by an earlier handler is not shown again.
  report_.info.flags = 0;
  response = AssertionResponse{9, true};
  reportAssertion(report_, response);
  EXPECT_EQ(response.response, 9u);
  EXPECT_EQ(sink_.received[3], std::string(kStart) + "Dialog Displayed. Report follows.\nx != 0\n");
}

TEST_F(AssertionReportTest, SilentReportChangesOnlyTheResponse) {
  report_.info.flags = kReportSilent;
  AssertionResponse response;
  reportAssertion(report_, response);
  EXPECT_EQ(response.response, 2u);
  EXPECT_TRUE(sink_.received.empty());
  EXPECT_TRUE(report_.reportText.IsEmpty());
  EXPECT_EQ(section_.contentCalls, 0);
}

TEST_F(AssertionReportTest, WithoutChannelLogTheReportIsStillBuilt) {
  ChannelLog::ReleaseInstance();
  AssertionResponse response;
  reportAssertion(report_, response);
  EXPECT_TRUE(sink_.received.empty());
  EXPECT_NE(std::string(report_.reportText.Chars()).find("Facts:\nfact one"), std::string::npos);
}

// The stack trace section as a report has it when stack traces are switched on.
class AppliedStackTrace : public StackTraceSection {
  bool applies(const ReportInfo&, const ReportThreadInfo&) override { return true; }
};

#define QV_NAME(function) QV_NAME_TEXT(function)  // the width's own name of the function
#define QV_NAME_TEXT(function) #function
#define QV_BIND(slot, function)                \
  b.slot = reinterpret_cast<decltype(b.slot)>( \
      reinterpret_cast<void (*)()>(GetProcAddress(b.library, QV_NAME(function))))

TEST_F(AssertionReportTest, WithTheSystemsEngineTheFirstFrameOfTheStackTraceIsTheCaller) {
  test::ScopedSymbolEngine engine;
  SymbolEngineBindings& b = engine.Bindings();
  b.library = LoadLibraryW(L"dbghelp.dll");
  ASSERT_NE(b.library, nullptr);
  QV_BIND(stackWalk, StackWalk);
  QV_BIND(symFunctionTableAccess, SymFunctionTableAccess);
  QV_BIND(symSetOptions, SymSetOptions);
  QV_BIND(symGetOptions, SymGetOptions);
  QV_BIND(symInitialize, SymInitialize);
  QV_BIND(symCleanup, SymCleanup);
  QV_BIND(symUnloadModule, SymUnloadModule);
  QV_BIND(symLoadModule, SymLoadModule);
  QV_BIND(symGetModuleInfo, SymGetModuleInfo);
  QV_BIND(symGetSymFromAddr, SymGetSymFromAddr);
  QV_BIND(symGetLineFromAddr, SymGetLineFromAddr);
  AppliedStackTrace stackTrace;
  report_.thread.threadHandle = GetCurrentThread();
  void* returnAddress = nullptr;  // where this function returns to
  ASSERT_EQ(RtlCaptureStackBackTrace(1, 1, &returnAddress, nullptr), 1);
  AssertionResponse response;
  reportAssertion(report_, response);
  unbindSymbolEngine();
  // This function's frame comes first, so the second frame is its caller's, at the address
  // this function returns to.
  std::istringstream lines(report_.reportText.Chars());
  std::vector<uintptr_t> frames;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("0x", 0) == 0) {
      frames.push_back(static_cast<uintptr_t>(std::strtoull(line.c_str(), nullptr, 16)));
    }
  }
  ASSERT_GE(frames.size(), 2u) << report_.reportText.Chars();
  EXPECT_EQ(frames[1], reinterpret_cast<uintptr_t>(returnAddress)) << report_.reportText.Chars();
}

TEST(AssertionBannerTest, LongMessageIsCutAndTerminated) {
  const std::string message(5000, 'm');
  const SharedString banner = AssertionStartBanner(true, SharedString(message.c_str()));
  const std::string prefix = std::string(kStart) + "Dialog Displayed. Report follows.\n";
  ASSERT_EQ(banner.Length(), kAssertionBannerCapacity - 1);
  EXPECT_EQ(std::string(banner.Chars()), prefix + message.substr(0, 4095 - prefix.size()));

  // A banner of exactly 4095 characters is kept whole.
  const std::string fitting(4095 - prefix.size() - 1, 'f');
  EXPECT_EQ(std::string(AssertionStartBanner(true, SharedString(fitting.c_str())).Chars()),
            prefix + fitting + "\n");
}

}  // namespace
}  // namespace quorvel
