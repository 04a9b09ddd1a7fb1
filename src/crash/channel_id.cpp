#include "crash/channel_id.h"

namespace quorvel {

ChannelId channelIdOf(const char* name) {
  if (name == nullptr) {
    return 0;
  }
  uint32_t hash = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    // Characters above 0x7F count as negative: sign-extended before they are added.
    const int32_t value = static_cast<signed char>(*c);
    hash = (hash << 4) + static_cast<uint32_t>(value);
    const uint32_t top = hash & 0xF0000000u;
    if (top != 0) {
      hash ^= top >> 24;
      hash &= ~top;
    }
  }
  return hash;
}

}  // namespace quorvel
