// The stack trace: frame lines, the walk, the registers and raw stack, through a symbol engine of
// fake entry points; the section with its registry switch; unbinding at unload.
#include "crash/stack_walk.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crash/channel_log.h"
#include "crash/reporting_guard.h"
#include "crash/stack_trace_section.h"
#include "crash/symbol_engine.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A module at kModuleBase with one symbol at kFunction, and a source line wherever lineAt says.
constexpr EngineAddress kModuleBase = 0x10000000, kFunction = 0x10001000, kElsewhere = 0x20000000;

struct FakeEngine {
  std::vector<EngineAddress> pcs;  // one frame per StackWalk call
  size_t steps = 0;
  DWORD sleepPerStep = 0;
  bool unlimited = false;
  EngineAddress askModuleBaseFor = 0;
  STACKFRAME firstFrame = {};
  DWORD optionsSet = 0;
  int initializeCalls = 0, cleanupCalls = 0, lineLookups = 0;
  std::vector<EngineAddress> loaded, unloaded;
  std::string loadedName, imageName = "C:\\Game\\bin\\client.dll", symbolName = "Render::Frame",
                          fileName = "C:\\src\\render.cpp";
  EngineAddress lineAt = 0;
} g_fake;

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
DWORD WINAPI FakeGetOptions() { return 0x2; }
DWORD WINAPI FakeSetOptions(DWORD options) { return g_fake.optionsSet = options; }
BOOL WINAPI FakeInitialize(HANDLE, PCSTR path, BOOL invade) {
  return ++g_fake.initializeCalls, path == nullptr && !invade;
}
BOOL WINAPI FakeCleanup(HANDLE) { return ++g_fake.cleanupCalls; }
BOOL WINAPI FakeUnload(HANDLE, EngineAddress base) { return g_fake.unloaded.push_back(base), TRUE; }
EngineAddress WINAPI FakeLoad(HANDLE, HANDLE file, PCSTR image, PCSTR, EngineAddress base, DWORD) {
  g_fake.loaded.push_back(base);
  g_fake.loadedName = file != nullptr && image != nullptr ? image : "";
  return base;
}
BOOL WINAPI FakeModuleInfo(HANDLE, EngineAddress address, PIMAGEHLP_MODULE module) {
  if (address < kModuleBase || address >= kModuleBase + 0x100000 ||
      module->SizeOfStruct != sizeof(IMAGEHLP_MODULE)) {
    return FALSE;
  }
  module->BaseOfImage = kModuleBase;
  // Copied without a terminator when the name fills the field.
  std::memcpy(module->ImageName, g_fake.imageName.data(),
              std::min(g_fake.imageName.size(), sizeof(module->ImageName)));
  return TRUE;
}
BOOL WINAPI FakeSymbol(HANDLE, EngineAddress address, EngineAddress* displacement,
                       PIMAGEHLP_SYMBOL symbol) {
  if (address != kFunction && address != kFunction + 16) {
    return FALSE;
  }
  *displacement = address - kFunction;
  std::memcpy(symbol->Name, g_fake.symbolName.data(),
              std::min<size_t>(g_fake.symbolName.size(), symbol->MaxNameLength));
  return TRUE;
}
BOOL WINAPI FakeLine(HANDLE, EngineAddress address, PDWORD displacement, PIMAGEHLP_LINE line) {
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

// Starts each test with an empty engine and puts the engine's state back at the end.
class StackWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = FakeEngine();
    engine_.bindings = SymbolEngineBindings();
  }
  void TearDown() override {
    engine_.bindings = saved_;
    engine_.initialised = false;
    engine_.loadedModules.Clear();
  }
  void BindFakes() {
    SymbolEngineBindings& b = engine_.bindings;
    b.stackWalk = FakeStackWalk;
    b.symSetOptions = FakeSetOptions;
    b.symGetOptions = FakeGetOptions;
    b.symInitialize = FakeInitialize;
    b.symCleanup = FakeCleanup;
    b.symUnloadModule = FakeUnload;
    b.symLoadModule = FakeLoad;
    b.symGetModuleInfo = FakeModuleInfo;
    b.symGetSymFromAddr = FakeSymbol;
    b.symGetLineFromAddr = FakeLine;
  }
  // The frame line of pc with the four parameters first, first + 1, ...
  static std::string Line(EngineAddress pc, int first) {
    STACKFRAME frame = {};
    frame.AddrPC.Offset = pc;
    for (int i = 0; i < 4; ++i) {
      frame.Params[i] = static_cast<EngineAddress>(first + i);
    }
    char line[kFrameLineCapacity];
    const uint32_t n = formatFrame(line, kFrameLineCapacity, frame);
    EXPECT_EQ(n, std::strlen(line));
    return line;
  }

  SymbolEngine& engine_ = SymbolEngine::Instance();
  const SymbolEngineBindings saved_ = engine_.bindings;
};

