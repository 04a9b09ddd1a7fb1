#include "crash/stack_walk.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crash/symbol_engine.h"
#include "crash_test_support.h"
#include "gtest/gtest.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// The fake engine: a module at kModuleBase, two symbols in it, and one source line wherever
// the test puts it. Every call is recorded.
constexpr EngineAddress kModuleBase = 0x10000000;
constexpr EngineAddress kModuleEnd = 0x10100000;
constexpr EngineAddress kFunction = 0x10001000;
constexpr EngineAddress kFunctionBody = 0x10001010;
constexpr EngineAddress kElsewhere = 0x20000000;

struct FakeState {
  std::vector<EngineAddress> pcs;  // what StackWalk reports, one frame per call
  size_t steps = 0;
  DWORD sleepPerStep = 0;
  bool unlimited = false;  // StackWalk never ends
  EngineAddress askModuleBaseFor = 0;
  EngineAddress moduleBaseAnswer = 0;
  STACKFRAME firstFrame = {};
  DWORD machine = 0;
  PFUNCTION_TABLE_ACCESS_ROUTINE tableAccess = nullptr;
  PGET_MODULE_BASE_ROUTINE moduleBaseRoutine = nullptr;

  DWORD optionsSet = 0;
  int initializeCalls = 0;
  HANDLE initializedProcess = nullptr;
  int cleanupCalls = 0;
  std::vector<EngineAddress> unloaded;
  std::vector<EngineAddress> loaded;
  std::string loadedName;
  bool loadedWithFile = false;

  std::string imageName = "C:\\Game\\bin\\client.dll";
  std::string symbolName = "Render::Frame";
  std::string fileName = "C:\\src\\render.cpp";
  EngineAddress lineAt = 0;
  int lineLookups = 0;
};
FakeState g_fake;

BOOL WINAPI FakeStackWalk(DWORD machine, HANDLE process, HANDLE, LPSTACKFRAME frame, PVOID,
                          PREAD_PROCESS_MEMORY_ROUTINE, PFUNCTION_TABLE_ACCESS_ROUTINE tableAccess,
                          PGET_MODULE_BASE_ROUTINE getModuleBase, PTRANSLATE_ADDRESS_ROUTINE) {
  if (g_fake.steps == 0) {
    g_fake.firstFrame = *frame;
    g_fake.machine = machine;
    g_fake.tableAccess = tableAccess;
    g_fake.moduleBaseRoutine = getModuleBase;
    if (g_fake.askModuleBaseFor != 0) {
      g_fake.moduleBaseAnswer = getModuleBase(process, g_fake.askModuleBaseFor);
    }
  }
  if (!g_fake.unlimited && g_fake.steps >= g_fake.pcs.size()) {
    return FALSE;
  }
  frame->AddrPC.Offset = g_fake.unlimited ? kElsewhere : g_fake.pcs[g_fake.steps];
  for (int i = 0; i < 4; ++i) {
    frame->Params[i] = static_cast<EngineAddress>(g_fake.steps * 16 + i + 1);
  }
  ++g_fake.steps;
  if (g_fake.sleepPerStep != 0) {
    Sleep(g_fake.sleepPerStep);
  }
  return TRUE;
}

DWORD WINAPI FakeSymGetOptions() { return 0x2; }

DWORD WINAPI FakeSymSetOptions(DWORD options) {
  g_fake.optionsSet = options;
  return options;
}

BOOL WINAPI FakeSymInitialize(HANDLE process, PCSTR searchPath, BOOL invade) {
  ++g_fake.initializeCalls;
  g_fake.initializedProcess = process;
  return searchPath == nullptr && !invade;
}

BOOL WINAPI FakeSymCleanup(HANDLE) {
  ++g_fake.cleanupCalls;
  return TRUE;
}

BOOL WINAPI FakeSymUnloadModule(HANDLE, EngineAddress base) {
  g_fake.unloaded.push_back(base);
  return TRUE;
}

EngineAddress WINAPI FakeSymLoadModule(HANDLE, HANDLE file, PCSTR imageName, PCSTR,
                                       EngineAddress base, DWORD) {
  g_fake.loaded.push_back(base);
  g_fake.loadedName = imageName != nullptr ? imageName : "";
  g_fake.loadedWithFile = file != nullptr;
  return base;
}

