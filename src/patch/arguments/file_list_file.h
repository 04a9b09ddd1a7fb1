#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/shared_string.h"
#include "patch/run/name_list.h"

namespace quorvel {

// What a list file may hold. The size bounds the memory of the read in a 32-bit process, the
// count that of the names it yields, and a name is no longer than a command line could carry.
constexpr uint32_t kFileListMaxBytes = 64u << 20;
constexpr uint32_t kFileListMaxNames = 1000000;
constexpr uint32_t kFileListMaxNameLength = 32767;

// Appends to names the names of the list file at path: UTF-8 with or without its byte-order
// mark, or UTF-16 LE with its mark; one name per line, lines ended by CR LF or LF, the last one
// with or without its end. The file is read whole while other writers are kept out. A file
// that cannot be opened or read, is no file on disk, is larger than kFileListMaxBytes, holds no
// name, another encoding, an empty line, a control character, a name longer than
// kFileListMaxNameLength or more than kFileListMaxNames names gives E_INVALIDARG after one log
// line that names the file and, for its contents, the line; names then holds those read before.
HRESULT ReadFileList(const SharedWString& path, NameList& names);

}  // namespace quorvel
