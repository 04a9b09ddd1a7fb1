#include "patch/checks/run_plan.h"

#include "files/folder_paths.h"
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
    byKey_.emplace(std::wstring(planned.key.Chars(), planned.key.Length()), planned.index);
    names_.push_back(std::move(planned));
  }
}

const PlanFolder* RunPlan::FolderGiven(const SharedWString& directory) const {
  for (const PlanFolder& folder : folders_) {
    if (folder.given.Equals(directory)) {
      return &folder;
    }
  }
  return nullptr;
}

const PlannedName* RunPlan::Find(const SharedWString& name) const {
  const SharedWString key = NameKey(name);
  const auto found = byKey_.find(std::wstring(key.Chars(), key.Length()));
  return found == byKey_.end() ? nullptr : &names_[found->second];
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
