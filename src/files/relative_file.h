#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/final_path.h"
#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"

namespace quorvel {

// A file opened by its name inside an open folder and moved by its handle into another open
// folder, so that what moves is the file that was opened and checked, through folders that
// stay where they were checked. On Windows the handle is bound to the file; under Wine a rename
// or delete through it acts on the path it was opened by.
class RelativeFile {
 public:
  // Opens the file (not a folder) leaf inside folder for moving or deleting it, sharing all
  // access. Returns 0, or the error as an HRESULT of its Win32 number, with nothing open.
  HRESULT Open(HANDLE folder, const SharedWString& leaf);
  HANDLE Get() const { return handle_.Get(); }
  void Close() { handle_.Reset(); }

  // Moves the file to leaf inside folder, replacing a file there only with replace. Returns 0
  // or the error: ERROR_NOT_SAME_DEVICE when folder lies on another volume, where only a copy
  // can move the file.
  HRESULT MoveInto(HANDLE folder, const SharedWString& leaf, bool replace);

  // Clears the file's read-only flag and deletes it. Returns 0 or the error.
  HRESULT Delete();

 private:
  ScopedFileHandle handle_;
};

// Creates the folder leaf inside the open folder parent and opens it to list it, shared for
// reading and writing only: it is held from the moment it exists. Returns 0 with folder open;
// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) when something stands at leaf already, or the error,
// with nothing made.
HRESULT CreateFolderIn(HANDLE parent, const SharedWString& leaf, ScopedFileHandle& folder);

// Removes the empty folder leaf inside the open folder parent, through a handle of its own,
// when its number is index (0: any). Returns 0; S_FALSE, with nothing removed, for another
// folder (or a link to one) at leaf; or the error (ERROR_DIR_NOT_EMPTY for a folder that holds
// anything).
HRESULT RemoveFolderIn(HANDLE parent, const SharedWString& leaf, uint64_t index = 0);

// Whether a rename or a delete through a handle acts on the path the handle was opened by, as
// under Wine, rather than on the file it has open, as on Windows.
bool RenamesFollowPaths();

}  // namespace quorvel
