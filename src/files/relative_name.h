#pragma once

#include "foundation/shared_string.h"

namespace quorvel {

// Why name is not a plain relative path that stays below the folder it is joined to, as a
// phrase for the log ("it is rooted"); null when it is one. A plain name has one or more
// components separated by backslashes or slashes, none of them empty, "." or "..", none ending
// in a space or a dot, none a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9,
// LPT1-LPT9 and COM or LPT with a superscript 1, 2 or 3, with or without spaces and an extension
// after it), and no colon, control character or any of < > " | ? *.
const char* RelativeNameFault(const SharedWString& name);

}  // namespace quorvel
