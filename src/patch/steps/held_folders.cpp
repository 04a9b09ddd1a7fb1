#include "patch/steps/held_folders.h"

#include <windows.h>

#include "files/file_path.h"
#include "files/folder_identity.h"
#include "files/folder_paths.h"
#include "foundation/final_path.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

size_t Index(FolderRole role) { return static_cast<size_t>(role); }

}  // namespace

HeldFolders::HeldFolders(const RunPlan& plan) : plan_(plan) {
  // The run's own folders first: past the cap, the folders on the ways go unheld, not these.
  for (FolderRole role : kRunFolderRoles) {
    Hold(role, SharedWString());
  }
  // The folders on the names' ways, each once, known by the start of the name's key.
  std::unordered_set<NameKey, NameKey::Hash> ways;
  for (const PlannedName& name : plan_.Names()) {
    const NameKey& key = name.key;
    for (uint32_t end : name.folderEnds) {
      if (ways.insert(key.Prefix(end)).second) {
        for (FolderRole role : kRunFolderRoles) {
          if (Hold(role, name.name.Mid(0, end - 1))) {
            existed_[Index(role)].insert(key.Prefix(end));
          }
        }
      }
    }
  }
}

bool HeldFolders::Hold(FolderRole role, const SharedWString& relative, bool passing) {
  const PlanFolder& folder = plan_.Folder(role);
  SharedWString path = relative.IsEmpty() ? folder.full : PathIn(folder.given, relative).FullPath();
  if (path.IsEmpty()) {
    return false;
  }
  const NameKey key(path);
  // The plan holds its folders from the checks on: they are where the checks found them.
  const bool lent = relative.IsEmpty() && folder.handle.IsValid();
  ScopedFileHandle handle;
  if (lent) {
    handle.Reset(folder.handle.Get());
  } else {
    handle = OpenFolderToHold(path);
    if (!handle.IsValid()) {
      // A folder that is there but cannot be held is guarded by the listings alone.
      unheld_ = unheld_ || !IsNotFound(HRESULT_FROM_WIN32(GetLastError()));
      return false;
    }
  }
  checked_[Index(role)].insert(NameKey(relative));
  // What is held must be the folder the checks passed: a swap just before the hold would have
  // the handle pin the place a link leads to.
  if (!lent) {
    SharedWString expected(folder.real);
    SharedWString below(relative);
    ToBackslashes(below);
    JoinPath(expected, below);
    NormalizePath(expected);
    SharedWString final;
    DWORD error = ERROR_SUCCESS;
    if (folder.real.IsEmpty() || !FinalPathOfHandle(handle.Get(), final, error) ||
        CompareNames(final, expected) != 0) {
      strayed_ = true;
      ++strays_;
      return false;
    }
  }
  // The files opened inside are checked against this name: a query without the volume's.
  SharedWString volumeName;
  VolumeNameOf(handle.Get(), volumeName);
  const uint64_t fileIndex =
      lent && folder.identity != 0 ? folder.identity : IndexOfHandle(handle.Get());
  // Under Wine each held folder keeps a descriptor open in the server, whose limit the moves
  // share: past the cap a folder is still checked here, but only the checks guard it later.
  if (handles_.size() < kMostHeldFolders) {
    handles_[key] = {std::move(handle), volumeName, fileIndex, lent};
    places_[key] = {role, relative, fileIndex};
  } else if (passing) {
    passing_[key] = {std::move(handle), volumeName, fileIndex, lent};
    unheld_ = true;
  } else {
    unheld_ = true;
    if (lent) {
      handle.Release();
    }
  }
  return true;
}

bool HeldFolders::WaysUnchanged() const {
  if (unheld_) {
    return false;
  }
  for (const auto& held : handles_) {
    const auto place = places_.find(held.first);
    if (place == places_.end()) {
      return false;
    }
    const PlanFolder& folder = plan_.Folder(place->second.folder);
    const SharedWString path = place->second.relative.IsEmpty()
                                   ? folder.full
                                   : PathIn(folder.given, place->second.relative).FullPath();
    if (FileIndexOf(path) != held.second.index) {
      return false;
    }
  }
  return true;
}

