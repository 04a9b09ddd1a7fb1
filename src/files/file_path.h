#pragma once

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// A normalised path with the attributes of its last query and the HRESULT of its last
// operation. Every operation that returns an HRESULT also leaves it in LastResult(), so a caller
// can run several operations on several paths and ask the one that failed for its code. A value
// belongs to one thread.
class FilePath {
 public:
  // The current directory, ".".
  FilePath();
  // The path, normalised; LastResult() is 0.
  explicit FilePath(const SharedWString& path);
  FilePath(const FilePath&) = default;
  FilePath& operator=(const FilePath&) = default;
  // Takes the path, normalised; LastResult() keeps its value.
  FilePath& operator=(const SharedWString& path);

  // Joins relative to the path by JoinPath's rules and normalises the result.
  FilePath& Join(const SharedWString& relative);
  // A copy of this path (LastResult() included) joined with relative.
  FilePath Joined(const SharedWString& relative) const;

  SharedWString Path() const { return path_; }
  HRESULT LastResult() const { return lastResult_; }
  // The absolute path, normalised; empty when the system cannot resolve it or it is longer than
  // the system takes (32,767 characters). A bare drive such as C: resolves to that drive's
  // current directory. Every operation below reaches a path of any length.
  SharedWString FullPath() const;
  // The containing directory by text alone: C:\a\b gives C:\a, C:\a gives C:, C: gives C:, a
  // bare name gives the empty path.
  FilePath Parent() const;

  // Queries the attributes of the path as stored (it may be relative); records 0 or the error.
  bool Exists();
  // Queries like Exists into exists. S_OK when the path exists or is simply not there; the
  // error of a query that failed for any other reason (a bad name, no access), which must not
  // be taken for a missing file.
  HRESULT Query(bool& exists);
  // Whether the last query found a directory.
  bool IsDirectory() const;
  // What the last query found: attributes, times and size (attributes INVALID_FILE_ATTRIBUTES
  // when it found nothing).
  const WIN32_FILE_ATTRIBUTE_DATA& Attributes() const { return attributes_; }
  // Removes the directory (only when empty) or deletes the file.
  HRESULT Delete();
  // Clears the read-only attribute that the last query found; S_OK when it was not set.
  HRESULT ClearReadOnly();
  // Creates the directory and every missing one above it, topmost first. Succeeds when the
  // directory exists already; an existing file of that name fails with 0x800700B7.
  HRESULT CreateDirectories();
  // CreateDirectories of Parent().
  HRESULT CreateParentDirectories();
  // Checks that this path exists and readies destination for a copy or move of it: an existing
  // directory becomes that directory joined with this path's file name; a missing destination
  // gets its parent directories. The error of a missing source is recorded here, the error of
  // the destination's query and directory creation in destination.
  HRESULT PrepareDestination(FilePath& destination);
  // Copies to destination (into it when it is a directory), creating its parent directories.
  // With failIfExists an existing file fails with 0x80070050, otherwise it is overwritten. A
  // copy that fails without an error code gives E_FAIL. destination is not changed.
  HRESULT CopyTo(const FilePath& destination, bool failIfExists);
  // As CopyTo with a rename, which fails with 0x800700B7 onto an existing file and with
  // 0x80070011 onto another volume: it never copies.
  HRESULT MoveTo(const FilePath& destination);
  // Deletes this path and then each directory above it that has become empty, stopping below
  // root or at the first directory that cannot be removed. Unless root's full path begins this
  // path's full path (character by character, case-sensitive) and ends at one of its
  // separators, only this path is deleted, as also when root cannot be resolved. Fails only
  // when a file cannot be deleted.
  HRESULT RemoveWithEmptyParents(const FilePath& root);

 private:
  // Marks the attributes unknown after a change of the path.
  void PathChanged();
  // Delete's removal for the attributes of the query just made.
  HRESULT DeleteAsQueried();
  HRESULT Record(HRESULT result) { return lastResult_ = result; }
  // CopyTo or MoveTo: PrepareDestination on a copy of destination, then the one system call.
  HRESULT Transfer(const FilePath& destination, bool move, bool failIfExists);

  SharedWString path_;
  WIN32_FILE_ATTRIBUTE_DATA attributes_;
  HRESULT lastResult_ = S_OK;
};

}  // namespace quorvel
