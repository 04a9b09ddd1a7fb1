#pragma once

// What the run journal holds, as its text (see run_journal.h) is read back.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"

namespace quorvel {

// What a run records just before each step that changes a file.
enum class JournalStep : wchar_t {
  kNone = L'-',
  kClearingBackup = L'x',  // a backup left by an earlier patch is deleted
  kBackingUp = L'b',       // the old file goes to the backup folder
  kRemoving = L'd',        // the old file is backed up; the file goes from the game
  kCopyingUp = L'c',       // the old file is backed up; the new one goes over the target
  kPuttingBack = L'p',     // a failed copy-up: the backup is copied back over the target
  kApplied = L'a',         // the file is patched
  kRevertingNew = L'n',    // the new file goes back to the patch folder
  kRevertingOld = L'o',    // the old file goes back from the backup folder
  kReverted = L'r',        // the file is as before the run
};

struct JournalFile {
  SharedWString name;
  FileIdentity target;  // the old file, in the application folder
  FileIdentity backup;  // a backup of an earlier patch
  FileIdentity source;  // the new file, in the patch folder
  JournalStep lastStep = JournalStep::kNone;
  // How many folders on the name's way, from the top, existed when the run began.
  uint32_t gameFoldersExisted = 0;
  uint32_t backupFoldersExisted = 0;
};

struct JournalContent {
  SharedWString token;
  SharedWString patchDirectory;
  SharedWString applicationDirectory;
  SharedWString backupDirectory;
  // The folders' file indexes (FileIndexOf), 0 where unknown.
  uint64_t patchIndex = 0;
  uint64_t applicationIndex = 0;
  uint64_t backupIndex = 0;
  SharedWString damaged;
  std::vector<JournalFile> files;
  bool finished = false;
  HRESULT result = S_OK;
  DWORD wholeBytes = 0;  // the file up to the end of its last whole line
};

}  // namespace quorvel
