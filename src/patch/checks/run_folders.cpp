#include "patch/checks/run_folders.h"

#include "files/file_path.h"
#include "files/folder_paths.h"
#include "files/real_path.h"

namespace quorvel {

std::vector<RunFolder> RunFolders(const SharedWString& patch, const SharedWString& application,
                                  const SharedWString& backup) {
  return {{"patch", patch, SharedWString()},
          {"application", application, SharedWString()},
          {"backup", backup, SharedWString()}};
}

std::vector<RunFolder> RunFoldersOf(const PatchRun& run) {
  std::vector<RunFolder> folders =
      RunFolders(run.patchDirectory, run.applicationDirectory, run.backupDirectory);
  for (RunFolder& folder : folders) {
    folder.real = ResolvedPath(FolderPath(folder.path).FullPath());
  }
  return folders;
}

}  // namespace quorvel
