#include "patch/checks/run_checks.h"

#include <cwchar>
#include <map>
#include <set>
#include <vector>

#include "files/file_path.h"
#include "files/folder_paths.h"
#include "files/real_path.h"
#include "files/relative_name.h"
#include "foundation/format.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "patch/checks/names_inside.h"
#include "patch/run/journal_names.h"

namespace quorvel {
namespace {

using KeySet = std::set<NameKey>;
// Listed names by their keys.
using NameMap = std::map<NameKey, SharedWString>;

HRESULT Refuse(RunRefusal& refusal, HRESULT result, const SharedWString& name,
               const SharedWString& subject) {
  refusal.result = result;
  refusal.name = name;
  refusal.subject = subject;
  return result;
}

HRESULT RefuseName(RunRefusal& refusal, const SharedWString& name, const char* reason) {
  RunLog::Write("Refusing to patch \"%ls\": %s\n", name.Chars(), reason);
  return Refuse(refusal, E_INVALIDARG, name, name);
}

// Whether a component of the path (not . or ..) ends in a space or a dot. The system drops
// those from a path's last component only: the folder would be one folder to its checks and
// another in its files' paths.
bool EndsAComponentBadly(const SharedWString& path) {
  for (uint32_t i = 0; i < path.Length(); ++i) {
    const wchar_t c = path.Chars()[i];
    const wchar_t next = i + 1 < path.Length() ? path.Chars()[i + 1] : L'\\';
    if ((c == L' ' || c == L'.') && (next == L'\\' || next == L'/')) {
      uint32_t start = i;
      while (start > 0 && path.Chars()[start - 1] != L'\\' && path.Chars()[start - 1] != L'/') {
        --start;
      }
      const SharedWString component = path.Mid(start, i);
      if (!component.Equals(SharedWString(L".")) && !component.Equals(SharedWString(L".."))) {
        return true;
      }
    }
  }
  return false;
}

// Finds the folder on disk, and holds it open from here on; a backup folder may be missing,
// since the first run creates it.
HRESULT LocateFolder(PlanFolder& folder, bool mayBeMissing, RunRefusal& refusal) {
  if (EndsAComponentBadly(folder.given)) {
    RunLog::Write(
        "Refusing to patch: the %s folder <%ls> has a component that ends in a space or "
        "a dot\n",
        folder.what, folder.given.Chars());
    return Refuse(refusal, E_INVALIDARG, SharedWString(), folder.given);
  }
  // Joining "." keeps a drive root such as D:\ from becoming the drive's current directory.
  FilePath path = FolderPath(folder.given);
  const bool exists = path.Exists();
  const HRESULT queried = path.LastResult();
  const char* fault = nullptr;
  HRESULT result = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (!exists && !IsNotFound(queried)) {
    fault = "cannot be read";
    result = queried;
  } else if (!exists && !mayBeMissing) {
    fault = "does not exist";
  } else if (exists && !path.IsDirectory()) {
    fault = "is not a folder";
  } else {
    if (exists) {
      HoldPlanFolder(folder);
    }
    if (folder.real.IsEmpty()) {
      folder.real = ResolvedPath(folder.full);
    }
    if (folder.real.IsEmpty()) {
      fault = "cannot be resolved";
      result = E_INVALIDARG;
    }
  }
  if (fault == nullptr) {
    return S_OK;
  }
  RunLog::Write("Refusing to patch: the %s folder <%ls> %s\n", folder.what, folder.given.Chars(),
                fault);
  return Refuse(refusal, result, SharedWString(), folder.given);
}

HRESULT CheckLayout(const RunPlan& plan, RunRefusal& refusal) {
  for (size_t a = 0; a < kRunFolderCount; ++a) {
    for (size_t b = a + 1; b < kRunFolderCount; ++b) {
      const PlanFolder& first = plan.Folder(kRunFolderRoles[a]);
      const PlanFolder& second = plan.Folder(kRunFolderRoles[b]);
      if (SameName(first.real, second.real)) {
        RunLog::Write(
            "Refusing to patch: the %s folder <%ls> and the %s folder <%ls> are the same "
            "folder\n",
            first.what, first.given.Chars(), second.what, second.given.Chars());
        return Refuse(refusal, E_INVALIDARG, SharedWString(), second.given);
      }
    }
  }
  const PlanFolder& application = plan.Folder(FolderRole::kApplication);
  for (FolderRole role : {FolderRole::kPatch, FolderRole::kBackup}) {
    const PlanFolder& folder = plan.Folder(role);
    // Backups or new files would land on the game folder's neighbours, and a revert would
    // scatter them there.
    if (IsSameOrBelow(application.real, folder.real)) {
      RunLog::Write("Refusing to patch: the %s folder <%ls> holds the application folder <%ls>\n",
                    folder.what, folder.given.Chars(), application.given.Chars());
      return Refuse(refusal, E_INVALIDARG, SharedWString(), folder.given);
    }
  }
  return S_OK;
}

// Resolves the paths of many names, resolving each folder above them once.
class PathResolver {
 public:
  SharedWString Resolve(const SharedWString& fullPath) {
    if (fullPath.IsEmpty()) {
      return fullPath;
    }
    SharedWString parent = DirectoryPart(fullPath);
    NormalizePath(parent);
    const NameKey key(parent);
    auto found = parents_.find(key);
    if (found == parents_.end()) {
      found = parents_.emplace(key, ResolvedPath(parent)).first;
    }
    if (found->second.IsEmpty()) {
      return found->second;
    }
    SharedWString name(fullPath);
    FileNamePart(name);
    SharedWString resolved(found->second);
    JoinPath(resolved, name);
    NormalizePath(resolved);
    return resolved;
  }

