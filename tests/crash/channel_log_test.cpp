#include "crash/channel_log.h"

#include <string>
#include <vector>

#include "crash/channel_id.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(ChannelIdTest, ElfHashOfKnownNames) {
  EXPECT_EQ(channelIdOf(nullptr), 0u);
  EXPECT_EQ(channelIdOf(""), 0u);
  EXPECT_EQ(channelIdOf("AB"), 0x452u);  // (0x41 << 4) + 0x42
  // The seventh character's top bits 0x6 are folded in as 0x60 and cleared, the eighth's 0x7.
  EXPECT_EQ(channelIdOf("abcdefgh"), 0x089ABAA8u);
  // Characters above 0x7F count as negative: 0xE9 is -23.
  EXPECT_EQ(channelIdOf("\xE9"), 0x0FFFFF19u);
  EXPECT_EQ(channelIdOf("a\xE9"), 0x000005F9u);
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

TEST(LogChannelTest, TextReachesEverySinkEndingInOneNewlineAndTheAnswerPrefersZeroThenOne) {
  LogChannel channel(7, true);
  EXPECT_EQ(channel.write(1, 7, "x\n"), kSinkDeclined);  // no sinks
  RecordingSink declines(2), odd(5), takes(1), first(0);
  channel.sinks.Append(&declines);
  channel.sinks.Append(&odd);
  EXPECT_EQ(channel.write(3, 9, "no newline"), kSinkDeclined);
  channel.sinks.Append(&takes);
  EXPECT_EQ(channel.write(3, 9, "has newline\n"), 1);
  channel.sinks.Append(&first);
  EXPECT_EQ(channel.write(3, 9, ""), 0);
  const std::string longText(3000, 'L');  // past the inline buffer of the added newline
  channel.write(3, 9, longText.c_str());
  EXPECT_EQ(declines.received, (std::vector<std::string>{"3:9:no newline\n", "3:9:has newline\n",
                                                         "3:9:\n", "3:9:" + longText + "\n"}));
  EXPECT_EQ(first.received.size(), 2u);
}

TEST(ChannelLogTest, DispatchGoesToEnabledChannelsAndFallsBackToTheDefault) {
  ChannelLog* log = new ChannelLog(4);
  RecordingSink fallback(1), taker(1), muted(1), declines(2), alsoDeclines(2);
  log->defaultChannel().sinks.Append(&fallback);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&taker);
  log->addChannel(11, false)->sinks.Append(&muted);
  LogChannel* declining = log->addChannel(12, true);
  declining->sinks.Append(&declines);
  declining->sinks.Append(&alsoDeclines);
  log->dispatch(1, kAssertionChannel, "taken\n");
  log->dispatch(1, 11, "dropped\n");  // a disabled channel swallows the text
  log->dispatch(1, 12, "passed on");
  // A channel that is not listed, even one sharing the bucket, goes to the default too.
  log->dispatch(1, kAssertionChannel + 4, "unlisted\n");
  log->muteLevel(2, true);
  log->dispatch(2, 5, "muted level\n");
  log->Release();
  EXPECT_EQ(taker.received.size() + muted.received.size(), 1u);
  EXPECT_EQ(declines.received.size() + alsoDeclines.received.size(), 2u);
  EXPECT_EQ(fallback.received,
            (std::vector<std::string>{
                "1:12:passed on\n", "1:" + std::to_string(kAssertionChannel + 4) + ":unlisted\n"}));
}

// A channel log that tells when it is destroyed.
struct ObservedLog : ChannelLog {
  explicit ObservedLog(bool* destroyed) : ChannelLog(2), destroyed(destroyed) {}
  ~ObservedLog() override { *destroyed = true; }
  bool* destroyed;
};

TEST(ChannelLogTest, ChannelLogFormatsAndDispatchesThroughTheInstanceWhileThereIsOne) {
  RecordingSink sink(1);
  channelLog({1, kAssertionChannel}, "%s %d", "nobody", 1);  // no log: nothing happens
  bool destroyed = false;
  auto* log = new ObservedLog(&destroyed);
  log->addChannel(kAssertionChannel, true)->sinks.Append(&sink);
  ChannelLog::SetInstance(log);
  channelLog({1, kAssertionChannel}, "%s %d", "value", 42);
  const std::string longText(5000, 'x');  // longer than the inline 4095 characters
  channelLog({1, kAssertionChannel}, "%s", longText.c_str());
  const std::string head = "1:" + std::to_string(kAssertionChannel) + ":";
  EXPECT_EQ(sink.received, (std::vector<std::string>{head + "value 42\n", head + longText + "\n"}));
  // Unload gives up the instance's reference; one held elsewhere keeps the log alive.
  log->AddRef();
  ChannelLog::ReleaseInstance();
  EXPECT_TRUE(ChannelLog::Instance() == nullptr && !destroyed);
  log->Release();
  EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace quorvel
