#include "crash/channel_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>
#include <new>

#include "crash/formatted_text.h"

namespace quorvel {
namespace {

ChannelLog* g_channelLog = nullptr;

constexpr uint32_t kMessageCapacity = 4096;
constexpr uint32_t kNewlineCapacity = 2048;

int HandToSinks(const DynArray<LogSink*>& sinks, uint32_t level, ChannelId channel,
                const char* text) {
  int result = kSinkDeclined;
  for (uint32_t i = 0; i < sinks.Count(); ++i) {
    const int answer = sinks[i]->write(level, channel, text);
    if ((answer == kSinkTookTextFirst || answer == kSinkTookText) && result != kSinkTookTextFirst) {
      result = answer;
    }
  }
  return result;
}

}  // namespace

int LogChannel::write(uint32_t level, ChannelId channel, const char* text) {
  if (sinks.Count() == 0) {
    return kSinkDeclined;
  }
  const size_t length = std::strlen(text);
  if (length != 0 && text[length - 1] == '\n') {
    return HandToSinks(sinks, level, channel, text);
  }
  FormattedText<kNewlineCapacity> line("%s\n", text);
  return HandToSinks(sinks, level, channel, line.Text());
}

ChannelLog::ChannelLog(uint32_t bucketCount) : defaultChannel_(0, true) {
  if (bucketCount != 0 && buckets_.Reserve(bucketCount)) {
    for (uint32_t i = 0; i < bucketCount; ++i) {
      buckets_.Append(nullptr);
    }
    bucketCount_ = bucketCount;
  }
}

ChannelLog::~ChannelLog() {
  for (uint32_t i = 0; i < bucketCount_; ++i) {
    LogChannel* node = buckets_[i];
    while (node != nullptr) {
      LogChannel* next = node->next;
      delete node;
      node = next;
    }
  }
}

void ChannelLog::AddRef() { InterlockedIncrement(&refCount_); }

void ChannelLog::Release() {
  if (InterlockedDecrement(&refCount_) == 0) {
    delete this;
  }
}

LogChannel* ChannelLog::addChannel(ChannelId id, bool enabled) {
  if (bucketCount_ == 0) {
    return nullptr;
  }
  auto* node = new (std::nothrow) LogChannel(id, enabled);
  if (node == nullptr) {
    return nullptr;
  }
  LogChannel*& head = buckets_[id % bucketCount_];
  node->next = head;
  head = node;
  ++channelCount_;
  return node;
}

void ChannelLog::muteLevel(uint32_t level, bool muted) {
  if (level < kLogLevelCount) {
    levelMuted_[level] = muted;
  }
}

void ChannelLog::dispatch(uint32_t level, ChannelId channel, const char* text) {
  if (level < kLogLevelCount && levelMuted_[level]) {
    return;
  }
  if (bucketCount_ != 0 && channelCount_ != 0) {
    for (LogChannel* node = buckets_[channel % bucketCount_]; node != nullptr; node = node->next) {
      if (node->channelId != channel) {
        continue;
      }
      if (!node->enabled || node->write(level, channel, text) != kSinkDeclined) {
        return;
      }
      break;
    }
  }
  defaultChannel_.write(level, channel, text);
}

ChannelLog* ChannelLog::Instance() { return g_channelLog; }

void ChannelLog::SetInstance(ChannelLog* log) {
  ChannelLog* previous = g_channelLog;
  g_channelLog = log;
  if (previous != nullptr) {
    previous->Release();
  }
}

void ChannelLog::ReleaseInstance() {
  ChannelLog* log = g_channelLog;
  g_channelLog = nullptr;
  if (log != nullptr) {
    log->Release();
  }
}

void channelLog(const LogTarget& target, const char* format, ...) {
  if (ChannelLog::Instance() == nullptr || format == nullptr) {
    return;
  }
  va_list args;
  va_start(args, format);
  FormattedText<kMessageCapacity> text(format, args);
  va_end(args);
  if (ChannelLog* log = ChannelLog::Instance()) {
    log->dispatch(target.level, target.channel, text.Text());
  }
}

}  // namespace quorvel