 private:
  std::map<NameKey, SharedWString> parents_;
};

// The listed name that the name of key lies in; empty when none does.
SharedWString ListedFolderAbove(const NameKey& key, const NameMap& listed) {
  for (uint32_t i = 0; i < key.Length(); ++i) {
    if (key.Chars()[i] == L'\\') {
      const auto above = listed.find(key.Prefix(i));
      if (above != listed.end()) {
        return above->second;
      }
    }
  }
  return SharedWString();
}

// A listed name that lies in the name of key; empty when none does.
SharedWString ListedNameBelow(const NameKey& key, const NameMap& listed) {
  SharedWString below(key.Text());
  below.Append(L'\\');
  const NameKey prefix(below);
  const auto next = listed.lower_bound(prefix);
  if (next != listed.end() && next->first.Length() > prefix.Length() &&
      wcsncmp(next->first.Chars(), prefix.Chars(), prefix.Length()) == 0) {
    return next->second;
  }
  return SharedWString();
}

}  // namespace

HRESULT LocateRunFolders(RunPlan& plan, RunRefusal& refusal) {
  for (FolderRole role : kRunFolderRoles) {
    if (FAILED(LocateFolder(plan.Folder(role), role == FolderRole::kBackup, refusal))) {
      return refusal.result;
    }
  }
  return CheckLayout(plan, refusal);
}

HRESULT CheckRun(const PatchRun& run, RunRefusal& refusal, RunPlan& plan, bool filesAtMoves) {
  plan.Describe(run.patchDirectory, run.applicationDirectory, run.backupDirectory, run.files);
  if (FAILED(LocateRunFolders(plan, refusal))) {
    return refusal.result;
  }

  // Pairs of folders where one lies inside the other (patch and backup inside the game folder):
  // a name must not lead from the outer one into the inner one, nor hold it.
  struct Nesting {
    const PlanFolder& outer;
    const PlanFolder& inner;
  };
  std::vector<Nesting> nestings;
  for (FolderRole outer : kRunFolderRoles) {
    for (FolderRole inner : kRunFolderRoles) {
      if (inner != outer && IsSameOrBelow(plan.Folder(inner).real, plan.Folder(outer).real)) {
        nestings.push_back({plan.Folder(outer), plan.Folder(inner)});
      }
    }
  }

  NameMap listed;
  for (const PlannedName& planned : plan.Names()) {
    listed.emplace(planned.key, planned.name);
  }
  KeySet seen;
  PathResolver resolver;
  NameWays ways(plan, filesAtMoves);
  if (!plan.Names().empty()) {
    ways.Begin(plan.Names().front().name, false);
  }
  for (PlannedName& planned : plan.Names()) {
    const SharedWString& name = planned.name;
    const char* fault = RelativeNameFault(name);
    if (fault != nullptr) {
      return RefuseName(refusal, name, fault);
    }
    if (IsJournalName(name)) {
      return RefuseName(refusal, name, "it is the name of the run journal");
    }
    for (FolderRole role : kRunFolderRoles) {
      if (plan.Folder(role).real.Length() + 1 + name.Length() > kLongestPath) {
        return RefuseName(refusal, name, "its full path passes the system's 32,767 characters");
      }
    }
    const NameKey& key = planned.key;
    if (!seen.insert(key).second) {
      return RefuseName(refusal, name, "the file is listed more than once");
    }
    const SharedWString above = ListedFolderAbove(key, listed);
    const SharedWString below = above.IsEmpty() ? ListedNameBelow(key, listed) : SharedWString();
    if (!above.IsEmpty() || !below.IsEmpty()) {
      RunLog::Write("Refusing to patch \"%ls\": it is listed with a name %s it, \"%ls\"\n",
                    name.Chars(), above.IsEmpty() ? "inside" : "above",
                    (above.IsEmpty() ? below : above).Chars());
      return Refuse(refusal, E_INVALIDARG, name, name);
    }
    // What the folder listings show at the name's places; a way that leaves a folder is refused
    // below, once every name has passed the checks above.
    ways.Check(name, true, &planned);
    // Patching a folder as if it were a file would carry everything the player keeps in it
    // into the backup folder.
    for (FolderRole role : {FolderRole::kPatch, FolderRole::kApplication}) {
      const PlanFolder& folder = plan.Folder(role);
      const CheckedFile& found = planned.FoundIn(role);
      bool isFolder = found.known && found.identity.present && found.identity.size == ~0ull;
      if (!found.known) {
        FilePath path = PathIn(folder.given, name);
        bool exists = false;
        isFolder = SUCCEEDED(path.Query(exists)) && exists && path.IsDirectory();
      }
      if (isFolder) {
        RunLog::Write("Refusing to patch \"%ls\": it is a folder in the %s folder\n", name.Chars(),
                      folder.what);
        return Refuse(refusal, E_INVALIDARG, name, name);
      }
    }
    // A short name (such as DATA~1) reaches a file that the list may also name by its long one.
    const bool mayBeShortName = name.Find(L'~') >= 0;
    for (FolderRole role : kRunFolderRoles) {
      if (!mayBeShortName) {
        break;
      }
      const PlanFolder& folder = plan.Folder(role);
      SharedWString expected(folder.real);
      JoinPath(expected, name);
      NormalizePath(expected);
      const SharedWString real = ResolvedPath(PathIn(folder.given, name).FullPath());
      if (!SameName(real, expected)) {
        RunLog::Write("Refusing to patch \"%ls\": its %s path is <%ls> by another name\n",
                      name.Chars(), folder.what, real.Chars());
        return Refuse(refusal, E_INVALIDARG, name, name);
      }
    }
    for (const Nesting& nesting : nestings) {
      const SharedWString real = resolver.Resolve(PathIn(nesting.outer.given, name).FullPath());
      if (real.IsEmpty() || IsSameOrBelow(real, nesting.inner.real) ||
          IsSameOrBelow(nesting.inner.real, real)) {
        RunLog::Write(
            "Refusing to patch \"%ls\": its %s path <%ls> is, holds or lies in the %s "
            "folder <%ls>\n",
            name.Chars(), nesting.outer.what, real.Chars(), nesting.inner.what,
            nesting.inner.given.Chars());
        return Refuse(refusal, E_INVALIDARG, name, name);
      }
    }
  }
  SharedWString faultName;
  if (FAILED(CheckNamesStayInside(ways, plan, faultName))) {
    return Refuse(refusal, E_INVALIDARG, faultName, faultName);
  }
  return S_OK;
}

}  // namespace quorvel
