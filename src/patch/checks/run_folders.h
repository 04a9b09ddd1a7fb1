#pragma once

#include <vector>

#include "foundation/shared_string.h"
#include "patch/run/patch_run.h"

namespace quorvel {

// A folder of a run: what the log calls it, its path as the command line gave it, and its final
// path on disk when the run was checked (empty: taken from the disk when a check needs it).
struct RunFolder {
  const char* what;
  SharedWString path;
  SharedWString real;
};

// Where each folder of a run stands in the lists below.
constexpr size_t kPatchFolder = 0, kApplicationFolder = 1, kBackupFolder = 2;

// The patch, application and backup folders of a run as given, final paths not yet known.
std::vector<RunFolder> RunFolders(const SharedWString& patch, const SharedWString& application,
                                  const SharedWString& backup);

// The folders of the run, with their final paths as the disk gives them now (a folder that does
// not exist yet gets the path it will have).
std::vector<RunFolder> RunFoldersOf(const PatchRun& run);

}  // namespace quorvel
