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

// The fake engine: a module at kModuleBase, one symbol in it at kFunction, and one source line
// wherever the test puts it. The calls that matter are recorded.
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
  STACKFRAME firstFrame = {};
  DWORD optionsSet = 0;
  int initializeCalls = 0;
  int cleanupCalls = 0;
  std::vector<EngineAddress> loaded;
  std::vector<EngineAddress> unloaded;
  std::string loadedName;
  std::string imageName = "C:\\Game\\bin\\client.dll";
  std::string symbolName = "Render::Frame";
  std::string fileName = "C:\\src\\render.cpp";
  EngineAddress lineAt = 0;
  int lineLookups = 0;
};
FakeState g_fake;

BOOL WINAPI FakeStackWalk(DWORD, HANDLE process, HANDLE, LPSTACKFRAME frame, PVOID,
                          PREAD_PROCESS_MEMORY_ROUTINE, PFUNCTION_TABLE_ACCESS_ROUTINE,
                          PGET_MODULE_BASE_ROUTINE getModuleBase, PTRANSLATE_ADDRESS_ROUTINE) {
  if (g_fake.steps == 0) {
    g_fake.firstFrame = *frame;
    if (g_fake.askModuleBaseFor != 0) {
      getModuleBase(process, g_fake.askModuleBaseFor);
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
  Sleep(g_fake.sleepPerStep);
  return TRUE;
}

DWORD WINAPI FakeSymGetOptions() { return 0x2; }
DWORD WINAPI FakeSymSetOptions(DWORD options) { return g_fake.optionsSet = options; }
BOOL WINAPI FakeSymInitialize(HANDLE, PCSTR searchPath, BOOL invade) {
  ++g_fake.initializeCalls;
  return searchPath == nullptr && !invade;
}
BOOL WINAPI FakeSymCleanup(HANDLE) { return ++g_fake.cleanupCalls; }
BOOL WINAPI FakeSymUnloadModule(HANDLE, EngineAddress base) {
  g_fake.unloaded.push_back(base);
  return TRUE;
}
EngineAddress WINAPI FakeSymLoadModule(HANDLE, HANDLE file, PCSTR imageName, PCSTR,
                                       EngineAddress base, DWORD) {
  g_fake.loaded.push_back(base);
  g_fake.loadedName = file != nullptr && imageName != nullptr ? imageName : "";
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

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof(text), sizeof(void*) == 8 ? "0x%016llX" : "0x%08llX", value);
  return text;
}

class StackWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = FakeState(); }

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

  // The frame line of pc with the four parameters paramBase, paramBase + 1, ...
  static std::string Line(EngineAddress pc, int paramBase) {
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

TEST_F(StackWalkTest, FrameLinesNameModuleSymbolParamsAndSourceLine) {
  const std::string params = "(params: 00000001, 00000002, 00000003, 00000004)\n";
  const std::string unknown = Hex(kElsewhere) + " <unknown module>: <unknown symbol> " + params;
  EXPECT_EQ(Line(kElsewhere, 1), unknown);  // nothing bound at all
  BindFakes();
  EXPECT_EQ(Line(kElsewhere, 1), unknown);
  g_fake.lineAt = kFunction;
  EXPECT_EQ(Line(kFunction, 1), Hex(kFunction) + " client.dll: Render::Frame " + params +
                                    "\t\tC:\\src\\render.cpp, Line 42\n");
  // Found three bytes back: the line says so.
  g_fake.lineAt = kFunctionBody - 3;
  EXPECT_EQ(Line(kFunctionBody, 0x1a), Hex(kFunctionBody) +
                                           " client.dll: Render::Frame + 16 bytes (params: "
                                           "0000001a, 0000001b, 0000001c, 0000001d)\n"
                                           "\t\tC:\\src\\render.cpp, Line 42 + 3 bytes\n");
  // The search goes back 99 bytes and no further.
  g_fake.lineAt = kFunctionBody - 100;
  g_fake.lineLookups = 0;
  g_fake.imageName = "client.dll";
  EXPECT_EQ(Line(kFunctionBody, 1),
            Hex(kFunctionBody) + " client.dll: Render::Frame + 16 bytes " + params);
  EXPECT_EQ(g_fake.lineLookups, 100);
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
  EXPECT_EQ(std::string(small, 40), text.substr(0, 38) + "\n" + '\0');
  EXPECT_EQ(std::string(small + 40, 4), "####");
}

// A stack whose lowest page cannot be read: the stack pointer sits at the start of the page
// above it, whose words are 0xA0000000, 0xA0000001, ...
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
    for (uint32_t i = 0; i < 32; ++i) {
      reinterpret_cast<uint32_t*>(memory_ + page_)[i] = 0xA0000000u + i;
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

// The registers the dump lists, in its order; a context gets the values below.
#if defined(_M_IX86) || defined(__i386__)
#define QV_REGISTER(name) E##name
#else
#define QV_REGISTER(name) R##name
#endif
const char kRegisterNames[][4] = {"ip", "sp", "bp", "di", "si", "bx", "dx", "cx", "ax"};
const uintptr_t kRegisterValues[] = {kFunction, 0,      0x1111, 0x2222, 0x3333,
                                     0x4444,    0x5555, 0x6666, 0x7777};

// An exception at kFunction with the stack pointer at stack.Top().
struct ExceptionAt {
  explicit ExceptionAt(const GuardedStack& stack) {
    decltype(context.QV_REGISTER(ax))* fields[] = {
        &context.QV_REGISTER(ip), &context.QV_REGISTER(sp), &context.QV_REGISTER(bp),
        &context.QV_REGISTER(di), &context.QV_REGISTER(si), &context.QV_REGISTER(bx),
        &context.QV_REGISTER(dx), &context.QV_REGISTER(cx), &context.QV_REGISTER(ax)};
    for (int i = 0; i < 9; ++i) {
      *fields[i] = i == 1 ? stack.Top() : kRegisterValues[i];
    }
  }
  CONTEXT context = {};
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
};

std::string ExpectedRegisters(uintptr_t sp) {
  std::string text = "\nCPU register values:\n";
  for (int i = 0; i < 9; ++i) {
    text += std::string("  ") + (sizeof(void*) == 8 ? 'r' : 'e') + kRegisterNames[i] + ": " +
            Hex(i == 1 ? sp : kRegisterValues[i]) + "\n";
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
  ExceptionAt exception(stack);
  g_fake.pcs = {kFunction, 0, kElsewhere};
  g_fake.lineAt = kFunction;
  // The walk asks for the module of an address of this program, which the engine does not know.
  g_fake.askModuleBaseFor = reinterpret_cast<uintptr_t>(&ExpectedRegisters);

  SharedString out;
  walkStack(&exception.pointers, out, 0, 0, 512, GetCurrentThread(), 0);

  // The frame with a null program counter is left out; unreadable stack words show as ?.
  EXPECT_EQ(std::string(out.Chars()),
            Line(kFunction, 1) + Line(kElsewhere, 33) + ExpectedRegisters(stack.Top()));
  EXPECT_EQ(g_fake.firstFrame.AddrPC.Offset, kFunction);
  EXPECT_EQ(g_fake.firstFrame.AddrStack.Offset, stack.Top());
  EXPECT_EQ(g_fake.firstFrame.AddrFrame.Offset, 0x1111u);
  EXPECT_EQ(g_fake.firstFrame.AddrPC.Mode, AddrModeFlat);
  // Set up with line information, loaded modules unloaded and the engine cleaned up at the end.
  EXPECT_EQ(g_fake.optionsSet, 0x12u);
  EXPECT_EQ(g_fake.initializeCalls, 1);
  const auto program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  EXPECT_EQ(g_fake.loaded, std::vector<EngineAddress>{program});
  EXPECT_EQ(g_fake.unloaded, std::vector<EngineAddress>{program});
  EXPECT_EQ(g_fake.cleanupCalls, 1);
  EXPECT_FALSE(SymbolEngine::Instance().initialised);
  EXPECT_EQ(SymbolEngine::Instance().loadedModules.Count(), 0u);

  // A character budget one short of two frames keeps one, and the registers.
  g_fake.steps = 0;
  const std::string first = Line(kFunction, 1);
  SharedString budgeted;
  walkStack(&exception.pointers, budgeted,
            static_cast<uint32_t>(first.size() + Line(kElsewhere, 33).size() - 1), 0, 512, nullptr,
            0);
  EXPECT_EQ(std::string(budgeted.Chars()), first + ExpectedRegisters(stack.Top()));
}

TEST_F(StackWalkTest, ThreadWalkSkipsFramesStopsAtItsLimitsAndPrintsNoRegisters) {
  BindFakes();
  for (EngineAddress pc = 1; pc <= 7; ++pc) {
    g_fake.pcs.push_back(kElsewhere + pc);
  }
  SharedString out;
  walkStack(nullptr, out, 0, 5, 512, GetCurrentThread(), 0);
  EXPECT_EQ(std::string(out.Chars()), Line(kElsewhere + 6, 81) + Line(kElsewhere + 7, 97));

  g_fake = FakeState();
  g_fake.unlimited = true;
  walkStack(nullptr, out, 0, 0, 7, GetCurrentThread(), 0);
  EXPECT_EQ(g_fake.steps, 7u);
  // Each step takes longer than the whole budget: the walk ends after the first, even though
  // that frame had nothing to store.
  g_fake = FakeState();
  g_fake.pcs = {0, kElsewhere, kElsewhere};
  g_fake.sleepPerStep = 40;
  SharedString timed;
  walkStack(nullptr, timed, 0, 0, 512, GetCurrentThread(), 1);
  EXPECT_EQ(g_fake.steps, 1u);
  EXPECT_STREQ(timed.Chars(), "");
}

TEST_F(StackWalkTest, UnreadableContextLeavesTheEngineForTheNextWalk) {
  BindFakes();
  SharedString out;
  walkStack(nullptr, out, 0, 0, 512, nullptr, 0);
  EXPECT_STREQ(out.Chars(), "Could not get context for the current thread!");
  EXPECT_TRUE(SymbolEngine::Instance().initialised);
  EXPECT_EQ(g_fake.cleanupCalls, 0);

  walkStack(nullptr, out, 0, 0, 512, GetCurrentThread(), 0);
  EXPECT_EQ(g_fake.initializeCalls, 1);
  EXPECT_EQ(g_fake.cleanupCalls, 1);
  EXPECT_FALSE(SymbolEngine::Instance().initialised);
}

TEST_F(StackWalkTest, ModuleBaseUsesTheEngineFirstAndSkipsFreeMemory) {
  BindFakes();
  EXPECT_EQ(moduleBase(GetCurrentProcess(), kFunction), kModuleBase);
  void* freed = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  VirtualFree(freed, 0, MEM_RELEASE);
  EXPECT_EQ(moduleBase(GetCurrentProcess(), reinterpret_cast<uintptr_t>(freed)), 0u);
  EXPECT_TRUE(g_fake.loaded.empty());

  // A program address twice: loaded each time from its file, noted once.
  const auto address = reinterpret_cast<uintptr_t>(&Hex);
  const auto program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  EXPECT_EQ(moduleBase(GetCurrentProcess(), address), program);
  EXPECT_EQ(moduleBase(GetCurrentProcess(), address), program);
  EXPECT_EQ(g_fake.loaded.size(), 2u);
  EXPECT_EQ(SymbolEngine::Instance().loadedModules.Count(), 1u);
  char name[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  EXPECT_EQ(g_fake.loadedName, name);
}

}  // namespace
}  // namespace quorvel
