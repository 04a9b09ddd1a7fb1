#include "patch/checks/run_plan.h"

#include "files/folder_identity.h"
#include "files/folder_paths.h"
#include "foundation/final_path.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"

namespace quorvel {

void RunPlan::Describe(const SharedWString& patch, const SharedWString& application,
                       const SharedWString& backup, const NameList& names) {
  const SharedWString* given[kRunFolderCount] = {&patch, &application, &backup};
  const char* what[kRunFolderCount] = {"patch", "application", "backup"};
  for (size_t f = 0; f < kRunFolderCount; ++f) {
    PlanFolder& folder = folders_[f];
    folder = PlanFolder();
    folder.role = kRunFolderRoles[f];
    folder.what = what[f];
    folder.given = *given[f];
    folder.full = FolderPath(*given[f]).FullPath();
  }
  names_.clear();
  byKey_.clear();
  names_.reserve(names.size());
  for (const SharedWString& name : names) {
    PlannedName planned;
    planned.name = name;
    planned.key = NameKey(name);
    planned.index = names_.size();
    ForEachFolderEnd(name, [&](uint32_t end) { planned.folderEnds.push_back(end); });
    // The first of two names with one key is the one found; the checks refuse the second.
    byKey_.emplace(planned.key, planned.index);
    names_.push_back(std::move(planned));
  }
}

const PlannedName* RunPlan::Find(const SharedWString& name) const {
  const auto found = byKey_.find(NameKey(name));
  return found == byKey_.end() ? nullptr : &names_[found->second];
}

void HoldPlanFolder(PlanFolder& folder) {
  folder.handle = OpenFolderToHold(folder.full);
  SharedWString final;
  DWORD error = ERROR_SUCCESS;
  if (!folder.handle.IsValid()) {
    folder.identity = FileIndexOf(folder.full);
    return;
  }
  folder.identity = IndexOfHandle(folder.handle.Get());
  if (FinalPathOfHandle(folder.handle.Get(), final, error)) {
    NormalizePath(final);
    KeepRoot(final);  // as every resolved path does
    folder.real = final;
  }
}

bool HoldsFolderAt(const PlanFolder& folder, const SharedWString& path) {
  if (!folder.handle.IsValid() || path.IsEmpty()) {
    return false;
  }
  SharedWString open(path);
  KeepRoot(open);
  // Opening for deletion deletes nothing; it only asks whether a handle without delete sharing
  // is open on that folder. Its number must match as well: another program may hold another
  // folder so.
  ScopedFileHandle probe(CreateFileW(LongPathForm(open).Chars(), DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return !probe.IsValid() && GetLastError() == ERROR_SHARING_VIOLATION &&
         FileIndexOf(path) == folder.identity;
}

SharedWString RunPlan::PathOf(FolderRole role, const PlannedName& name) const {
  const PlanFolder& folder = Folder(role);
  if (folder.full.IsEmpty()) {
    return SharedWString();
  }
  // A drive's root has no backslash of its own once normalised (D:), and joined to a name it
  // would stand for the drive's current folder.
  SharedWString path(folder.full);
  path.Append(L'\\');
  SharedWString below(name.name);
  ToBackslashes(below);
  path.Append(below);
  return path;
}

}  // namespace quorvel