bool HeldFolders::Existed(FolderRole role, const SharedWString& relative) const {
  return existed_[Index(role)].count(NameKey(relative)) != 0;
}

HRESULT HeldFolders::UseWay(FolderRole role, const SharedWString& name) {
  const SharedWString& directory = Given(role);
  // One full path and key for the whole way: each folder's are their beginnings, since a key has
  // a character for each of the path's.
  const NameKey key(PathIn(directory, name).FullPath());
  if (key.Length() <= name.Length()) {
    return S_OK;
  }
  const uint32_t start = key.Length() - name.Length();  // where name begins in the path
  const size_t strays = strays_;
  uint32_t parent = 0;  // the length of the key of the folder above
  const auto use = [&](uint32_t length, const SharedWString& relative) {
    const NameKey held = key.Prefix(length);
    // Made here rather than by the move, so that it is held before a file enters: inside its
    // held parent, else by its path, and then checked.
    // Only whether it is held: each handle a file is opened or moved through is made sure of.
    if (strays_ == strays && FindHeld(held, false) == nullptr &&
        (relative.IsEmpty() || !MakeHeld(role, relative, key.Prefix(parent), held))) {
      (relative.IsEmpty() ? FolderPath(directory) : PathIn(directory, relative))
          .CreateDirectories();
      Hold(role, relative, true);
    }
    parent = length;
  };
  use(start - 1, SharedWString());
  ForEachFolderEnd(name, [&](uint32_t end) { use(start + end, name.Mid(0, end - 1)); });
  return strays_ == strays ? S_OK : E_INVALIDARG;
}

bool HeldFolders::MakeHeld(FolderRole role, const SharedWString& relative, const NameKey& parent,
                           const NameKey& key) {
  HANDLE above = Find(parent);
  SharedWString leaf(relative);
  FileNamePart(leaf);
  ScopedFileHandle made;
  if (above == nullptr || FAILED(CreateFolderIn(above, leaf, made))) {
    return false;
  }
  checked_[Index(role)].insert(NameKey(relative));
  SharedWString volumeName;
  VolumeNameOf(made.Get(), volumeName);
  const uint64_t index = IndexOfHandle(made.Get());
  (handles_.size() < kMostHeldFolders ? handles_ : passing_)[key] = {std::move(made), volumeName,
                                                                     index, false};
  places_[key] = {role, relative, index};
  made_.push_back(key);
  return true;
}

bool HeldFolders::RemoveEmptied(const SharedWString& fullPath) {
  Release(fullPath);
  // Through a handle of its own, opened inside its held parent; by its path where the parent is
  // not held, or no longer finds it (under Wine, a parent removed by a host program).
  const NameKey key(fullPath);
  uint32_t end = key.Length();
  while (end > 0 && key.Chars()[end - 1] != L'\\') {
    --end;
  }
  HANDLE above = end > 1 ? Find(key.Prefix(end - 1)) : nullptr;
  SharedWString leaf(fullPath);
  FileNamePart(leaf);
  // Only the folder that was held: a folder (or a link) put at its name since is not the run's.
  const auto place = places_.find(key);
  const uint64_t index = place != places_.end() ? place->second.index : 0;
  const HRESULT removed = above != nullptr ? RemoveFolderIn(above, leaf, index) : E_HANDLE;
  if (removed == S_FALSE) {
    return false;
  }
  if (removed == HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY)) {
    HoldAgain(fullPath);
    return false;
  }
  if (SUCCEEDED(removed)) {
    return true;
  }
  const uint64_t there = FileIndexOf(fullPath);
  if (index != 0 && there != 0 && there != index) {
    return false;
  }
  if (RemoveDirectoryW(LongPathForm(fullPath).Chars())) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    HoldAgain(fullPath);
    return false;
  }
  return true;
}