TEST_F(StackWalkTest, FrameLinesNameModuleSymbolParamsAndTheSourceLineUpTo99BytesBack) {
  const std::string params = "(params: 00000001, 00000002, 00000003, 00000004)\n";
  const std::string unknown = Hex(kElsewhere) + " <unknown module>: <unknown symbol> " + params;
  EXPECT_EQ(Line(kElsewhere, 1), unknown);  // nothing bound
  BindFakes();
  EXPECT_EQ(Line(kElsewhere, 1), unknown);
  g_fake.lineAt = kFunction;
  EXPECT_EQ(Line(kFunction, 1), Hex(kFunction) + " client.dll: Render::Frame " + params +
                                    "\t\tC:\\src\\render.cpp, Line 42\n");
  g_fake.lineAt = kFunction + 16 - 99;
  EXPECT_EQ(Line(kFunction + 16, 0x1a), Hex(kFunction + 16) +
                                            " client.dll: Render::Frame + 16 bytes (params: "
                                            "0000001a, 0000001b, 0000001c, 0000001d)\n"
                                            "\t\tC:\\src\\render.cpp, Line 42 + 99 bytes\n");
  g_fake.lineAt = kFunction + 16 - 100;
  g_fake.lineLookups = 0;
  g_fake.imageName = "client.dll";
  EXPECT_EQ(Line(kFunction + 16, 1),
            Hex(kFunction + 16) + " client.dll: Render::Frame + 16 bytes " + params);
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
  EXPECT_EQ(std::string(line + n - 1, 17), "\n" + std::string(1, '\0') + std::string(15, '#'));
  const std::string text(line, n);
  // The module name stops at its field, the symbol name at the engine's maximum.
  EXPECT_TRUE(test::Has(text, " " + std::string(255, 'm') + ": " + std::string(260, 's') + " ("));
  char small[44];
  std::memset(small, '#', sizeof(small));
  EXPECT_EQ(formatFrame(small, 40, frame), 39u);
  EXPECT_EQ(std::string(small, 44), text.substr(0, 38) + "\n" + '\0' + "####");
}

