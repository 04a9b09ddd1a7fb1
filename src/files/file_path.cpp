#include "files/file_path.h"

#include <memory>
#include <new>

#include "foundation/dyn_array.h"
#include "foundation/path_strings.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

// The absolute path, normalised; empty when the system cannot resolve it or it is longer than
// the system takes.
SharedWString FullPathOf(const SharedWString& path) {
  // Most paths fit the small buffer; a call into a buffer too small returns the size it needs,
  // terminator included.
  wchar_t small[MAX_PATH] = {};
  std::unique_ptr<wchar_t[]> large;
  wchar_t* buffer = small;
  DWORD size = MAX_PATH;
  DWORD length = GetFullPathNameW(path.Chars(), size, buffer, nullptr);
  if (length >= size && length <= kLongestPath + 1) {
    size = length;
    large.reset(new (std::nothrow) wchar_t[size]);
    buffer = large.get();
    length = buffer != nullptr ? GetFullPathNameW(path.Chars(), size, buffer, nullptr) : 0;
  }
  SharedWString full;
  if (length != 0 && length < size) {
    full = buffer;
  }
  NormalizePath(full);
  return full;
}

// path as Win32 file calls take it: a short full path as it is, anything else by its full path
// in the long form (a short relative one then by its full path, as the call would resolve it).
SharedWString SystemPath(const SharedWString& path) {
  const wchar_t* chars = path.Chars();
  const bool full = (chars[0] != 0 && chars[1] == L':' && chars[2] == L'\\') ||
                    (chars[0] == L'\\' && chars[1] == L'\\');
  if (full && path.Length() < kLongPathFrom) {
    return path;
  }
  const SharedWString fullPath = FullPathOf(path);
  return fullPath.IsEmpty() ? path : LongPathForm(fullPath);
}

// Whether the full path lies in or is the full path root: root's characters begin it
// (case-sensitive) and end at one of its separators, so C:\app holds C:\app\f but not
// C:\application\f. A root that could not be resolved (empty) holds nothing.
bool IsWithin(const SharedWString& path, const SharedWString& root) {
  if (root.IsEmpty() || root.Length() > path.Length()) {
    return false;
  }
  for (uint32_t i = 0; i < root.Length(); ++i) {
    if (path.Chars()[i] != root.Chars()[i]) {
      return false;
    }
  }
  return path.Length() == root.Length() || path.Chars()[root.Length()] == L'\\';
}

}  // namespace

FilePath::FilePath() : FilePath(SharedWString(L".")) {}

FilePath::FilePath(const SharedWString& path) : path_(path) { PathChanged(); }

FilePath& FilePath::operator=(const SharedWString& path) {
  path_ = path;
  PathChanged();
  return *this;
}

FilePath& FilePath::Join(const SharedWString& relative) {
  JoinPath(path_, relative);
  PathChanged();
  return *this;
}

FilePath FilePath::Joined(const SharedWString& relative) const {
  FilePath joined(*this);
  joined.Join(relative);
  return joined;
}

void FilePath::PathChanged() {
  NormalizePath(path_);
  attributes_ = WIN32_FILE_ATTRIBUTE_DATA();
  attributes_.dwFileAttributes = INVALID_FILE_ATTRIBUTES;
}

