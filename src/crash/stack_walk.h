#pragma once

#include <windows.h>
// The debug-help declarations need the Windows types before them.
#include <dbghelp.h>

#include <cstdint>

#include "crash/own_frame.h"
#include "foundation/shared_string.h"

namespace quorvel {

// Room for one frame line, terminator included. Module and symbol names of up to 260
// characters and a source file name of any length fit or are cut; the line always ends in "\n".
constexpr uint32_t kFrameLineCapacity = 1024;

// Writes the line of frame into line (capacity characters, terminator included): program
// counter, module, symbol with displacement, the four parameter words and, when the engine
// knows it, the source line. A longer line is cut and still ends in "\n". Returns the number of
// characters written, terminator excluded.
uint32_t formatFrame(char* line, uint32_t capacity, const STACKFRAME& frame);

// Appends the call stack of thread to out. With exceptionPointers the walk starts at the
// exception's context and the CPU registers and raw stack follow the frame lines; without, a
// walk of the calling thread starts at walkStack itself, and another thread (suspended by the
// caller) is walked from its context. The first skipFrames frames are not listed, at most
// maxFrames are walked, and the walk stops once timeLimitMs have passed (0: no limit). maxChars
// bounds the frame lines' characters (0: no limit). The engine is initialised for the walk and
// cleaned up at its end.
QUORVEL_OWN_FRAME void walkStack(EXCEPTION_POINTERS* exceptionPointers, SharedString& out,
                                 uint32_t maxChars, uint32_t skipFrames, uint32_t maxFrames,
                                 HANDLE threadHandle, uint32_t timeLimitMs);

}  // namespace quorvel
