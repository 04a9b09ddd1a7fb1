#pragma once

#include "foundation/shared_string.h"

namespace quorvel {

// Whether the files at the full paths a and b hold the same bytes: false when they differ, or
// when either cannot be opened or read to the end.
bool SameContents(const SharedWString& a, const SharedWString& b);

}  // namespace quorvel