bool FilePath::IsDirectory() const {
  return attributes_.dwFileAttributes != INVALID_FILE_ATTRIBUTES &&
         (attributes_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

SharedWString FilePath::FullPath() const { return FullPathOf(path_); }

FilePath FilePath::Parent() const { return FilePath(DirectoryPart(path_)); }

bool FilePath::Exists() {
  if (!GetFileAttributesExW(SystemPath(path_).Chars(), GetFileExInfoStandard, &attributes_)) {
    const DWORD error = GetLastError();
    // A failed query must not leave an earlier answer looking current.
    attributes_.dwFileAttributes = INVALID_FILE_ATTRIBUTES;
    Record(FailureResult(error));
    return false;
  }
  Record(S_OK);
  return true;
}

HRESULT FilePath::Query(bool& exists) {
  exists = Exists();
  return exists || IsNotFound(lastResult_) ? S_OK : lastResult_;
}

HRESULT FilePath::Delete() {
  Record(S_OK);
  Exists();
  return DeleteAsQueried();
}

HRESULT FilePath::ClearReadOnly() {
  const DWORD attributes = attributes_.dwFileAttributes;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return Record(S_OK);
  }
  const SharedWString full = LongPathForm(FullPath());
  DWORD kept = attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  if (kept == 0) {
    kept = FILE_ATTRIBUTE_NORMAL;
  }
  if (!SetFileAttributesW(full.Chars(), kept)) {
    const DWORD error = GetLastError();
    return Record(FailureResult(error));
  }
  attributes_.dwFileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
  return Record(S_OK);
}

HRESULT FilePath::DeleteAsQueried() {
  const bool isDirectory = IsDirectory();
  const SharedWString full = LongPathForm(FullPath());
  if (isDirectory) {
    if (!RemoveDirectoryW(full.Chars())) {
      const DWORD error = GetLastError();
      return Record(FailureResult(error));
    }
    return Record(S_OK);
  }
  if (!DeleteFileW(full.Chars())) {
    const DWORD error = GetLastError();
    return Record(FailureResult(error));
  }
  return Record(S_OK);
}

HRESULT FilePath::CreateDirectories() {
  if (Exists() && IsDirectory()) {
    return Record(S_OK);
  }
  // The missing directories by the length of their paths, this one first: a parent's path is a
  // prefix of its child's. A loop rather than recursion, so that a deep path cannot exhaust the
  // thread's stack.
  DynArray<uint32_t> missing;
  if (!missing.Append(path_.Length())) {
    return Record(E_OUTOFMEMORY);
  }
  FilePath parent = Parent();
  // A bare drive (C:) or any other path ending in a colon is its own parent; the climb ends there.
  while (!parent.path_.IsEmpty() && parent.path_.Length() < missing[missing.Count() - 1] &&
         !(parent.Exists() && parent.IsDirectory())) {
    if (!missing.Append(parent.path_.Length())) {
      return Record(E_OUTOFMEMORY);
    }
    parent = parent.Parent();
  }
  for (uint32_t i = missing.Count(); i > 0; --i) {
    const SharedWString directory = SystemPath(path_.Mid(0, missing[i - 1] - 1));
    if (!CreateDirectoryW(directory.Chars(), nullptr)) {
      const DWORD error = GetLastError();
      return Record(FailureResult(error));
    }
  }
  return Record(S_OK);
}

HRESULT FilePath::CreateParentDirectories() { return Record(Parent().CreateDirectories()); }

HRESULT FilePath::PrepareDestination(FilePath& destination) {
  Record(S_OK);
  if (!Exists()) {
    return lastResult_;
  }
  if (destination.Exists()) {
    if (destination.IsDirectory()) {
      SharedWString name = path_;
      FileNamePart(name);
      destination.Join(name);
    }
    return S_OK;
  }
  return destination.CreateParentDirectories();
}

HRESULT FilePath::Transfer(const FilePath& destination, bool move, bool failIfExists) {
  FilePath work(destination);
  const HRESULT prepared = PrepareDestination(work);
  if (FAILED(prepared)) {
    return Record(prepared);
  }
  const SharedWString from = LongPathForm(FullPath());
  const SharedWString to = LongPathForm(work.FullPath());
  // A move is a rename only: MoveFileW would copy to another volume straight into to, where a
  // copy cut short would stand in for the file. The callers copy under a partial name instead.
  const BOOL done = move ? MoveFileExW(from.Chars(), to.Chars(), 0)
                         : CopyFileExW(from.Chars(), to.Chars(), nullptr, nullptr, nullptr,
                                       failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0);
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!done) {
    // A copy or move that fails without an error code is no file in use: the player would be
    // told that another program holds the file.
    return Record(FailureResult(error));
  }
  return Record(S_OK);
}

HRESULT FilePath::CopyTo(const FilePath& destination, bool failIfExists) {
  return Transfer(destination, false, failIfExists);
}

HRESULT FilePath::MoveTo(const FilePath& destination) { return Transfer(destination, true, false); }

HRESULT FilePath::RemoveWithEmptyParents(const FilePath& root) {
  const SharedWString rootFull = root.FullPath();
  if (!IsWithin(FullPath(), rootFull)) {
    return Delete();
  }
  FilePath current(*this);
  while (current.FullPath().Length() > rootFull.Length()) {
    if (current.Exists()) {
      const bool isDirectory = current.IsDirectory();
      // The query has just been made: Delete would only repeat it.
      const HRESULT result = current.DeleteAsQueried();
      if (FAILED(result)) {
        // A directory that stays (not empty, or in use) ends the climb; a file that stays is
        // a failure.
        return Record(isDirectory ? S_OK : result);
      }
    }
    FilePath parent = current.Parent();
    // A bare drive is its own parent, and its full path (the drive's current directory) can
    // stay longer than root's even after that directory has gone.
    if (parent.path_.Equals(current.path_)) {
      break;
    }
    current = parent;
  }
  return Record(S_OK);
}

}  // namespace quorvel
