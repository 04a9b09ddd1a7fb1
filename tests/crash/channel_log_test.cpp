#include "crash/channel_log.h"

#include <string>
#include <vector>

#include "crash/channel_id.h"
#include "crash_test_support.h"
#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(ChannelIdTest, ElfHashOfKnownNames) {
  EXPECT_EQ(channelIdOf(nullptr), 0u);
  EXPECT_EQ(channelIdOf(""), 0u);
  // 'A' = 0x41, 'B' = 0x42: (0x41 << 4) + 0x42.
  EXPECT_EQ(channelIdOf("AB"), 0x452u);
  // Seven characters give 0x6789ABC7: its top bits 0x6 are folded in as 0x60 and cleared,
  // 0x0789ABA7; the eighth gives 0x789ABAD8, folded with 0x70 and cleared: 0x089ABAA8.
  EXPECT_EQ(channelIdOf("abcdefgh"), 0x089ABAA8u);
  // Characters above 0x7F are negative: 0xE9 counts as -23, so 0xFFFFFFE9, folded with 0xF0
  // and cleared, is 0x0FFFFF19; after 'a' it is 0x610 - 23.
  EXPECT_EQ(channelIdOf("\xE9"), 0x0FFFFF19u);
  EXPECT_EQ(channelIdOf("a\xE9"), 0x000005F9u);
}

// Records what it receives and answers with a fixed value.
class RecordingSink : public LogSink {
 public:
  explicit RecordingSink(int answer) : answer_(answer) {}
  int write(uint32_t level, ChannelId channel, const char* text) override {
    received.push_back(text);
    levels.push_back(level);
    channels.push_back(channel);
    return answer_;
  }
  std::vector<std::string> received;
  std::vector<uint32_t> levels;
  std::vector<ChannelId> channels;

 private:
  int answer_;
};

TEST(LogChannelTest, CombinedAnswerPrefersZeroThenOne) {
  LogChannel channel(7, true);
  EXPECT_EQ(channel.write(1, 7, "x\n"), kSinkDeclined);  // no sinks
  RecordingSink declines(2), odd(5), takes(1), first(0);
  channel.sinks.Append(&declines);
  channel.sinks.Append(&odd);
  EXPECT_EQ(channel.write(1, 7, "x\n"), kSinkDeclined);
  channel.sinks.Append(&takes);
  EXPECT_EQ(channel.write(1, 7, "x\n"), 1);
  channel.sinks.Append(&first);
  channel.sinks.Append(&takes);
  EXPECT_EQ(channel.write(1, 7, "x\n"), 0);
  EXPECT_EQ(declines.received.size(), 3u);
  EXPECT_EQ(takes.received.size(), 3u);
}

TEST(LogChannelTest, TextReachesSinksEndingInOneNewline) {
  LogChannel channel(7, true);
  RecordingSink sink(1);
  channel.sinks.Append(&sink);
  channel.write(3, 9, "no newline");
  channel.write(3, 9, "has newline\n");
  channel.write(3, 9, "");
  const std::string longText(3000, 'L');  // past the inline buffer of the added newline
  channel.write(3, 9, longText.c_str());
  ASSERT_EQ(sink.received.size(), 4u);
  EXPECT_EQ(sink.received[0], "no newline\n");
  EXPECT_EQ(sink.received[1], "has newline\n");
  EXPECT_EQ(sink.received[2], "\n");
  EXPECT_EQ(sink.received[3], longText + "\n");
  EXPECT_EQ(sink.levels[0], 3u);
  EXPECT_EQ(sink.channels[0], 9u);
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
  EXPECT_EQ(taker.received, std::vector<std::string>{"taken\n"});
  EXPECT_TRUE(muted.received.empty());
  EXPECT_EQ(declines.received.size(), 1u);
  EXPECT_EQ(alsoDeclines.received.size(), 1u);
  EXPECT_EQ(fallback.received, (std::vector<std::string>{"passed on\n", "unlisted\n"}));
}

TEST(ChannelLogInstanceTest, ChannelLogFormatsAndDispatchesThroughTheInstance) {
  RecordingSink sink(1);
  channelLog({1, kAssertionChannel}, "%s %d", "nobody", 1);  // no log: nothing happens

  bool destroyed = false;
  auto* log = new test::ObservedLog(&destroyed);
  LogChannel* channel = log->addChannel(kAssertionChannel, true);
  channel->sinks.Append(&sink);
  ChannelLog::SetInstance(log);
  channelLog({1, kAssertionChannel}, "%s %d", "value", 42);
  const std::string longText(5000, 'x');  // longer than the inline 4095 characters
  channelLog({1, kAssertionChannel}, "%s", longText.c_str());
  ASSERT_EQ(sink.received.size(), 2u);
  EXPECT_EQ(sink.received[0], "value 42\n");
  EXPECT_EQ(sink.received[1], longText + "\n");

  // Unload gives up the instance's reference; a reference held elsewhere keeps it alive.
  log->AddRef();
  ChannelLog::ReleaseInstance();
  EXPECT_EQ(ChannelLog::Instance(), nullptr);
  EXPECT_FALSE(destroyed);
  log->Release();
  EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace quorvel
