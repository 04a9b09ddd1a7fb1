#include "patch/held_folders.h"

#include <windows.h>

#include "files/folder_paths.h"
#include "files/name_key.h"

namespace quorvel {

HeldFolders::HeldFolders(const std::vector<RunFolder>& folders, const NameList& names) {
  // The folders on the names' ways, each once: NameKey maps one character to one, so the key of
  // a name's folder is the start of the name's key.
  std::unordered_set<std::wstring> ways;
  for (const SharedWString& name : names) {
    const SharedWString key = NameKey(name);
    for (uint32_t i = 0; i < key.Length(); ++i) {
      if (i > 0 && key.Chars()[i] == L'\\' && ways.insert(std::wstring(key.Chars(), i)).second) {
        for (const RunFolder& folder : folders) {
          Hold(PathIn(folder.path, name.Mid(0, i - 1)).FullPath());
        }
      }
    }
  }
  for (const RunFolder& folder : folders) {
    SharedWString path = FolderPath(folder.path).FullPath();
    if (path.Length() > 0 && path.Chars()[path.Length() - 1] == L':') {
      path.Append(L'\\');  // the root folder, not the drive's current one
    }
    Hold(path);
  }
}

void HeldFolders::Hold(const SharedWString& fullPath) {
  if (fullPath.IsEmpty()) {
    return;
  }
  // Sharing is judged only against handles that may read, write or delete.
  ScopedFileHandle handle(CreateFileW(fullPath.Chars(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle.IsValid()) {
    const SharedWString key = NameKey(fullPath);
    handles_[std::wstring(key.Chars(), key.Length())] = std::move(handle);
  }
}

void HeldFolders::HoldMadeWay(const SharedWString& directory, const SharedWString& name) {
  const SharedWString key = NameKey(name);
  for (uint32_t i = 1; i < key.Length(); ++i) {
    if (key.Chars()[i] == L'\\' && made_.insert(std::wstring(key.Chars(), i)).second) {
      Hold(PathIn(directory, name.Mid(0, i - 1)).FullPath());
    }
  }
}

void HeldFolders::Release(const SharedWString& fullPath) {
  const SharedWString key = NameKey(fullPath);
  handles_.erase(std::wstring(key.Chars(), key.Length()));
}

}  // namespace quorvel
