#pragma once

#include <windows.h>
// The debug-help declarations need the Windows types before them.
#include <dbghelp.h>

#include <cstdint>

namespace quorvel {

// The debug-help functions are reached only through the binding table below, which nothing in
// the library fills: every entry point may be absent, and the wrapper of an absent one returns
// 0 (false, no options, null). The records and addresses are the platform's: 32-bit for x86,
// their 64-bit forms for x86_64.

// An address as the engine takes it.
using EngineAddress = decltype(STACKFRAME::AddrPC.Offset);

// The late-bound entry points and the library they came from.
struct SymbolEngineBindings {
  HMODULE library = nullptr;
  decltype(&StackWalk) stackWalk = nullptr;
  decltype(&SymFunctionTableAccess) symFunctionTableAccess = nullptr;
  decltype(&SymSetOptions) symSetOptions = nullptr;
  decltype(&SymGetOptions) symGetOptions = nullptr;
  decltype(&SymInitialize) symInitialize = nullptr;
  decltype(&SymCleanup) symCleanup = nullptr;
  decltype(&SymUnloadModule) symUnloadModule = nullptr;
  decltype(&SymLoadModule) symLoadModule = nullptr;
  decltype(&SymGetModuleInfo) symGetModuleInfo = nullptr;
  decltype(&SymGetSymFromAddr) symGetSymFromAddr = nullptr;
  decltype(&SymGetLineFromAddr) symGetLineFromAddr = nullptr;
};

// The base addresses of the modules a walk loaded into the engine, in the order they came.
class ModuleBaseList {
 public:
  struct Node {
    EngineAddress base;
    Node* next;
    Node* previous;
  };

  constexpr ModuleBaseList() = default;
  ModuleBaseList(const ModuleBaseList&) = delete;
  ModuleBaseList& operator=(const ModuleBaseList&) = delete;

  bool Contains(EngineAddress base) const;
  // Adds base at the tail; false when no memory is left for its node.
  bool Append(EngineAddress base);
  // Frees every node.
  void Clear();
  const Node* Head() const { return head_; }
  uint32_t Count() const { return count_; }

 private:
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  uint32_t count_ = 0;
};

// The process-wide engine state; one walk at a time. It has no destructor of its own: the
// reporting library's guard object empties it at unload, in its place among the static objects.
struct SymbolEngine {
  SymbolEngineBindings bindings;
  HANDLE process = nullptr;  // the process handed to SymInitialize
  bool initialised = false;
  ModuleBaseList loadedModules;

  static SymbolEngine& Instance();
};

// Call wrappers: each calls its entry point when it is bound and otherwise returns 0.
BOOL WINAPI EngineStackWalk(DWORD machineType, HANDLE process, HANDLE thread, LPSTACKFRAME frame,
                            PVOID context, PREAD_PROCESS_MEMORY_ROUTINE readMemory,
                            PFUNCTION_TABLE_ACCESS_ROUTINE functionTableAccess,
                            PGET_MODULE_BASE_ROUTINE getModuleBase,
                            PTRANSLATE_ADDRESS_ROUTINE translateAddress);
// Also the function-table callback handed to StackWalk.
PVOID WINAPI EngineSymFunctionTableAccess(HANDLE process, EngineAddress base);
DWORD EngineSymSetOptions(DWORD options);
DWORD EngineSymGetOptions();
BOOL EngineSymInitialize(HANDLE process, PCSTR searchPath, BOOL invadeProcess);
BOOL EngineSymCleanup(HANDLE process);
BOOL EngineSymUnloadModule(HANDLE process, EngineAddress base);
EngineAddress EngineSymLoadModule(HANDLE process, HANDLE file, PCSTR imageName, PCSTR moduleName,
                                  EngineAddress base, DWORD size);
BOOL EngineSymGetModuleInfo(HANDLE process, EngineAddress address, PIMAGEHLP_MODULE module);
BOOL EngineSymGetSymFromAddr(HANDLE process, EngineAddress address, EngineAddress* displacement,
                             PIMAGEHLP_SYMBOL symbol);
BOOL EngineSymGetLineFromAddr(HANDLE process, EngineAddress address, PDWORD displacement,
                              PIMAGEHLP_LINE line);

// The module-base callback handed to StackWalk: the engine's module for address, else the
// allocation base of the memory holding it, which is then loaded into the engine and noted in
// loadedModules. 0 when the address lies in no allocation.
EngineAddress WINAPI moduleBase(HANDLE process, EngineAddress address);

// Frees the bound library, if any, and empties every slot of the table.
void unbindSymbolEngine();

}  // namespace quorvel