BOOL WINAPI FakeSymGetModuleInfo(HANDLE, EngineAddress address, PIMAGEHLP_MODULE module) {
  if (address < kModuleBase || address >= kModuleEnd ||
      module->SizeOfStruct != sizeof(IMAGEHLP_MODULE)) {
    return FALSE;
  }
  module->BaseOfImage = kModuleBase;
  // Copied without a terminator when the name fills the field.
  const size_t n = std::min(g_fake.imageName.size(), sizeof(module->ImageName));
  std::memcpy(module->ImageName, g_fake.imageName.data(), n);
  return TRUE;
}

BOOL WINAPI FakeSymGetSymFromAddr(HANDLE, EngineAddress address, EngineAddress* displacement,
                                  PIMAGEHLP_SYMBOL symbol) {
  if (address != kFunction && address != kFunctionBody) {
    return FALSE;
  }
  *displacement = address - kFunction;
  const size_t n = std::min<size_t>(g_fake.symbolName.size(), symbol->MaxNameLength);
  std::memcpy(symbol->Name, g_fake.symbolName.data(), n);
  return TRUE;
}

BOOL WINAPI FakeSymGetLineFromAddr(HANDLE, EngineAddress address, PDWORD displacement,
                                   PIMAGEHLP_LINE line) {
  ++g_fake.lineLookups;
  if (address != g_fake.lineAt || line->SizeOfStruct != sizeof(IMAGEHLP_LINE)) {
    return FALSE;
  }
  *displacement = 0;
  line->LineNumber = 42;
  line->FileName = const_cast<char*>(g_fake.fileName.c_str());
  return TRUE;
}

class StackWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = FakeState(); }

  // Binds every fake entry point.
  void BindFakes() {
    SymbolEngineBindings& b = engine_.Bindings();
    b.stackWalk = FakeStackWalk;
    b.symSetOptions = FakeSymSetOptions;
    b.symGetOptions = FakeSymGetOptions;
    b.symInitialize = FakeSymInitialize;
    b.symCleanup = FakeSymCleanup;
    b.symUnloadModule = FakeSymUnloadModule;
    b.symLoadModule = FakeSymLoadModule;
    b.symGetModuleInfo = FakeSymGetModuleInfo;
    b.symGetSymFromAddr = FakeSymGetSymFromAddr;
    b.symGetLineFromAddr = FakeSymGetLineFromAddr;
  }

  std::string Line(EngineAddress pc, int paramBase) {
    STACKFRAME frame = {};
    frame.AddrPC.Offset = pc;
    for (int i = 0; i < 4; ++i) {
      frame.Params[i] = static_cast<EngineAddress>(paramBase + i);
    }
    char line[kFrameLineCapacity];
    const uint32_t n = formatFrame(line, kFrameLineCapacity, frame);
    EXPECT_EQ(n, std::strlen(line));
    return line;
  }

  test::ScopedSymbolEngine engine_;
};

std::string PcText(EngineAddress pc) {
  char text[32];
  std::snprintf(text, sizeof(text), sizeof(void*) == 8 ? "0x%016llX " : "0x%08llX ",
                static_cast<unsigned long long>(pc));
  return text;
}

TEST_F(StackWalkTest, FrameLinesNameModuleSymbolParamsAndSourceLine) {
  BindFakes();
  g_fake.lineAt = kFunction;
  EXPECT_EQ(Line(kFunction, 1), PcText(kFunction) +
                                    "client.dll: Render::Frame (params: 00000001, 00000002, "
                                    "00000003, 00000004)\n\t\tC:\\src\\render.cpp, Line 42\n");

  // Found three bytes back: the line says so.
  g_fake.lineAt = kFunctionBody - 3;
  EXPECT_EQ(Line(kFunctionBody, 0x1a), PcText(kFunctionBody) +
                                           "client.dll: Render::Frame + 16 bytes (params: "
                                           "0000001a, 0000001b, 0000001c, 0000001d)\n"
                                           "\t\tC:\\src\\render.cpp, Line 42 + 3 bytes\n");

  // The search goes back 99 bytes and no further.
  g_fake.lineAt = kFunctionBody - 100;
  g_fake.lineLookups = 0;
  EXPECT_EQ(Line(kFunctionBody, 1), PcText(kFunctionBody) +
                                        "client.dll: Render::Frame + 16 bytes (params: "
                                        "00000001, 00000002, 00000003, 00000004)\n");
  EXPECT_EQ(g_fake.lineLookups, 100);

  g_fake.imageName = "client.dll";
  g_fake.lineAt = 0;
  EXPECT_EQ(Line(kFunction, 1), PcText(kFunction) +
                                    "client.dll: Render::Frame (params: 00000001, 00000002, "
                                    "00000003, 00000004)\n");
}

