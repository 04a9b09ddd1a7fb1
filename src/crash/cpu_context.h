#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

// The registers the reporting library reads from a thread context, under the names of the
// architecture the code is built for. The product is 32-bit x86; the 64-bit build reads the
// x86_64 equivalents.
#if defined(_M_IX86) || defined(__i386__)
inline uintptr_t InstructionPointer(const CONTEXT& context) { return context.Eip; }
inline uintptr_t FramePointer(const CONTEXT& context) { return context.Ebp; }
inline uintptr_t StackPointer(const CONTEXT& context) { return context.Esp; }
#elif defined(_M_X64) || defined(__x86_64__)
inline uintptr_t InstructionPointer(const CONTEXT& context) { return context.Rip; }
inline uintptr_t FramePointer(const CONTEXT& context) { return context.Rbp; }
inline uintptr_t StackPointer(const CONTEXT& context) { return context.Rsp; }
#else
#error "The reporting library reads x86 or x86_64 thread contexts only."
#endif

}  // namespace quorvel
