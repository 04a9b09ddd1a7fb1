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

using KeySet = std::set<SharedWString, KeyOrder>;
// Listed names by their keys.
using NameMap = std::map<SharedWString, SharedWString, KeyOrder>;

// One folder of the run: as the command line gave it, and as the file system knows it.
struct Folder {
  const char* what;
  SharedWString given;
  SharedWString real;
};

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

// Finds the folder on disk; a backup folder may be missing, since the first run creates it.
HRESULT LocateFolder(Folder& folder, bool mayBeMissing, RunRefusal& refusal) {
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
    folder.real = ResolvedPath(path.FullPath());
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

HRESULT CheckLayout(const Folder (&folders)[3], RunRefusal& refusal) {
  for (int a = 0; a < 3; ++a) {
    for (int b = a + 1; b < 3; ++b) {
      if (SameName(folders[a].real, folders[b].real)) {
        RunLog::Write(
            "Refusing to patch: the %s folder <%ls> and the %s folder <%ls> are the same "
            "folder\n",
            folders[a].what, folders[a].given.Chars(), folders[b].what, folders[b].given.Chars());
        return Refuse(refusal, E_INVALIDARG, SharedWString(), folders[b].given);
      }
    }
  }
  const Folder& application = folders[1];
  for (int f : {0, 2}) {
    // Backups or new files would land on the game folder's neighbours, and a revert would
    // scatter them there.
    if (IsSameOrBelow(application.real, folders[f].real)) {
      RunLog::Write("Refusing to patch: the %s folder <%ls> holds the application folder <%ls>\n",
                    folders[f].what, folders[f].given.Chars(), application.given.Chars());
      return Refuse(refusal, E_INVALIDARG, SharedWString(), folders[f].given);
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
    const SharedWString key = NameKey(parent);
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
  std::map<SharedWString, SharedWString, KeyOrder> parents_;
};

// The listed name that the name of key lies in; empty when none does.
SharedWString ListedFolderAbove(const SharedWString& key, const NameMap& listed) {
  for (uint32_t i = 0; i < key.Length(); ++i) {
    if (key.Chars()[i] == L'\\') {
      const auto above = listed.find(key.Mid(0, i - 1));
      if (above != listed.end()) {
        return above->second;
      }
    }
  }
  return SharedWString();
}

// A listed name that lies in the name of key; empty when none does.
SharedWString ListedNameBelow(const SharedWString& key, const NameMap& listed) {
  SharedWString prefix(key);
  prefix.Append(L'\\');
  const auto next = listed.lower_bound(prefix);
  if (next != listed.end() && next->first.Length() > prefix.Length() &&
      wcsncmp(next->first.Chars(), prefix.Chars(), prefix.Length()) == 0) {
    return next->second;
  }
  return SharedWString();
}

}  // namespace

HRESULT CheckRun(const PatchRun& run, RunRefusal& refusal, std::vector<CheckedFile>* found,
                 bool filesAtMoves) {
  Folder folders[3] = {{"patch", run.patchDirectory, SharedWString()},
                       {"application", run.applicationDirectory, SharedWString()},
                       {"backup", run.backupDirectory, SharedWString()}};
  for (int f = 0; f < 3; ++f) {
    if (FAILED(LocateFolder(folders[f], f == 2, refusal))) {
      return refusal.result;
    }
  }
  if (FAILED(CheckLayout(folders, refusal))) {
    return refusal.result;
  }

  // Pairs of folders where one lies inside the other (patch and backup inside the game folder):
  // a name must not lead from the outer one into the inner one, nor hold it.
  struct Nesting {
    int outer;
    int inner;
  };
  std::vector<Nesting> nestings;
  for (int outer = 0; outer < 3; ++outer) {
    for (int inner = 0; inner < 3; ++inner) {
      if (inner != outer && IsSameOrBelow(folders[inner].real, folders[outer].real)) {
        nestings.push_back({outer, inner});
      }
    }
  }

  NameMap listed;
  for (const SharedWString& name : run.files) {
    listed.emplace(NameKey(name), name);
  }
  KeySet seen;
  PathResolver resolver;
  for (const SharedWString& name : run.files) {
    const char* fault = RelativeNameFault(name);
    if (fault != nullptr) {
      return RefuseName(refusal, name, fault);
    }
    if (IsJournalName(name)) {
      return RefuseName(refusal, name, "it is the name of the run journal");
    }
    for (const Folder& folder : folders) {
      if (folder.real.Length() + 1 + name.Length() > kLongestPath) {
        return RefuseName(refusal, name, "its full path passes the system's 32,767 characters");
      }
    }
    const SharedWString key = NameKey(name);
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
    // Patching a folder as if it were a file would carry everything the player keeps in it
    // into the backup folder.
    for (int f = 0; f < 2; ++f) {
      FilePath path = PathIn(folders[f].given, name);
      bool exists = false;
      if (SUCCEEDED(path.Query(exists)) && exists && path.IsDirectory()) {
        RunLog::Write("Refusing to patch \"%ls\": it is a folder in the %s folder\n", name.Chars(),
                      folders[f].what);
        return Refuse(refusal, E_INVALIDARG, name, name);
      }
    }
    // A short name (such as DATA~1) reaches a file that the list may also name by its long one.
    const bool mayBeShortName = name.Find(L'~') >= 0;
    for (int f = 0; f < 3 && mayBeShortName; ++f) {
      SharedWString expected(folders[f].real);
      JoinPath(expected, name);
      NormalizePath(expected);
      const SharedWString real = ResolvedPath(PathIn(folders[f].given, name).FullPath());
      if (!SameName(real, expected)) {
        RunLog::Write("Refusing to patch \"%ls\": its %s path is <%ls> by another name\n",
                      name.Chars(), folders[f].what, real.Chars());
        return Refuse(refusal, E_INVALIDARG, name, name);
      }
    }
    for (const Nesting& nesting : nestings) {
      const Folder& outer = folders[nesting.outer];
      const Folder& inner = folders[nesting.inner];
      const SharedWString real = resolver.Resolve(PathIn(outer.given, name).FullPath());
      if (real.IsEmpty() || IsSameOrBelow(real, inner.real) || IsSameOrBelow(inner.real, real)) {
        RunLog::Write(
            "Refusing to patch \"%ls\": its %s path <%ls> is, holds or lies in the %s "
            "folder <%ls>\n",
            name.Chars(), outer.what, real.Chars(), inner.what, inner.given.Chars());
        return Refuse(refusal, E_INVALIDARG, name, name);
      }
    }
  }
  std::vector<RunFolder> runFolders;
  for (const Folder& folder : folders) {
    runFolders.push_back({folder.what, folder.given, folder.real});
  }
  SharedWString faultName;
  if (FAILED(CheckNamesStayInside(runFolders,
                                  std::vector<SharedWString>(run.files.begin(), run.files.end()),
                                  faultName, found, filesAtMoves))) {
    return Refuse(refusal, E_INVALIDARG, faultName, faultName);
  }
  return S_OK;
}

}  // namespace quorvel
