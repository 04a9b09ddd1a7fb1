#pragma once

#include <windows.h>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"

namespace quorvel {

// What an open handle turned out to be, for a file the system keeps beside the player's files
// (the log, the run journal and its draft, the locks) and must never reach through a link: the
// system's rights may be an administrator's, and anything running as the player can plant one.
enum class FileItself {
  kItself,      // a plain file of one name, whose final path is the one expected
  kLink,        // a link, a folder, or a final path elsewhere
  kOtherNames,  // a second name of a file with other names
  kUnnamed,     // the system could not name the handle; nothing else found wrong
};

// Checks the open file against expected, its final path as the file system names it (compared
// as names are, ignoring case). final gets the handle's final path, empty when it has none.
// seen, when given, speeds up a file checked again and again (the log at every line): a handle
// whose object name (VolumeNameOf) is *seen is the file that passed before, at the same place,
// and its final path is not asked (final stays empty); after a check that passed by its final
// path, *seen is the handle's object name. A link or a second name is refused either way.
FileItself CheckFileItself(HANDLE file, const SharedWString& expected, SharedWString& final,
                           SharedWString* seen = nullptr);

// CreateFileW, except that no file is ever made through a link whose target is missing (under
// Wine such a link is invisible, and OPEN_ALWAYS would make its target wherever it leads):
// OPEN_ALWAYS opens what stands at path or makes a file only where nothing stands, as CREATE_NEW
// does. Such a link fails OPEN_ALWAYS and CREATE_NEW with ERROR_CANT_RESOLVE_FILENAME.
HANDLE CreateFileHere(const SharedWString& path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags);

// Opens path with CreateFileW's access, share, disposition and flags (the link itself where
// one stands: FILE_FLAG_OPEN_REPARSE_POINT is added) and checks it as CheckFileItself does
// (with seen). The
// handle stays open in file only when it is the file itself; otherwise file is closed. A link
// whose target is missing is found as kLink, with final empty. False with error set when the
// open failed.
bool OpenFileItself(const SharedWString& path, const SharedWString& expected, DWORD access,
                    DWORD share, DWORD disposition, DWORD flags, ScopedFileHandle& file,
                    FileItself& found, SharedWString& final, DWORD& error,
                    SharedWString* seen = nullptr);

}  // namespace quorvel
