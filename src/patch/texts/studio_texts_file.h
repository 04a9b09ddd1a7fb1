#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/shared_string.h"
#include "patch/texts/player_texts.h"

namespace quorvel {

// A texts file is read whole; this bounds the memory of the read.
constexpr uint32_t kStudioTextsMaxBytes = 1u << 20;

// Reads the studio's texts file at path into texts. The file is UTF-8, with or without its
// byte-order mark: lines of key=text below "[language tag]" lines, CR LF or LF line ends; empty
// lines and lines that begin with # are skipped. Every line of every section is checked; only
// the sections that speak to the player (StudioTagsFor) and the English ones ("en-us", "en")
// are kept. A file that cannot be opened or read, is no file on disk, is larger than
// kStudioTextsMaxBytes, or holds a line that is not UTF-8, holds a control character, is neither
// a section nor key=text, comes before the first section, names no player text, repeats a key of
// its section, has an empty text, or a text whose placeholders differ from the original's gives
// E_INVALIDARG after one log line that names the file and, for its contents, the line; texts
// is then unchanged.
HRESULT ReadStudioTexts(const SharedWString& path, PlayerTexts& texts);

}  // namespace quorvel
