#include "foundation/run_log.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "foundation/file_itself.h"
#include "foundation/final_path.h"
#include "foundation/format.h"
#include "foundation/log_text.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/scoped_handle.h"

namespace quorvel {
namespace {

// Constructed empty while the library loads; DllMain sets it on process attach.
SharedWString g_logPath;

// Where the log's file must be on disk: the final path of the folder above the log's folder,
// with the folder's and the file's names as the log path gives them. Worked out at the first
// write that opens the file and kept for that path: a link put in later at the folder or at the
// file's name changes the file's final path, and is caught by the comparison.
SharedWString g_expectedFor;
SharedWString g_expected;
// The object name of the log file the last line went to, for g_expectedFor: the next line is
// checked against it, at half the cost of a final path.
SharedWString g_seen;

SharedWString FullPathOf(const SharedWString& path) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetFullPathNameW(path.Chars(), MAX_PATH, buffer, nullptr);
  SharedWString full(n > 0 && n < MAX_PATH ? buffer : L"");
  NormalizePath(full);
  return full;
}

// The final path of an existing folder (a bare drive means its root); false when it cannot be
// opened or named.
bool FinalFolderPath(SharedWString folder, SharedWString& final) {
  KeepRoot(folder);
  ScopedFileHandle handle(CreateFileW(folder.Chars(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  DWORD error = ERROR_SUCCESS;
  return handle.IsValid() && FinalPathOfHandle(handle.Get(), final, error);
}

SharedWString ExpectedPath(const SharedWString& logPath) {
  if (!g_expectedFor.IsEmpty() && g_expectedFor.Equals(logPath)) {
    return g_expected;
  }
  const SharedWString full = FullPathOf(logPath);
  SharedWString folder = DirectoryPart(full);
  NormalizePath(folder);
  SharedWString above = DirectoryPart(folder);
  NormalizePath(above);
  KeepRoot(above);  // the names below start after it
  SharedWString expected;
  const DWORD folderAttributes = GetFileAttributesW(folder.Chars());
  // The log's own folder must not be a link either: it sits among the player's files.
  if (full.IsEmpty() || folderAttributes == INVALID_FILE_ATTRIBUTES ||
      (folderAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !FinalFolderPath(above, expected)) {
    return SharedWString();
  }
  SharedWString names(full.Chars() + above.Length());
  JoinPath(expected, names);
  NormalizePath(expected);
  g_expectedFor = logPath;
  g_expected = expected;
  g_seen.Clear();
  return expected;
}

// Whether the folder of path is, on disk, the folder of expected: a folder swapped for a link
// since the first write would have a new file made wherever the link leads.
bool FolderIsWhere(const SharedWString& path, const SharedWString& expected) {
  SharedWString folder = DirectoryPart(FullPathOf(path));
  SharedWString expectedFolder = DirectoryPart(expected);
  NormalizePath(folder);
  NormalizePath(expectedFolder);
  SharedWString final;
  return FinalFolderPath(folder, final) && CompareNames(final, expectedFolder) == 0;
}

// The log file itself, opened to append, or an invalid handle. A link at the log's name or its
// folder, or a second name of another file, is never written through, and no file is made
// through one: a file the run would reach that way could be anywhere, and the run's rights may
// be an administrator's.
ScopedFileHandle OpenLogItself(const SharedWString& path) {
  const SharedWString expected = ExpectedPath(path);
  if (expected.IsEmpty()) {
    return ScopedFileHandle();
  }
  const DWORD access = FILE_APPEND_DATA | SYNCHRONIZE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  ScopedFileHandle file;
  FileItself found = FileItself::kLink;
  SharedWString final;
  DWORD error = ERROR_SUCCESS;
  if (!OpenFileItself(path, expected, access, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, file,
                      found, final, error, &g_seen) &&
      error == ERROR_FILE_NOT_FOUND && FolderIsWhere(path, expected)) {
    // Opening the reparse point itself keeps a link whose target is missing from having that
    // target made; the name exists, so the creation fails.
    OpenFileItself(path, expected, access, share, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, file, found,
                   final, error, &g_seen);
  }
  return file;
}

}  // namespace

void RunLog::SetPath(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(g_logPath, format, args);
  va_end(args);
}

void RunLog::Write(const char* format, ...) {
  if (g_logPath.IsEmpty()) {
    return;
  }
  va_list args;
  va_start(args, format);
  const SharedString text = LogText(format, args);
  va_end(args);
  if (text.IsEmpty()) {
    return;
  }
  ScopedFileHandle file = OpenLogItself(g_logPath);
  if (!file.IsValid()) {
    return;
  }
  // Written as a text-mode stream writes it: each "\n" reaches the file as CR LF.
  SharedString lines;
  const char* start = text.Chars();
  for (const char* end; (end = std::strchr(start, '\n')) != nullptr; start = end + 1) {
    lines.Append(start, static_cast<uint32_t>(end - start));
    lines.Append("\r\n", 2);
  }
  lines.Append(start, static_cast<uint32_t>(text.Chars() + text.Length() - start));
  // Two runs at once (a second one waits for the game, but writes while it waits) append to one
  // log. Wine appends to a handle that may only append by writing at the end it last saw, so
  // lines written at the same moment overwrite each other; a lock on a byte far past any log
  // makes the writes take turns. Windows appends whole and refuses the lock to such a handle:
  // then the line is written all the same. The close just below lets go of the lock at once
  // (Wine drops a handle's locks with it), as an unlock would, for half the calls to the server.
  OVERLAPPED turn = {};
  turn.Offset = 0xFFFFFFFF;
  turn.OffsetHigh = 0x7FFFFFFF;
  LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn);
  DWORD written = 0;
  WriteFile(file.Get(), lines.Chars(), lines.Length(), &written, nullptr);
}

SharedWString RunLog::Path() { return g_logPath; }

}  // namespace quorvel
