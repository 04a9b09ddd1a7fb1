#include "patch_tree.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace quorvel::bench {
namespace {

constexpr size_t kFilesPerFolder = 16;

struct Kind {
  const wchar_t* folder;
  const wchar_t* stem;
  const wchar_t* extension;
};

constexpr Kind kKinds[] = {{L"textures", L"texture", L"dds"}, {L"models", L"model", L"mdl"},
                           {L"sounds", L"sound", L"ogg"},     {L"maps", L"map", L"map"},
                           {L"scripts", L"script", L"lua"},   {L"interface", L"layout", L"xml"}};
constexpr size_t kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);

bool WriteSmallFile(const std::wstring& path, const char* text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(strlen(text));
  const bool ok = WriteFile(file, text, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

}  // namespace

std::wstring PatchName(size_t index) {
  const size_t folder = index / kFilesPerFolder;
  const Kind& kind = kKinds[folder % kKindCount];
  wchar_t name[128];
  swprintf(name, sizeof(name) / sizeof(name[0]), L"data\\%ls\\pack%02u\\%ls_%05u.%ls", kind.folder,
           static_cast<unsigned>(folder / kKindCount), kind.stem, static_cast<unsigned>(index),
           kind.extension);
  return name;
}

std::vector<std::wstring> PatchNames(size_t count) {
  std::vector<std::wstring> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    names.push_back(PatchName(i));
  }
  return names;
}

PatchTree::PatchTree(const std::wstring& root, std::vector<std::wstring> names)
    : root_(root),
      patch_(root + L"\\Patch"),
      application_(root + L"\\Game"),
      backup_(root + L"\\Backup"),
      names_(std::move(names)) {
  for (const std::wstring& name : names_) {
    for (size_t slash = name.find(L'\\'); slash != std::wstring::npos;
         slash = name.find(L'\\', slash + 1)) {
      folders_.push_back(name.substr(0, slash));
    }
  }
  std::sort(folders_.begin(), folders_.end());
  folders_.erase(std::unique(folders_.begin(), folders_.end()), folders_.end());
  // Sorted text puts every folder after its parent (a parent is a prefix of its children).
  ok_ = CreateDirectoryW(root_.c_str(), nullptr) && CreateDirectoryW(patch_.c_str(), nullptr) &&
        CreateDirectoryW(application_.c_str(), nullptr) &&
        CreateDirectoryW(backup_.c_str(), nullptr) && CreateFolders(patch_) &&
        CreateFolders(application_);
  for (size_t i = 0; ok_ && i < names_.size(); ++i) {
    ok_ = WriteSmallFile(application_ + L"\\" + names_[i], "the player's old file\r\n") &&
          WriteSmallFile(patch_ + L"\\" + names_[i], "the patch's new file, a little longer\r\n");
  }
}

PatchTree::~PatchTree() { RemoveTree(root_); }

bool PatchTree::CreateFolders(const std::wstring& base) const {
  for (const std::wstring& folder : folders_) {
    const std::wstring path = base + L"\\" + folder;
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return true;
}

void PatchTree::RemoveEmptyFolders(const std::wstring& base) const {
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
    RemoveDirectoryW((base + L"\\" + *it).c_str());
  }
}

bool PatchTree::MoveAll(const std::wstring& from, const std::wstring& to) const {
  for (const std::wstring& name : names_) {
    if (!MoveFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str())) {
      return false;
    }
  }
  return true;
}

bool PatchTree::ApplyPlainly() const {
  const bool ok =
      CreateFolders(backup_) && MoveAll(application_, backup_) && MoveAll(patch_, application_);
  RemoveEmptyFolders(patch_);
  return ok;
}

bool PatchTree::RevertPlainly() const {
  const bool ok =
      CreateFolders(patch_) && MoveAll(application_, patch_) && MoveAll(backup_, application_);
  RemoveEmptyFolders(backup_);
  return ok;
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") {
        RemoveTree(path + L"\\" + name);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

std::wstring FreshFolderName(const wchar_t* purpose) {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  std::wstring root(base);
  if (!root.empty() && root.back() == L'\\') {
    root.pop_back();
  }
  static unsigned counter = 0;
  return root + L"\\quorvel_bench_" + purpose + L"_" + std::to_wstring(GetCurrentProcessId()) +
         L"_" + std::to_wstring(counter++);
}

}  // namespace quorvel::bench
