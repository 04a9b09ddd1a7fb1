#pragma once

#include <cstdint>

namespace quorvel {

// A log channel's identifier: the ELF hash of its name.
using ChannelId = uint32_t;

// The channel that assertion reports are sent to.
constexpr ChannelId kAssertionChannel = 0x04332604;

// The ELF (PJW) hash of name, its characters taken as signed 8-bit values; 0 for a null name.
ChannelId channelIdOf(const char* name);

}  // namespace quorvel
