#pragma once

// What the run journal holds, as its text (see run_journal.h) is read back.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "foundation/shared_string.h"
#include "patch/checks/file_identity.h"
#include "patch/steps/file_step.h"

namespace quorvel {

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
