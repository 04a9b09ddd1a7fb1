#include "import_hook.h"

#include <windows.h>

#include <cstring>

namespace quorvel::bench {
namespace {

template <typename T>
T* At(BYTE* base, DWORD offset) {
  return reinterpret_cast<T*>(base + offset);
}

void** FindSlot(const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto* nt = At<IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) {
    return nullptr;
  }
  for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(base, directory.VirtualAddress); entry->Name != 0;
       ++entry) {
    if (_stricmp(At<char>(base, entry->Name), dll) != 0 || entry->OriginalFirstThunk == 0) {
      continue;
    }
    // The lookup table keeps the names; the address table beside it holds what the loader bound.
    auto* names = At<IMAGE_THUNK_DATA>(base, entry->OriginalFirstThunk);
    auto* addresses = At<IMAGE_THUNK_DATA>(base, entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
        continue;
      }
      const auto* byName =
          At<IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(names->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&addresses->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

void* ReplaceImport(const char* dll, const char* function, void* replacement) {
  void** slot = FindSlot(dll, function);
  if (slot == nullptr) {
    return nullptr;
  }
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) {
    return nullptr;
  }
  void* previous = *slot;
  *slot = replacement;
  VirtualProtect(slot, sizeof(*slot), protection, &protection);
  return previous;
}

}  // namespace quorvel::bench