// An exception at kFunction with the stack pointer at the start of a page whose words are
// 0xA0000000, 0xA0000001, ..., above a page that cannot be read.
TEST_F(StackWalkTest, ExceptionWalkListsEveryFrameThenRegistersAndTheRawStack) {
  BindFakes();
  uint8_t* memory =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  VirtualProtect(memory, 4096, PAGE_NOACCESS, &old);
  const uintptr_t sp = reinterpret_cast<uintptr_t>(memory + 4096);
  for (uint32_t i = 0; i < 32; ++i) {
    reinterpret_cast<uint32_t*>(sp)[i] = 0xA0000000u + i;
  }
  CONTEXT context = {};
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  std::string expected = "\nCPU register values:\n";
  const char* names[] = {"ip", "sp", "bp", "di", "si", "bx", "dx", "cx", "ax"};
#if defined(_M_IX86) || defined(__i386__)
  DWORD* fields[] = {&context.Eip, &context.Esp, &context.Ebp, &context.Edi, &context.Esi,
                     &context.Ebx, &context.Edx, &context.Ecx, &context.Eax};
#else
  DWORD64* fields[] = {&context.Rip, &context.Rsp, &context.Rbp, &context.Rdi, &context.Rsi,
                       &context.Rbx, &context.Rdx, &context.Rcx, &context.Rax};
#endif
  for (int i = 0; i < 9; ++i) {
    *fields[i] = i == 0 ? kFunction : i == 1 ? sp : 0x1111u * i;
    expected += std::string("  ") + (sizeof(void*) == 8 ? 'r' : 'e') + names[i] + ": " +
                Hex(*fields[i]) + "\n";
  }
  expected += "\nRaw stack";
  for (int i = -8; i < 32; ++i) {
    char word[16];
    std::snprintf(word, sizeof(word), " 0x%08X", 0xA0000000u + static_cast<unsigned>(i));
    expected += (i % 4 == 0 ? std::string("\n") + (i == 0 ? '-' : ' ') + " " +
                                  Hex(sp + static_cast<intptr_t>(i) * 4) + " :"
                            : "") +
                (i < 0 ? " 0x????????" : word);
  }
  expected += "\n";
  g_fake.pcs = {kFunction, 0, kElsewhere};  // a null program counter is left out
  g_fake.lineAt = kFunction;
  g_fake.askModuleBaseFor = reinterpret_cast<uintptr_t>(&Hex);  // this program's
  SharedString out;
  walkStack(&pointers, out, 0, 0, 512, GetCurrentThread(), 0);
  const std::string first = Line(kFunction, 1), third = Line(kElsewhere, 33);
  EXPECT_EQ(std::string(out.Chars()), first + third + expected);
  EXPECT_TRUE(g_fake.firstFrame.AddrPC.Offset == kFunction &&
              g_fake.firstFrame.AddrStack.Offset == sp &&
              g_fake.firstFrame.AddrFrame.Offset == 0x2222u &&
              g_fake.firstFrame.AddrPC.Mode == AddrModeFlat);
  // Set up with line information; loaded modules unloaded and the engine cleaned up at the end.
  EXPECT_EQ(g_fake.optionsSet, 0x12u);
  const auto program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  EXPECT_TRUE(g_fake.loaded == std::vector<EngineAddress>{program} &&
              g_fake.unloaded == g_fake.loaded);
  EXPECT_TRUE(g_fake.initializeCalls == 1 && g_fake.cleanupCalls == 1 && !engine_.initialised);
  EXPECT_EQ(engine_.loadedModules.Count(), 0u);
  // A character budget one short of two frames keeps one, and the registers.
  g_fake.steps = 0;
  SharedString budgeted;
  walkStack(&pointers, budgeted, static_cast<uint32_t>(first.size() + third.size() - 1), 0, 512,
            nullptr, 0);
  EXPECT_EQ(std::string(budgeted.Chars()), first + expected);
  VirtualFree(memory, 0, MEM_RELEASE);
}

TEST_F(StackWalkTest, ThreadWalkSkipsFramesStopsAtItsLimitsAndPrintsNoRegisters) {
  SharedString out("before\n");
  walkStack(nullptr, out, 0, 0, 512, GetCurrentThread(), 0);
  EXPECT_STREQ(out.Chars(), "before\n(Symbol Engine Could Not Be Initialized!)\n");
  BindFakes();
  out.Clear();
  walkStack(nullptr, out, 0, 0, 512, nullptr, 0);
  EXPECT_STREQ(out.Chars(), "Could not get context for the current thread!");
  EXPECT_TRUE(engine_.initialised && g_fake.cleanupCalls == 0) << "left for the next walk";
  for (EngineAddress pc = 1; pc <= 7; ++pc) {
    g_fake.pcs.push_back(kElsewhere + pc);
  }
  out.Clear();
  walkStack(nullptr, out, 0, 5, 512, GetCurrentThread(), 0);
  EXPECT_EQ(std::string(out.Chars()), Line(kElsewhere + 6, 81) + Line(kElsewhere + 7, 97));
  EXPECT_TRUE(g_fake.initializeCalls == 1 && g_fake.cleanupCalls == 1);
  g_fake.steps = 0;
  g_fake.unlimited = true;
  walkStack(nullptr, out, 0, 0, 7, GetCurrentThread(), 0);
  EXPECT_EQ(g_fake.steps, 7u);
  // Each step takes longer than the whole time budget: the walk ends after the first.
  g_fake = FakeEngine();
  g_fake.pcs = {0, kElsewhere, kElsewhere};
  g_fake.sleepPerStep = 40;
  out.Clear();
  walkStack(nullptr, out, 0, 0, 512, GetCurrentThread(), 1);
  EXPECT_EQ(g_fake.steps, 1u);
  EXPECT_STREQ(out.Chars(), "");
}