TEST_F(StackWalkTest, UnknownModuleAndSymbolStillGiveTheParams) {
  const std::string expected = PcText(kElsewhere) +
                               "<unknown module>: <unknown symbol> (params: 00000005, "
                               "00000006, 00000007, 00000008)\n";
  EXPECT_EQ(Line(kElsewhere, 5), expected);  // nothing bound at all
  BindFakes();
  EXPECT_EQ(Line(kElsewhere, 5), expected);
}

TEST_F(StackWalkTest, LongNamesCannotOverflowTheLine) {
  BindFakes();
  g_fake.imageName = std::string(400, 'm');  // fills the record's field, unterminated
  g_fake.symbolName = std::string(400, 's');
  g_fake.fileName = std::string(5000, 'f');
  g_fake.lineAt = kFunction;
  STACKFRAME frame = {};
  frame.AddrPC.Offset = kFunction;

  char line[kFrameLineCapacity + 16];
  std::memset(line, '#', sizeof(line));
  const uint32_t n = formatFrame(line, kFrameLineCapacity, frame);
  EXPECT_EQ(n, kFrameLineCapacity - 1);
  EXPECT_EQ(line[n - 1], '\n');
  EXPECT_EQ(line[n], '\0');
  EXPECT_EQ(std::string(line + kFrameLineCapacity, 16), std::string(16, '#'));
  const std::string text(line, n);
  // The module name stops at its field, the symbol name at the engine's maximum.
  EXPECT_NE(text.find(" " + std::string(255, 'm') + ": "), std::string::npos);
  EXPECT_EQ(text.find(std::string(256, 'm')), std::string::npos);
  EXPECT_NE(text.find(": " + std::string(260, 's') + " (params"), std::string::npos) << text;

  // A small buffer keeps the start of the same line.
  char small[40 + 4];
  std::memset(small, '#', sizeof(small));
  EXPECT_EQ(formatFrame(small, 40, frame), 39u);
  EXPECT_EQ(std::string(small, 39), text.substr(0, 38) + "\n");
  EXPECT_EQ(small[39], '\0');
  EXPECT_EQ(std::string(small + 40, 4), "####");
}

// A stack whose lowest page cannot be read: the stack pointer sits at the start of the page
// above it.
class GuardedStack {
 public:
  GuardedStack() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    page_ = system.dwPageSize;
    memory_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(memory_, page_, PAGE_NOACCESS, &old);
    auto* words = reinterpret_cast<uint32_t*>(memory_ + page_);
    for (uint32_t i = 0; i < 32; ++i) {
      words[i] = 0xA0000000u + i;
    }
  }
  GuardedStack(const GuardedStack&) = delete;
  GuardedStack& operator=(const GuardedStack&) = delete;
  ~GuardedStack() { VirtualFree(memory_, 0, MEM_RELEASE); }
  uintptr_t Top() const { return reinterpret_cast<uintptr_t>(memory_ + page_); }

 private:
  DWORD page_ = 0;
  uint8_t* memory_ = nullptr;
};

void SetRegisters(CONTEXT& context, uintptr_t stackPointer) {
#if defined(_M_IX86) || defined(__i386__)
  context.Eip = static_cast<DWORD>(kFunction);
  context.Esp = static_cast<DWORD>(stackPointer);
  context.Ebp = 0x1111;
  context.Edi = 0x2222;
  context.Esi = 0x3333;
  context.Ebx = 0x4444;
  context.Edx = 0x5555;
  context.Ecx = 0x6666;
  context.Eax = 0x7777;
#else
  context.Rip = kFunction;
  context.Rsp = stackPointer;
  context.Rbp = 0x1111;
  context.Rdi = 0x2222;
  context.Rsi = 0x3333;
  context.Rbx = 0x4444;
  context.Rdx = 0x5555;
  context.Rcx = 0x6666;
  context.Rax = 0x7777;
#endif
}

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof(text), sizeof(void*) == 8 ? "0x%016llX" : "0x%08llX", value);
  return text;
}

std::string ExpectedRegisters(uintptr_t sp) {
  const char* names = sizeof(void*) == 8 ? "rip rsp rbp rdi rsi rbx rdx rcx rax"
                                         : "eip esp ebp edi esi ebx edx ecx eax";
  const unsigned long long values[] = {kFunction, sp,     0x1111, 0x2222, 0x3333,
                                       0x4444,    0x5555, 0x6666, 0x7777};
  std::string text = "\nCPU register values:\n";
  for (int i = 0; i < 9; ++i) {
    text += "  " + std::string(names + 4 * i, 3) + ": " + Hex(values[i]) + "\n";
  }
  text += "\nRaw stack";
  for (int row = 0; row < 10; ++row) {
    const int first = row * 4 - 8;
    text += std::string("\n") + (first == 0 ? '-' : ' ') + " " +
            Hex(sp + static_cast<intptr_t>(first) * 4) + " :";
    for (int i = first; i < first + 4; ++i) {
      char word[16];
      std::snprintf(word, sizeof(word), " 0x%08X", 0xA0000000u + static_cast<unsigned>(i));
      text += i < 0 ? " 0x????????" : word;
    }
  }
  return text + "\n";
}

