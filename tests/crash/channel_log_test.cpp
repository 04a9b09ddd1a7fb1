#include "crash/channel_log.h"

#include <string>
#include <vector>

#include "crash/channel_id.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(ChannelIdTest, ElfHashOfKnownNames) {
  EXPECT_TRUE(channelIdOf(nullptr) == 0 && channelIdOf("") == 0);
  EXPECT_EQ(channelIdOf("AB"), 0x452u);  // (0x41 << 4) + 0x42
  // The seventh character's top bits 0x6 are folded in as 0x60 and cleared, the eighth's 0x7.
  EXPECT_EQ(channelIdOf("abcdefgh"), 0x089ABAA8u);
  EXPECT_EQ(channelIdOf("a\xE9"), 0x000005F9u);  // characters above 0x7F count as negative
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

TEST(ChannelLogTest, TextReachesEverySinkEndingInOneNewlineAndTheAnswerPrefersZeroThenOne) {
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
}

TEST(ChannelLogTest, DispatchGoesToEnabledChannelsAndFallsBackToTheDefault) {
  ChannelLog* log = new ChannelLog(4);
  RecordingSink fallback(1), taker(1), muted(1), declines(2);
  log->defaultChannel().sinks.Append(&fallback);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&taker);
  log->addChannel(11, false)->sinks.Append(&muted);
  log->addChannel(12, true)->sinks.Append(&declines);
  log->dispatch(1, kAssertionChannel, "taken\n");
  log->dispatch(1, 11, "dropped\n");  // a disabled channel swallows the text
  log->dispatch(1, 12, "passed on");
  // A channel that is not listed, even one sharing the bucket, goes to the default too.
  log->dispatch(1, kAssertionChannel + 4, "unlisted\n");
  log->muteLevel(2, true);
  log->dispatch(2, 5, "muted level\n");
  log->Release();
  EXPECT_EQ(taker.received.size() + muted.received.size() + declines.received.size(), 2u);
  EXPECT_EQ(fallback.received,
            (std::vector<std::string>{
                "1:12:passed on\n", "1:" + std::to_string(kAssertionChannel + 4) + ":unlisted\n"}));
  // channelLog formats and dispatches through the process's log while there is one.
  RecordingSink sink(1);
  channelLog({1, kAssertionChannel}, "%s", "nobody");
  log = new ChannelLog(2);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&sink);
  ChannelLog::SetInstance(log);
  channelLog({1, kAssertionChannel}, "%s %d", "value", 42);
  const std::string longText(5000, 'x');  // longer than the inline 4095 characters
  channelLog({1, kAssertionChannel}, "%s", longText.c_str());
  ChannelLog::ReleaseInstance();
  EXPECT_TRUE(ChannelLog::Instance() == nullptr);
  const std::string head = "1:" + std::to_string(kAssertionChannel) + ":";
  EXPECT_EQ(sink.received, (std::vector<std::string>{head + "value 42\n", head + longText + "\n"}));
}

}  // namespace
}  // namespace quorvel
