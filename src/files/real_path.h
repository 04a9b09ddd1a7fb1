#pragma once

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// The path as the file system knows it: the final path of its nearest existing folder or file,
// so that aliases (a \\?\ prefix, a second drive letter for the same folder, a short 8.3 name,
// a junction) give one spelling, followed by the components below it that do not exist yet,
// as written. Without the \\?\ prefix and without a trailing backslash, except a drive's root
// (D:\), which a name is joined to as a folder. Where the file system
// cannot name an existing folder, the path keeps its spelling from there; empty when the path
// cannot be resolved at all (too long for a full path, or no part of it exists).
// fullPath is a full path as FilePath::FullPath gives it (a bare drive such as D: is its root).
SharedWString ResolvedPath(const SharedWString& fullPath);

// Whether path is folder or lies below it: a prefix ignoring case that ends at a separator.
// Both are full paths as ResolvedPath gives them; an empty one is never inside anything.
bool IsSameOrBelow(const SharedWString& path, const SharedWString& folder);

}  // namespace quorvel
