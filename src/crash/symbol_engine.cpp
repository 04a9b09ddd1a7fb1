#include "crash/symbol_engine.h"

#include <new>

#include "foundation/scoped_handle.h"

namespace quorvel {
namespace {

// Constant-initialised, so it is usable before and after every dynamic static object.
SymbolEngine g_engine;

}  // namespace

SymbolEngine& SymbolEngine::Instance() { return g_engine; }

bool ModuleBaseList::Contains(EngineAddress base) const {
  for (const Node* node = head_; node != nullptr; node = node->next) {
    if (node->base == base) {
      return true;
    }
  }
  return false;
}

bool ModuleBaseList::Append(EngineAddress base) {
  Node* node = new (std::nothrow) Node{base, nullptr, tail_};
  if (node == nullptr) {
    return false;
  }
  if (tail_ != nullptr) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  ++count_;
  return true;
}

void ModuleBaseList::Clear() {
  while (head_ != nullptr) {
    Node* next = head_->next;
    delete head_;
    head_ = next;
  }
  tail_ = nullptr;
  count_ = 0;
}

BOOL WINAPI EngineStackWalk(DWORD machineType, HANDLE process, HANDLE thread, LPSTACKFRAME frame,
                            PVOID context, PREAD_PROCESS_MEMORY_ROUTINE readMemory,
                            PFUNCTION_TABLE_ACCESS_ROUTINE functionTableAccess,
                            PGET_MODULE_BASE_ROUTINE getModuleBase,
                            PTRANSLATE_ADDRESS_ROUTINE translateAddress) {
  const auto entry = g_engine.bindings.stackWalk;
  return entry != nullptr ? entry(machineType, process, thread, frame, context, readMemory,
                                  functionTableAccess, getModuleBase, translateAddress)
                          : FALSE;
}

PVOID WINAPI EngineSymFunctionTableAccess(HANDLE process, EngineAddress base) {
  const auto entry = g_engine.bindings.symFunctionTableAccess;
  return entry != nullptr ? entry(process, base) : nullptr;
}

DWORD EngineSymSetOptions(DWORD options) {
  const auto entry = g_engine.bindings.symSetOptions;
  return entry != nullptr ? entry(options) : 0;
}

DWORD EngineSymGetOptions() {
  const auto entry = g_engine.bindings.symGetOptions;
  return entry != nullptr ? entry() : 0;
}

BOOL EngineSymInitialize(HANDLE process, PCSTR searchPath, BOOL invadeProcess) {
  const auto entry = g_engine.bindings.symInitialize;
  return entry != nullptr ? entry(process, searchPath, invadeProcess) : FALSE;
}

BOOL EngineSymCleanup(HANDLE process) {
  const auto entry = g_engine.bindings.symCleanup;
  return entry != nullptr ? entry(process) : FALSE;
}

BOOL EngineSymUnloadModule(HANDLE process, EngineAddress base) {
  const auto entry = g_engine.bindings.symUnloadModule;
  return entry != nullptr ? entry(process, base) : FALSE;
}

EngineAddress EngineSymLoadModule(HANDLE process, HANDLE file, PCSTR imageName, PCSTR moduleName,
                                  EngineAddress base, DWORD size) {
  const auto entry = g_engine.bindings.symLoadModule;
  return entry != nullptr ? entry(process, file, imageName, moduleName, base, size) : 0;
}

BOOL EngineSymGetModuleInfo(HANDLE process, EngineAddress address, PIMAGEHLP_MODULE module) {
  const auto entry = g_engine.bindings.symGetModuleInfo;
  return entry != nullptr ? entry(process, address, module) : FALSE;
}

BOOL EngineSymGetSymFromAddr(HANDLE process, EngineAddress address, EngineAddress* displacement,
                             PIMAGEHLP_SYMBOL symbol) {
  const auto entry = g_engine.bindings.symGetSymFromAddr;
  return entry != nullptr ? entry(process, address, displacement, symbol) : FALSE;
}

BOOL EngineSymGetLineFromAddr(HANDLE process, EngineAddress address, PDWORD displacement,
                              PIMAGEHLP_LINE line) {
  const auto entry = g_engine.bindings.symGetLineFromAddr;
  return entry != nullptr ? entry(process, address, displacement, line) : FALSE;
}

EngineAddress WINAPI moduleBase(HANDLE process, EngineAddress address) {
  IMAGEHLP_MODULE module = {};
  module.SizeOfStruct = sizeof(module);
  if (EngineSymGetModuleInfo(g_engine.process, address, &module)) {
    return module.BaseOfImage;
  }
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &region,
                     sizeof(region)) == 0) {
    return 0;
  }
  // Free memory has no allocation base; GetModuleFileNameA would take the null base for the
  // executable and load it into the engine at address 0.
  if (region.AllocationBase == nullptr) {
    return 0;
  }
  const EngineAddress base = reinterpret_cast<uintptr_t>(region.AllocationBase);
  char name[MAX_PATH];
  const DWORD length =
      GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), name, MAX_PATH);
  const bool named = length != 0 && length < MAX_PATH;
  ScopedFileHandle file;
  if (named) {
    file.Reset(
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  }
  // The engine reads the image during the call; the file is closed when it returns.
  EngineSymLoadModule(g_engine.process, file.IsValid() ? file.Get() : nullptr,
                      named ? name : nullptr, nullptr, base, 0);
  if (!g_engine.loadedModules.Contains(base)) {
    g_engine.loadedModules.Append(base);
  }
  return base;
}

void unbindSymbolEngine() {
  if (g_engine.bindings.library == nullptr) {
    return;
  }
  const HMODULE library = g_engine.bindings.library;
  g_engine.bindings = SymbolEngineBindings();
  FreeLibrary(library);
}

}  // namespace quorvel
