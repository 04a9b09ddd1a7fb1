#pragma once

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// Appends the CPU registers of context and a dump of the raw stack around its stack pointer:
// ten rows of four 32-bit words from 32 bytes below the stack pointer, the row starting at the
// stack pointer marked with '-'. A word that cannot be read is shown as 0x???????? rather than
// read at the risk of a fault.
void AppendRegisterDump(SharedString& text, const CONTEXT& context);

}  // namespace quorvel
