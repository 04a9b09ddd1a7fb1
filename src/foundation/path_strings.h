#pragma once

#include "foundation/shared_string.h"

namespace quorvel {

// Textual operations on Windows paths: no file-system access, no ".." resolution, no collapsing
// of doubled separators, no case folding.

// Backslash, slash and colon: the end of a path component (a drive prefix such as C: ends one).
extern const wchar_t kPathSeparators[];
// Backslash and slash.
extern const wchar_t kSlashes[];

// Every slash becomes a backslash.
void ToBackslashes(SharedWString& path);
// ToBackslashes, then trailing backslashes removed (C:\ becomes C:, a lone \ the empty string).
void NormalizePath(SharedWString& path);
// Appends other to base. An empty other leaves base; an empty base takes other; a
// drive-qualified (X:) or network (two slashes) other replaces base. Otherwise one slash joins
// them (callers normalise it to a backslash) unless base ends in a separator or other starts
// with a slash; a slash at both sides is kept once.
void JoinPath(SharedWString& base, const SharedWString& other);
// The path up to and including its last separator; empty for a bare name.
SharedWString DirectoryPart(const SharedWString& path);
// Cuts everything up to and including the last separator.
void FileNamePart(SharedWString& path);
void FileNamePart(SharedString& path);
// Cuts the path at the last dot of its final component.
void RemoveExtension(SharedString& path);

// A drive's root keeps its backslash (D: becomes D:\): a bare drive stands for the drive's
// current folder when a name is joined to it, and for the volume when it is opened.
void KeepRoot(SharedWString& path);

// The longest path the system takes, in characters.
constexpr uint32_t kLongestPath = 32767;
// The length from which Win32 file calls need the \\?\ form: CreateDirectoryW's limit, 260 less
// room for an 8.3 name (a file's limit is 260).
constexpr uint32_t kLongPathFrom = 248;
// fullPath (a full path as GetFullPathNameW gives it: no . or .. components) in the form Win32
// file calls take at any length: from kLongPathFrom characters on with the \\?\ prefix, a network
// path as \\?\UNC\server\share. Shorter paths, and any other form (relative, or \\?\ or
// \\.\ already), stay as they are.
SharedWString LongPathForm(const SharedWString& fullPath);

}  // namespace quorvel