bool HeldFolders::StillAtItsPath(FolderRole role, const SharedWString& name) {
  if (!RenamesFollowPaths()) {
    return true;
  }
  const Way& way = WayOf(role, name);
  const Handle* folder = FindHeld(way.parentKey);
  if (folder == nullptr) {
    return true;
  }
  const SharedWString path = way.folder;  // a copy: Release below may be given it
  const uint64_t there = FileIndexOf(path);
  if (there == folder->index) {
    return true;
  }
  // A folder removed since is no way elsewhere: the steps go by its path, which makes it again,
  // and the handle of the removed one stands for nothing any more.
  if (there == 0) {
    Release(path);
    return true;
  }
  strayed_ = true;
  ++strays_;
  return false;
}

void HeldFolders::RemoveMade() {
  std::vector<NameKey> stayed;
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
    const auto place = places_.find(*made);
    if (place != places_.end() &&
        !RemoveEmptied(PathIn(Given(place->second.folder), place->second.relative).FullPath())) {
      stayed.insert(stayed.begin(), *made);
    }
  }
  made_ = std::move(stayed);
}

const HeldFolders::Way& HeldFolders::WayOf(FolderRole role, const SharedWString& name) {
  Way& way = ways_[Index(role)];
  if (way.name.IsEmpty() || !way.name.Equals(name)) {
    const SharedWString full = PathIn(Given(role), name).FullPath();
    way.folder = DirectoryPart(full);
    NormalizePath(way.folder);
    const NameKey key(full);
    uint32_t end = key.Length();
    while (end > 0 && key.Chars()[end - 1] != L'\\') {
      --end;
    }
    way.parentKey = key.Prefix(end > 0 ? end - 1 : 0);
    way.name = name;
  }
  return way;
}

HeldFolders::Handle* HeldFolders::FindHeld(const NameKey& key, bool makeSure) {
  auto held = handles_.find(key);
  if (held == handles_.end() && (held = passing_.find(key)) == passing_.end()) {
    const auto kept = previous_.find(key);
    if (kept == previous_.end()) {
      return nullptr;
    }
    held = passing_.emplace(key, std::move(kept->second)).first;
    previous_.erase(kept);
  }
  Handle& found = held->second;
  // Once for each file: every step of the file asks, and the query is a call to the server.
  if (makeSure && found.sureFor != turn_) {
    if (IndexOfHandle(found.handle.Get()) != found.index) {
      found.Forget();  // not this folder's any more
      return nullptr;
    }
    found.sureFor = turn_;
  }
  return found.handle.IsValid() ? &found : nullptr;
}

HANDLE HeldFolders::Find(const NameKey& key) {
  Handle* held = FindHeld(key);
  return held != nullptr ? held->handle.Get() : nullptr;
}

namespace {

// Whether own (a file's name on its volume) is the held folder's name as the system gives it now,
// followed by leaf: under Wine a name carries whichever drive the system picks for the path at
// that moment, and a drive letter mapped onto a folder above it during the run changes it.
// The name of leaf inside the folder named folderName.
SharedWString NameBelow(SharedWString folderName, const SharedWString& leaf) {
  if (folderName.IsEmpty() || folderName.Chars()[folderName.Length() - 1] != L'\\') {
    folderName.Append(L'\\');
  }
  folderName.Append(leaf);
  return folderName;
}

bool InFolderNamedNow(HANDLE folder, const SharedWString& own, const SharedWString& leaf) {
  SharedWString now;
  return VolumeNameOf(folder, now) && CompareNames(own, NameBelow(now, leaf)) == 0;
}

}  // namespace