TEST_F(StackWalkTest, WithoutBindingsTheWalkEndsAtOnce) {
  SharedString out("before\n");
  walkStack(nullptr, out, 0, 0, 512, GetCurrentThread(), 0);
  EXPECT_STREQ(out.Chars(), "before\n(Symbol Engine Could Not Be Initialized!)\n");
  EXPECT_FALSE(SymbolEngine::Instance().initialised);
}

TEST_F(StackWalkTest, ExceptionWalkListsEveryFrameThenRegistersAndRawStack) {
  BindFakes();
  GuardedStack stack;
  CONTEXT context = {};
  SetRegisters(context, stack.Top());
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  g_fake.pcs = {kFunction, 0, kElsewhere};
  g_fake.lineAt = kFunction;
  // The walk asks for the module of an address of this program, which the engine does not know.
  g_fake.askModuleBaseFor = reinterpret_cast<uintptr_t>(&ExpectedRegisters);

  SharedString out;
  walkStack(&pointers, out, 0, 0, 512, GetCurrentThread(), 0);

  // The frame with a null program counter is left out.
  EXPECT_EQ(std::string(out.Chars()),
            Line(kFunction, 1) + Line(kElsewhere, 33) + ExpectedRegisters(stack.Top()));
  EXPECT_EQ(g_fake.firstFrame.AddrPC.Offset, kFunction);
  EXPECT_EQ(g_fake.firstFrame.AddrStack.Offset, stack.Top());
  EXPECT_EQ(g_fake.firstFrame.AddrFrame.Offset, 0x1111u);
  EXPECT_EQ(g_fake.firstFrame.AddrPC.Mode, AddrModeFlat);
  EXPECT_EQ(g_fake.machine, static_cast<DWORD>(sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64
                                                                  : IMAGE_FILE_MACHINE_I386));
  EXPECT_EQ(g_fake.tableAccess, &EngineSymFunctionTableAccess);
  EXPECT_EQ(g_fake.moduleBaseRoutine, &moduleBase);

  // Set up with line information, used for the walk, loaded modules unloaded at its end.
  EXPECT_EQ(g_fake.optionsSet, 0x12u);
  EXPECT_EQ(g_fake.initializeCalls, 1);
  EXPECT_EQ(g_fake.initializedProcess, GetCurrentProcess());
  const auto program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  EXPECT_EQ(g_fake.moduleBaseAnswer, program);
  ASSERT_EQ(g_fake.loaded.size(), 1u);
  EXPECT_EQ(g_fake.loaded[0], program);
  EXPECT_TRUE(g_fake.loadedWithFile);
  char name[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  EXPECT_EQ(g_fake.loadedName, name);
  EXPECT_EQ(g_fake.unloaded, std::vector<EngineAddress>{program});
  EXPECT_EQ(g_fake.cleanupCalls, 1);
  EXPECT_FALSE(SymbolEngine::Instance().initialised);
  EXPECT_EQ(SymbolEngine::Instance().loadedModules.Count(), 0u);
}

// A thread that waits, suspended, for the test to read its context.
class SuspendedThread {
 public:
  SuspendedThread() : handle_(CreateThread(nullptr, 0, &Run, nullptr, CREATE_SUSPENDED, nullptr)) {}
  SuspendedThread(const SuspendedThread&) = delete;
  SuspendedThread& operator=(const SuspendedThread&) = delete;
  ~SuspendedThread() {
    ResumeThread(handle_);
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }

 private:
  static DWORD WINAPI Run(void*) { return 0; }
  HANDLE handle_;
};

TEST_F(StackWalkTest, ThreadWalkSkipsItsFirstFramesAndPrintsNoRegisters) {
  BindFakes();
  SuspendedThread thread;
  for (EngineAddress pc = 1; pc <= 7; ++pc) {
    g_fake.pcs.push_back(kElsewhere + pc);
  }
  SharedString out;
  walkStack(nullptr, out, 0, 5, 512, thread.Get(), 0);
  EXPECT_EQ(std::string(out.Chars()), Line(kElsewhere + 6, 81) + Line(kElsewhere + 7, 97));
}

TEST_F(StackWalkTest, UnreadableContextLeavesTheEngineForTheNextWalk) {
  BindFakes();
  SharedString out;
  walkStack(nullptr, out, 0, 0, 512, nullptr, 0);
  EXPECT_STREQ(out.Chars(), "Could not get context for the current thread!");
  EXPECT_TRUE(SymbolEngine::Instance().initialised);
  EXPECT_EQ(g_fake.cleanupCalls, 0);

  SuspendedThread thread;
  SharedString next;
  walkStack(nullptr, next, 0, 0, 512, thread.Get(), 0);
  EXPECT_EQ(g_fake.initializeCalls, 1);
  EXPECT_EQ(g_fake.cleanupCalls, 1);
  EXPECT_FALSE(SymbolEngine::Instance().initialised);
}

TEST_F(StackWalkTest, CharacterBudgetDropsFramesButKeepsTheRegisters) {
  BindFakes();
  GuardedStack stack;
  CONTEXT context = {};
  SetRegisters(context, stack.Top());
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  g_fake.pcs = {kElsewhere + 1, kElsewhere + 2, kElsewhere + 3};
  const std::string first = Line(kElsewhere + 1, 1);
  const std::string second = Line(kElsewhere + 2, 17);

  SharedString out;
  walkStack(&pointers, out, static_cast<uint32_t>(first.size() + second.size() - 1), 0, 512,
            nullptr, 0);
  EXPECT_EQ(std::string(out.Chars()), first + ExpectedRegisters(stack.Top()));
}

TEST_F(StackWalkTest, WalkStopsAtTheFrameLimitAndTheTimeLimit) {
  BindFakes();
  SuspendedThread thread;
  g_fake.unlimited = true;
  SharedString out;
  walkStack(nullptr, out, 0, 0, 7, thread.Get(), 0);
  EXPECT_EQ(g_fake.steps, 7u);

  // Each step takes longer than the whole budget: the walk ends after the first, even though
  // that frame had nothing to store.
  g_fake = FakeState();
  g_fake.pcs = {0, kElsewhere, kElsewhere};
  g_fake.sleepPerStep = 40;
  SharedString timed;
  walkStack(nullptr, timed, 0, 0, 512, thread.Get(), 1);
  EXPECT_EQ(g_fake.steps, 1u);
  EXPECT_STREQ(timed.Chars(), "");
}

TEST_F(StackWalkTest, ModuleBaseUsesTheEngineFirstAndSkipsFreeMemory) {
  BindFakes();
  EXPECT_EQ(moduleBase(GetCurrentProcess(), kFunction), kModuleBase);
  EXPECT_TRUE(g_fake.loaded.empty());

  void* freed = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  VirtualFree(freed, 0, MEM_RELEASE);
  EXPECT_EQ(moduleBase(GetCurrentProcess(), reinterpret_cast<uintptr_t>(freed)), 0u);
  EXPECT_TRUE(g_fake.loaded.empty());

  // A program address twice: loaded each time, noted once.
  const auto address = reinterpret_cast<uintptr_t>(&Hex);
  const auto program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  EXPECT_EQ(moduleBase(GetCurrentProcess(), address), program);
  EXPECT_EQ(moduleBase(GetCurrentProcess(), address), program);
  EXPECT_EQ(g_fake.loaded.size(), 2u);
  EXPECT_EQ(SymbolEngine::Instance().loadedModules.Count(), 1u);
}

TEST_F(StackWalkTest, UnbindingFreesTheLibraryAndEmptiesTheTable) {
  BindFakes();
  const std::wstring path = test::ProgramFolder() + L"\\version_untranslated.dll";
  engine_.Bindings().library = LoadLibraryW(path.c_str());
  ASSERT_NE(engine_.Bindings().library, nullptr);
  unbindSymbolEngine();
  const SymbolEngineBindings& b = engine_.Bindings();
  EXPECT_EQ(b.library, nullptr);
  EXPECT_EQ(b.stackWalk, nullptr);
  EXPECT_EQ(b.symInitialize, nullptr);
  EXPECT_EQ(b.symGetLineFromAddr, nullptr);
  EXPECT_EQ(GetModuleHandleW(L"version_untranslated.dll"), nullptr);

  // Nothing bound: nothing to free.
  unbindSymbolEngine();
  EXPECT_EQ(engine_.Bindings().library, nullptr);
}

}  // namespace
}  // namespace quorvel