TEST_F(StackWalkTest, ModuleBaseAsksTheEngineFirstLoadsProgramModulesAndSkipsFreeMemory) {
  BindFakes();
  EXPECT_EQ(moduleBase(GetCurrentProcess(), kFunction), kModuleBase);
  void* freed = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  VirtualFree(freed, 0, MEM_RELEASE);
  EXPECT_EQ(moduleBase(GetCurrentProcess(), reinterpret_cast<uintptr_t>(freed)), 0u);
  EXPECT_TRUE(g_fake.loaded.empty());
  const auto program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  for (int twice = 0; twice < 2; ++twice) {
    EXPECT_EQ(moduleBase(GetCurrentProcess(), reinterpret_cast<uintptr_t>(&Hex)), program);
  }
  EXPECT_EQ(g_fake.loaded.size(), 2u) << "loaded each time from its file";
  EXPECT_EQ(engine_.loadedModules.Count(), 1u) << "noted once";
  char name[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  EXPECT_EQ(g_fake.loadedName, name);
}

// Every registry case lives in this one test: test processes share the Wine prefix's registry.
TEST_F(StackWalkTest, TheSectionsRegistrySwitchTurnsTheWalkOffOnlyForZero) {
  const wchar_t kKey[] = L"SOFTWARE\\Dastry", kValue[] = L"EnableCppStackTrace";
  DWORD savedType = 0, savedSize = 256;
  BYTE saved[256] = {};
  const bool existed = RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND,
                                    &savedType, saved, &savedSize) == ERROR_SUCCESS;
  ReportThreadInfo thread;
  thread.threadId = 0x1234ABCD;
  thread.threadHandle = GetCurrentThread();
  const std::string head =
      std::string("Command Line: ") + GetCommandLineA() + "\nThread ID: 0x1234ABCD\n";
  const std::string walked = head + "(Symbol Engine Could Not Be Initialized!)\n";
  const std::string disabled =
      head + "(C++ Stack Trace is disabled because HKLM\\SOFTWARE\\Dastry\\EnableCppStackTrace=0)";
  const struct {
    DWORD type;
    std::vector<BYTE> bytes;
    bool disables;
  } cases[] = {{REG_DWORD, {0, 0, 0, 0}, true},
               {REG_DWORD, {1, 0, 0, 0}, false},
               {REG_DWORD, {0, 1, 0, 0}, false},
               // A short value fills the low bytes; the rest of the word stays zero.
               {REG_BINARY, {0}, true},
               {REG_BINARY, {1}, false},
               // The type is not looked at: the text "0" is the word 0x30.
               {REG_SZ, {'0', 0}, false},
               // Too long to read into a word: the walk stays on.
               {REG_QWORD, std::vector<BYTE>(8, 0), false}};
  for (const auto& c : cases) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue, c.type, c.bytes.data(),
                              static_cast<DWORD>(c.bytes.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(StackTraceSection().content(ReportInfo(), thread, 0).Chars(),
              c.disables ? disabled : walked)
        << c.type << ", " << c.bytes.size() << " bytes";
  }
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
  EXPECT_EQ(StackTraceSection().content(ReportInfo(), thread, 0).Chars(), walked) << "missing";
  if (existed) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue, savedType, saved, savedSize);
  }
}

BOOL WINAPI NeverCleansUp(HANDLE) { return TRUE; }

// A channel log that tells when it is destroyed.
struct ObservedLog : ChannelLog {
  explicit ObservedLog(bool* destroyed) : ChannelLog(2), destroyed(destroyed) {}
  ~ObservedLog() override { *destroyed = true; }
  bool* destroyed;
};

TEST_F(StackWalkTest, UnloadUnbindsTheEngineAndReleasesTheChannelLog) {
  engine_.bindings.library =
      LoadLibraryW((test::ProgramFolder() + L"\\version_sample.dll").c_str());
  engine_.bindings.symCleanup = NeverCleansUp;
  ASSERT_TRUE(engine_.loadedModules.Append(0x1000));
  bool destroyed = false;
  ChannelLog::SetInstance(new ObservedLog(&destroyed));
  { ReportingGuard guard; }
  EXPECT_TRUE(engine_.bindings.library == nullptr && engine_.bindings.symCleanup == nullptr);
  EXPECT_EQ(GetModuleHandleW(L"version_sample.dll"), nullptr);
  EXPECT_EQ(engine_.loadedModules.Count(), 0u);
  EXPECT_TRUE(destroyed && ChannelLog::Instance() == nullptr);
}

}  // namespace
}  // namespace quorvel