HRESULT HeldFolders::OpenChecked(FolderRole role, const SharedWString& name, bool countNames,
                                 bool exists, RelativeFile& file) {
  file.Close();
  const SharedWString& directory = Given(role);
  const NameKey key = WayOf(role, name).parentKey;
  const SharedWString* folderName = nullptr;
  const auto find = [&] {
    Handle* held = FindHeld(key);
    folderName = held != nullptr ? &held->volumeName : nullptr;
    return held != nullptr ? held->handle.Get() : nullptr;
  };
  HANDLE folder = find();
  if (folder == nullptr) {
    // Past the cap, or let go of: checked and held for this file's moves, but only once the
    // file is known to be there, so that no folder is made for a file that is not.
    if (!exists) {
      return S_FALSE;
    }
    if (FAILED(UseWay(role, name))) {
      return E_INVALIDARG;
    }
    if ((folder = find()) == nullptr) {
      return S_FALSE;
    }
  }
  if (folderName->IsEmpty() && !exists) {
    return S_FALSE;  // nothing to check the file against: its path is queried first
  }
  SharedWString leaf(name);
  FileNamePart(leaf);
  const HRESULT opened = file.Open(folder, leaf);
  if (FAILED(opened) && !exists) {
    return opened;
  }
  // A file that cannot be opened to be moved (held by another program without delete sharing)
  // is still checked as itself before its move by path meets the same fault.
  ScopedFileHandle byPath;
  if (FAILED(opened)) {
    byPath.Reset(CreateFileW(LongPathForm(PathIn(directory, name).FullPath()).Chars(),
                             FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // Unchecked, the file does not move: the attempt fails and the next one looks again.
    if (!byPath.IsValid()) {
      return FailureResult(GetLastError());
    }
  }
  const HANDLE checked = SUCCEEDED(opened) ? file.Get() : byPath.Get();
  const PlanFolder& run = plan_.Folder(role);
  FILE_STANDARD_INFO standard;
  // A folder that came to stand at the name since the checks (the game made it, or it was
  // swapped in) is refused as they refuse it: a move by path would carry all it holds along.
  if (FAILED(opened) &&
      GetFileInformationByHandleEx(checked, FileStandardInfo, &standard, sizeof(standard)) &&
      standard.Directory) {
    RunLog::Write("Refusing to patch \"%ls\": it is a folder in the %s folder\n", name.Chars(),
                  run.what);
    refused_ = true;
    return E_INVALIDARG;
  }
  const SharedWString expected = NameBelow(*folderName, leaf);
  SharedWString own;
  const bool named = !folderName->IsEmpty() && VolumeNameOf(checked, own);
  const bool elsewhere =
      named && CompareNames(own, expected) != 0 && !InFolderNamedNow(folder, own, leaf);
  const char* fault = nullptr;
  if (!named) {
    fault = "cannot be checked at";
  } else if (elsewhere) {
    // Under Wine a link to a file shows nowhere but here: the handle is its target's.
    fault = "leads out to";
  } else if (countNames && (!GetFileInformationByHandleEx(checked, FileStandardInfo, &standard,
                                                          sizeof(standard)) ||
                            standard.NumberOfLinks != 1)) {
    fault = "reaches a file with other names (hard links) at";
  }
  if (fault == nullptr) {
    return SUCCEEDED(opened) ? S_OK : S_FALSE;
  }
  SharedWString at = PathIn(directory, name).FullPath();
  if (elsewhere) {
    SharedWString final;
    DWORD error = ERROR_SUCCESS;
    at = FinalPathOfHandle(checked, final, error) ? final : own;
  }
  file.Close();
  RunLog::Write("Refusing to patch \"%ls\": its way from the %s folder <%ls> %s <%ls>\n",
                name.Chars(), run.what, run.given.Chars(), fault, at.Chars());
  refused_ = true;
  return E_INVALIDARG;
}

void HeldFolders::HoldMadeWay(FolderRole role, const SharedWString& name) {
  const NameKey key(name);
  ForEachFolderEnd(key, [&](uint32_t end) {
    if (checked_[Index(role)].count(key.Prefix(end)) == 0) {
      Hold(role, name.Mid(0, end - 1));
    }
  });
}

void HeldFolders::Release(const SharedWString& fullPath) {
  const NameKey key(fullPath);
  handles_.erase(key);
  passing_.erase(key);
  previous_.erase(key);
}

void HeldFolders::HoldAgain(const SharedWString& fullPath) {
  const NameKey key(fullPath);
  const auto place = places_.find(key);
  if (place != places_.end() && handles_.count(key) == 0) {
    Hold(place->second.folder, place->second.relative);
  }
}

}  // namespace quorvel
