#pragma once

#include <cstdint>

#include "crash/channel_id.h"
#include "foundation/dyn_array.h"
#include "foundation/format_check.h"

namespace quorvel {

// What LogSink::write and LogChannel::write answer.
constexpr int kSinkTookText = 1;
constexpr int kSinkTookTextFirst = 0;  // took it, and wins over every 1 of the same channel
constexpr int kSinkDeclined = 2;

// Levels below this count can be muted; text of a higher level always passes.
constexpr uint32_t kLogLevelCount = 16;

// A receiver of log text.
class LogSink {
 public:
  LogSink() = default;
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;
  virtual ~LogSink() = default;
  // Receives text (zero-terminated, ending in "\n"). 0 or 1 when the sink took it, 2 when it
  // did not; any other value is ignored.
  virtual int write(uint32_t level, ChannelId channel, const char* text) = 0;
};

// One channel of the log: its sinks, which it does not own.
class LogChannel {
 public:
  LogChannel(ChannelId id, bool isEnabled) : channelId(id), enabled(isEnabled) {}
  LogChannel(const LogChannel&) = delete;
  LogChannel& operator=(const LogChannel&) = delete;

  // Hands text to every sink in order, with a "\n" added when it does not end in one. 0 when
  // any sink answered 0, else 1 when any answered 1, else 2 (also without sinks).
  int write(uint32_t level, ChannelId channel, const char* text);

  ChannelId channelId;
  LogChannel* next = nullptr;  // the next channel of the same bucket
  bool enabled;
  DynArray<LogSink*> sinks;
};

// Routes text by level and channel to the sinks of that channel, and text that no sink of its
// channel takes to the sinks of the default channel. Reference-counted: the last Release
// destroys it.
class ChannelLog {
 public:
  // A log whose channel table has bucketCount buckets (0, or no memory for them: every text
  // goes to the default channel). It starts with one reference.
  explicit ChannelLog(uint32_t bucketCount);
  ChannelLog(const ChannelLog&) = delete;
  ChannelLog& operator=(const ChannelLog&) = delete;

  void AddRef();
  void Release();

  // Adds a channel to the table; null when there is no table or no memory for it.
  LogChannel* addChannel(ChannelId id, bool enabled);
  LogChannel& defaultChannel() { return defaultChannel_; }
  // Drops, or lets through again, text of level.
  void muteLevel(uint32_t level, bool muted);

  // Drops text of a muted level and text of a listed channel that is not enabled; otherwise
  // gives it to its channel and, when that has no sink that takes it, to the default channel.
  void dispatch(uint32_t level, ChannelId channel, const char* text);

  // The process-wide log, or null: nothing in the library creates one.
  static ChannelLog* Instance();
  // Makes log (or null) the process-wide one, handing it one reference of the caller's; the
  // previous one's reference is given up.
  static void SetInstance(ChannelLog* log);
  // Gives up the process-wide log's reference (destroying it when it was the last) and clears
  // the pointer; done at unload.
  static void ReleaseInstance();

 protected:
  virtual ~ChannelLog();

 private:
  volatile long refCount_ = 1;
  DynArray<LogChannel*> buckets_;
  uint32_t bucketCount_ = 0;
  uint32_t channelCount_ = 0;
  LogChannel defaultChannel_;
  bool levelMuted_[kLogLevelCount] = {};
};

// Where channelLog sends its text.
struct LogTarget {
  uint32_t level;
  ChannelId channel;
};

// Formats the message and dispatches it through the process-wide log; does nothing, not even
// format, while there is none.
void channelLog(const LogTarget& target, const char* format, ...) QUORVEL_PRINTF_FORMAT(2, 3);

}  // namespace quorvel
