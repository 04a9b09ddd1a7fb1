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

std::wstring CheckedKey(size_t index, const SharedWString& relativeKey) {
  return std::to_wstring(index) + L'|' + std::wstring(relativeKey.Chars(), relativeKey.Length());
}

}  // namespace

HeldFolders::HeldFolders(const std::vector<RunFolder>& folders, const NameList& names)
    : folders_(folders) {
  // The run's own folders first: past the cap, the folders on the ways go unheld, not these.
  for (size_t index = 0; index < folders_.size(); ++index) {
    Hold(index, SharedWString());
  }
  // The folders on the names' ways, each once, known by the start of the name's key.
  std::unordered_set<std::wstring> ways;
  for (const SharedWString& name : names) {
    const SharedWString key = NameKey(name);
    ForEachFolderEnd(key, [&](uint32_t end) {
      if (ways.insert(std::wstring(key.Chars(), end)).second) {
        for (size_t index = 0; index < folders_.size(); ++index) {
          if (Hold(index, name.Mid(0, end - 1))) {
            existed_.insert(CheckedKey(index, key.Mid(0, end - 1)));
          }
        }
      }
    });
  }
}

bool HeldFolders::Hold(size_t index, const SharedWString& relative, bool passing) {
  const RunFolder& folder = folders_[index];
  SharedWString path = relative.IsEmpty() ? FolderPath(folder.path).FullPath()
                                          : PathIn(folder.path, relative).FullPath();
  if (path.IsEmpty()) {
    return false;
  }
  const SharedWString key = NameKey(path);
  if (path.Chars()[path.Length() - 1] == L':') {
    path.Append(L'\\');  // the root folder, not the drive's current one
  }
  // Sharing is judged only against handles that may read, write or delete.
  ScopedFileHandle handle(CreateFileW(LongPathForm(path).Chars(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) {
    return false;
  }
  checked_.insert(CheckedKey(index, NameKey(relative)));
  // What is held must be the folder the checks passed: a swap just before the hold would have
  // the handle pin the place a link leads to.
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
  // The files opened inside are checked against this name: a query without the volume's.
  SharedWString volumeName;
  VolumeNameOf(handle.Get(), volumeName);
  const uint64_t fileIndex = IndexOfHandle(handle.Get());
  // Under Wine each held folder keeps a descriptor open in the server, whose limit the moves
  // share: past the cap a folder is still checked here, but only the checks guard it later.
  if (handles_.size() < kMostHeldFolders) {
    const std::wstring held(key.Chars(), key.Length());
    handles_[held] = {std::move(handle), volumeName, fileIndex};
    places_[held] = {index, relative};
  } else if (passing) {
    passing_[std::wstring(key.Chars(), key.Length())] = {std::move(handle), volumeName, fileIndex};
  }
  return true;
}

size_t HeldFolders::IndexOf(const SharedWString& directory) const {
  size_t index = 0;
  while (index < folders_.size() && !folders_[index].path.Equals(directory)) {
    ++index;
  }
  return index;
}

bool HeldFolders::Existed(const SharedWString& directory, const SharedWString& relative) const {
  return existed_.count(CheckedKey(IndexOf(directory), NameKey(relative))) != 0;
}

HRESULT HeldFolders::UseWay(const SharedWString& directory, const SharedWString& name) {
  const size_t index = IndexOf(directory);
  // One full path and key for the whole way: each folder's are their beginnings, since a key has
  // a character for each of the path's.
  const SharedWString key = NameKey(PathIn(directory, name).FullPath());
  if (index == folders_.size() || key.Length() <= name.Length()) {
    return S_OK;
  }
  const uint32_t start = key.Length() - name.Length();  // where name begins in the path
  const size_t strays = strays_;
  const auto use = [&](uint32_t length, const SharedWString& relative) {
    const std::wstring held(key.Chars(), length);
    if (strays_ == strays && Find(held) == nullptr) {
      // Made here rather than by the move, so that it is checked and held before a file enters.
      (relative.IsEmpty() ? FolderPath(directory) : PathIn(directory, relative))
          .CreateDirectories();
      Hold(index, relative, true);
    }
  };
  use(start - 1, SharedWString());
  ForEachFolderEnd(name, [&](uint32_t end) { use(start + end, name.Mid(0, end - 1)); });
  return strays_ == strays ? S_OK : E_INVALIDARG;
}

std::wstring HeldFolders::ParentKey(const SharedWString& directory, const SharedWString& name) {
  const SharedWString key = NameKey(PathIn(directory, name).FullPath());
  uint32_t end = key.Length();
  while (end > 0 && key.Chars()[end - 1] != L'\\') {
    --end;
  }
  return std::wstring(key.Chars(), end > 0 ? end - 1 : 0);
}

HANDLE HeldFolders::Find(const std::wstring& key, const SharedWString** volumeName) {
  auto held = handles_.find(key);
  if (held == handles_.end() && (held = passing_.find(key)) == passing_.end()) {
    const auto kept = previous_.find(key);
    if (kept == previous_.end()) {
      return nullptr;
    }
    held = passing_.emplace(key, std::move(kept->second)).first;
    previous_.erase(kept);
  }
  if (IndexOfHandle(held->second.handle.Get()) != held->second.index) {
    held->second.Forget();  // not this folder's any more
    return nullptr;
  }
  if (volumeName != nullptr) {
    *volumeName = &held->second.volumeName;
  }
  return held->second.handle.Get();
}

HRESULT HeldFolders::OpenChecked(const SharedWString& directory, const SharedWString& name,
                                 bool countNames, bool exists, RelativeFile& file) {
  file.Close();
  const size_t index = IndexOf(directory);
  if (index == folders_.size()) {
    return S_FALSE;
  }
  const std::wstring key = ParentKey(directory, name);
  const SharedWString* folderName = nullptr;
  HANDLE folder = Find(key, &folderName);
  if (folder == nullptr) {
    // Past the cap, or let go of: checked and held for this file's moves, but only once the
    // file is known to be there, so that no folder is made for a file that is not.
    if (!exists) {
      return S_FALSE;
    }
    if (FAILED(UseWay(directory, name))) {
      return E_INVALIDARG;
    }
    if ((folder = Find(key, &folderName)) == nullptr) {
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
  SharedWString expected(*folderName);
  if (expected.Chars()[expected.Length() - 1] != L'\\') {
    expected.Append(L'\\');
  }
  expected.Append(leaf);
  SharedWString own;
  const bool named = !folderName->IsEmpty() && VolumeNameOf(checked, own);
  const bool elsewhere = named && CompareNames(own, expected) != 0;
  const char* fault = nullptr;
  FILE_STANDARD_INFO standard;
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
  const RunFolder& run = folders_[index];
  RunLog::Write("Refusing to patch \"%ls\": its way from the %s folder <%ls> %s <%ls>\n",
                name.Chars(), run.what, run.path.Chars(), fault, at.Chars());
  refused_ = true;
  return E_INVALIDARG;
}

void HeldFolders::HoldMadeWay(size_t index, const SharedWString& name) {
  const SharedWString key = NameKey(name);
  ForEachFolderEnd(key, [&](uint32_t end) {
    if (checked_.count(CheckedKey(index, key.Mid(0, end - 1))) == 0) {
      Hold(index, name.Mid(0, end - 1));
    }
  });
}

void HeldFolders::Release(const SharedWString& fullPath) {
  const SharedWString key = NameKey(fullPath);
  handles_.erase(std::wstring(key.Chars(), key.Length()));
  passing_.erase(std::wstring(key.Chars(), key.Length()));
  previous_.erase(std::wstring(key.Chars(), key.Length()));
}

void HeldFolders::HoldAgain(const SharedWString& fullPath) {
  const SharedWString key = NameKey(fullPath);
  const std::wstring released(key.Chars(), key.Length());
  const auto place = places_.find(released);
  if (place != places_.end() && handles_.count(released) == 0) {
    Hold(place->second.folder, place->second.relative);
  }
}

}  // namespace quorvel
