#pragma once

#include <cstdint>

namespace quorvel {

// The process-wide option word that the library's shared code consults bit by bit. Every bit is
// set from load to unload; nothing changes it.
extern const uint32_t LibraryOptions;

// Bits of LibraryOptions and what a set bit means.
constexpr uint32_t kOptionAssertionsToChannelLog = 0x2;   // assertion reports go to the channel log
constexpr uint32_t kOptionTrapFloatDivideByZero = 0x400;  // worker threads trap division by zero
constexpr uint32_t kOptionNoStackTraceSection = 0x1000;   // reports leave out the stack trace

// Clears the calling thread's pending floating-point exception flags, then unmasks (enable true)
// or masks (enable false) the exceptions of mask, given in _control87's encoding (0x8 is
// division by zero). The other masks and the rest of the control word stay as they were.
void SetFloatingPointTraps(bool enable, uint32_t mask);

}  // namespace quorvel
