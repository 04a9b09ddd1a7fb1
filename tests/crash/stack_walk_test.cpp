// The stack trace through a symbol engine of fake entry points: frame lines, the walk, the
// registers and raw stack; the section's registry switch; unbinding at unload.
#include "crash/stack_walk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <tuple>

#include "crash/assertion_report.h"
#include "crash/channel_log.h"
#include "crash/reporting_guard.h"
#include "crash/stack_trace_section.h"
#include "crash/symbol_engine.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A module at kModule with one symbol at kFunction, and a source line wherever lineAt says.
constexpr EngineAddress kModule = 0x10000000, kFunction = 0x10001000, kElsewhere = 0x20000000;

struct FakeEngine {
  std::vector<EngineAddress> pcs;  // one frame per StackWalk call
  std::vector<STACKFRAME> frames;  // as each StackWalk call received it
  std::vector<EngineAddress> loaded, unloaded;
  DWORD steps = 0, sleepPerStep = 0, options = 0;
  int initializeCalls = 0, cleanupCalls = 0, logsDestroyed = 0;
  std::string image = "C:\\Game\\bin\\client.dll", symbol = "Render::Frame", file = "a.cpp";
  EngineAddress lineAt = 0;
} g_fake;

BOOL WINAPI FakeStackWalk(DWORD, HANDLE process, HANDLE, LPSTACKFRAME frame, PVOID,
                          PREAD_PROCESS_MEMORY_ROUTINE, PFUNCTION_TABLE_ACCESS_ROUTINE,
                          PGET_MODULE_BASE_ROUTINE getModuleBase, PTRANSLATE_ADDRESS_ROUTINE) {
  g_fake.frames.push_back(*frame);
  getModuleBase(process, reinterpret_cast<uintptr_t>(&FakeStackWalk));  // this program's module
  if (g_fake.steps >= g_fake.pcs.size()) {
    return FALSE;
  }
  frame->AddrPC.Offset = g_fake.pcs[g_fake.steps];
  std::iota(frame->Params, frame->Params + 4, EngineAddress{g_fake.steps++ * 16 + 1});
  Sleep(g_fake.sleepPerStep);
  return TRUE;
}
DWORD WINAPI FakeGetOptions() { return 0x2; }
DWORD WINAPI FakeSetOptions(DWORD options) { return g_fake.options = options; }
BOOL WINAPI FakeInitialize(HANDLE, PCSTR path, BOOL invade) {
  return ++g_fake.initializeCalls, path == nullptr && !invade;
}
BOOL WINAPI FakeCleanup(HANDLE) { return ++g_fake.cleanupCalls; }
BOOL WINAPI FakeUnload(HANDLE, EngineAddress base) { return g_fake.unloaded.push_back(base), TRUE; }
EngineAddress WINAPI FakeLoad(HANDLE, HANDLE file, PCSTR image, PCSTR, EngineAddress base, DWORD) {
  EXPECT_TRUE(file != nullptr && image != nullptr && test::EndsWith(image, "\\crash_tests.exe"))
      << (image ? image : "(null)");
  return g_fake.loaded.push_back(base), base;
}
BOOL WINAPI FakeModuleInfo(HANDLE, EngineAddress address, PIMAGEHLP_MODULE module) {
  module->BaseOfImage = kModule;
  // Copied without a terminator when the name fills the field.
  std::memcpy(module->ImageName, g_fake.image.data(),
              std::min(g_fake.image.size(), sizeof(module->ImageName)));
  return address >= kModule && address < kElsewhere && module->SizeOfStruct == sizeof(*module);
}
BOOL WINAPI FakeSymbol(HANDLE, EngineAddress at, EngineAddress* displacement, PIMAGEHLP_SYMBOL s) {
  *displacement = at - kFunction;
  std::memcpy(s->Name, g_fake.symbol.data(),
              std::min<size_t>(g_fake.symbol.size(), s->MaxNameLength));
  return at == kFunction || at == kFunction + 16;
}
BOOL WINAPI FakeLine(HANDLE, EngineAddress address, PDWORD displacement, PIMAGEHLP_LINE line) {
  *displacement = 0;
  line->LineNumber = 42;
  line->FileName = const_cast<char*>(g_fake.file.c_str());
  return address == g_fake.lineAt && line->SizeOfStruct == sizeof(*line);
}

// value as 0x and `digits` hexadecimal digits, by default an address's width.
std::string Hex(unsigned long long value, int digits = sizeof(void*) * 2) {
  char text[32];
  return std::string(text, std::snprintf(text, sizeof(text), "0x%0*llX", digits, value));
}

// Each test starts with the fakes bound, and none is left bound after it.
class StackWalkTest : public ::testing::Test {
 protected:
  StackWalkTest() {
    g_fake = FakeEngine();
    engine_.bindings = {nullptr,        FakeStackWalk,  nullptr,     FakeSetOptions,
                        FakeGetOptions, FakeInitialize, FakeCleanup, FakeUnload,
                        FakeLoad,       FakeModuleInfo, FakeSymbol,  FakeLine};
  }
  ~StackWalkTest() override { engine_.bindings = SymbolEngineBindings(); }
  // The frame line of pc with the parameters first, first + 1, ... in a buffer of capacity
  // characters, marked when it is not terminated or when bytes past the capacity changed.
  static std::string Line(EngineAddress pc, int first, uint32_t capacity = kFrameLineCapacity) {
    STACKFRAME frame = {};
    frame.AddrPC.Offset = pc;
    std::iota(frame.Params, frame.Params + 4, static_cast<EngineAddress>(first));
    char line[kFrameLineCapacity + 1];
    std::memset(line, '#', sizeof(line));
    const uint32_t length = formatFrame(line, capacity, frame);
    return std::string(line, length) + (line[length] != '\0' ? "<unterminated>" : "") +
           (line[capacity] != '#' ? "<overrun>" : "");
  }

  SymbolEngine& engine_ = SymbolEngine::Instance();
};

TEST_F(StackWalkTest, FrameLinesNameModuleSymbolParamsAndTheSourceLineUpTo99BytesBack) {
  const std::string params = "(params: 0000000a, 0000000b, 0000000c, 0000000d)\n";
  EXPECT_EQ(Line(kElsewhere, 10),
            Hex(kElsewhere) + " <unknown module>: <unknown symbol> " + params);
  const std::string atPlus16 =
      Hex(kFunction + 16) + " client.dll: Render::Frame + 16 bytes " + params;
  g_fake.lineAt = kFunction + 16 - 99;
  EXPECT_EQ(Line(kFunction + 16, 10), atPlus16 + "\t\ta.cpp, Line 42 + 99 bytes\n");
  g_fake.lineAt = kFunction + 16 - 100;
  EXPECT_EQ(Line(kFunction + 16, 10), atPlus16);
  g_fake.lineAt = kFunction;
  const std::string full =
      Hex(kFunction) + " client.dll: Render::Frame " + params + "\t\ta.cpp, Line 42\n";
  EXPECT_EQ(Line(kFunction, 10), full);
  // The line ends with its room for one more character, which the symbol name then takes.
  const uint32_t cut = static_cast<uint32_t>(Hex(0).size()) + 16;
  EXPECT_EQ(Line(kFunction, 10, cut), full.substr(0, cut - 2) + "\n");
  // Long names cannot overflow the line: the module name stops at its field, the symbol name at
  // the engine's maximum, the line at its buffer.
  g_fake.image = std::string(400, 'm');
  g_fake.symbol = std::string(400, 's');
  g_fake.file = std::string(5000, 'f');
  const std::string text = Line(kFunction, 1);
  EXPECT_TRUE(text.size() == kFrameLineCapacity - 1u && text.back() == '\n') << text;
  EXPECT_TRUE(test::Has(text, " " + std::string(255, 'm') + ": " + std::string(260, 's') + " ("));
}

// An exception at kFunction with the stack pointer at the start of a page whose words are
// 0xA0000000, 0xA0000001, ..., above a page that cannot be read.
TEST_F(StackWalkTest, ExceptionWalkListsEveryFrameThenRegistersAndTheRawStack) {
  // A module's base comes from the engine first; free memory (address 0) has none and loads
  // nothing, as the loaded and unloaded lists below show.
  EXPECT_EQ(moduleBase(GetCurrentProcess(), kFunction), kModule);
  EXPECT_EQ(moduleBase(GetCurrentProcess(), 0), 0u);
  auto* memory = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  VirtualProtect(memory, 4096, PAGE_NOACCESS, &old);
  auto* const stack = reinterpret_cast<uint32_t*>(memory + 4096);
  std::iota(stack, stack + 32, 0xA0000000u);
  const auto sp = reinterpret_cast<uintptr_t>(stack);
  CONTEXT c = {};
  EXCEPTION_POINTERS pointers = {nullptr, &c};
  std::string expected = "\nCPU register values:\n";
  const char names[][3] = {"ip", "sp", "bp", "di", "si", "bx", "dx", "cx", "ax"};
#if defined(_M_IX86) || defined(__i386__)
  DWORD* fields[] = {&c.Eip, &c.Esp, &c.Ebp, &c.Edi, &c.Esi, &c.Ebx, &c.Edx, &c.Ecx, &c.Eax};
#else
  DWORD64* fields[] = {&c.Rip, &c.Rsp, &c.Rbp, &c.Rdi, &c.Rsi, &c.Rbx, &c.Rdx, &c.Rcx, &c.Rax};
#endif
  for (int i = 0; i < 9; ++i) {
    *fields[i] = i == 0 ? kFunction : i == 1 ? sp : 0x1111u * i;
    expected += std::string("  ") + (sizeof(void*) == 8 ? 'r' : 'e') + names[i] + ": " +
                Hex(*fields[i]) + "\n";
  }
  expected += "\nRaw stack";
  for (int i = -8; i < 32; ++i) {
    if (i % 4 == 0) {
      expected += std::string("\n") + (i == 0 ? '-' : ' ') + " " + Hex(sp + i * 4) + " :";
    }
    expected += i < 0 ? " 0x????????" : " " + Hex(stack[i], 8);  // the words below cannot be read
  }
  g_fake.pcs = {kFunction, 0, kElsewhere};  // a null program counter is left out
  SharedString out;
  walkStack(&pointers, out, 0, 0, 512, GetCurrentThread(), 0);
  const std::string first = Line(kFunction, 1), third = Line(kElsewhere, 33);
  EXPECT_EQ(out.Chars(), first + third + expected + "\n");
  const STACKFRAME& start = g_fake.frames.at(0);
  EXPECT_TRUE(start.AddrPC.Offset == kFunction && start.AddrStack.Offset == sp &&
              start.AddrFrame.Offset == 0x2222u && start.AddrPC.Mode == AddrModeFlat);
  // Set up with line information; the program loaded at every step, noted once and unloaded,
  // and the engine cleaned up at the end.
  const EngineAddress program = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  EXPECT_EQ(g_fake.loaded, std::vector<EngineAddress>(4, program));
  EXPECT_EQ(g_fake.unloaded, std::vector<EngineAddress>{program});
  EXPECT_TRUE(g_fake.options == 0x12 && g_fake.initializeCalls == 1 && g_fake.cleanupCalls == 1 &&
              !engine_.initialised && engine_.loadedModules.Count() == 0);
  // A character budget one short of two frames keeps one, and the registers.
  g_fake.steps = 0;
  out.Clear();
  walkStack(&pointers, out, static_cast<uint32_t>(first.size() + third.size() - 1), 0, 512, nullptr,
            0);
  EXPECT_EQ(out.Chars(), first + expected + "\n");
  VirtualFree(memory, 0, MEM_RELEASE);
}

TEST_F(StackWalkTest, ThreadWalkSkipsFramesStopsAtItsLimitsAndPrintsNoRegisters) {
  SharedString out;
  walkStack(nullptr, out, 0, 0, 512, nullptr, 0);
  EXPECT_STREQ(out.Chars(), "Could not get context for the current thread!");
  // Of eight frames, five skipped and a budget of seven leave the sixth and the seventh.
  g_fake.pcs.resize(8);
  std::iota(g_fake.pcs.begin(), g_fake.pcs.end(), kElsewhere + 1);
  out.Clear();
  walkStack(nullptr, out, 0, 5, 7, GetCurrentThread(), 0);
  EXPECT_EQ(out.Chars(), Line(kElsewhere + 6, 81) + Line(kElsewhere + 7, 97));
  // The engine was left initialised for this walk, which ended it.
  EXPECT_TRUE(g_fake.initializeCalls == 1 && g_fake.cleanupCalls == 1);
  // Each step takes longer than the whole time budget: the walk ends after the first.
  g_fake.steps = 0;
  g_fake.sleepPerStep = 40;
  walkStack(nullptr, out, 0, 0, 512, GetCurrentThread(), 1);
  EXPECT_EQ(g_fake.steps, 1u);
}

// Every registry case lives in this one test: the tests share the Wine prefix's registry.
TEST_F(StackWalkTest, TheSectionsRegistrySwitchTurnsTheWalkOffOnlyForZero) {
  engine_.bindings = SymbolEngineBindings();  // a walk that runs says so at once
  const ReportThreadInfo thread = {0x1234ABCD};
  const std::string head =
      std::string("Command Line: ") + GetCommandLineA() + "\nThread ID: 0x1234ABCD\n";
  const std::string on = head + "(Symbol Engine Could Not Be Initialized!)\n";
  const std::string off =
      head + "(C++ Stack Trace is disabled because HKLM\\SOFTWARE\\Dastry\\EnableCppStackTrace=0)";
  // A short value fills the low bytes of a word that starts at zero; the type is not looked at;
  // a value too long for the word leaves the walk on.
  for (const auto& [type, bytes, disables] :
       {std::tuple<DWORD, std::vector<BYTE>, bool>{REG_DWORD, {0, 0, 0, 0}, true},
        {REG_DWORD, {0, 1, 0, 0}, false},
        {REG_BINARY, {0}, true},
        {REG_SZ, {'0', 0}, false},
        {REG_QWORD, std::vector<BYTE>(8, 0), false}}) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Dastry", L"EnableCppStackTrace", type,
                    bytes.data(), static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(StackTraceSection().content(ReportInfo(), thread, 0).Chars(), disables ? off : on)
        << type << ", " << bytes.size() << " bytes";
  }
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Dastry", L"EnableCppStackTrace");
  EXPECT_EQ(StackTraceSection().content(ReportInfo(), thread, 0).Chars(), on) << "no value";
}

// A log that counts its destruction.
struct ObservedLog : ChannelLog {
  using ChannelLog::ChannelLog;
  ~ObservedLog() override { ++g_fake.logsDestroyed; }
};

TEST_F(StackWalkTest, UnloadUnbindsTheEngineAndReleasesTheChannelLog) {
  engine_.bindings.library =
      LoadLibraryW((test::ProgramFolder() + L"\\version_sample.dll").c_str());
  ASSERT_TRUE(engine_.loadedModules.Append(0x1000));
  ChannelLog::SetInstance(new ObservedLog(2));
  { ReportingGuard guard; }
  EXPECT_TRUE(engine_.bindings.library == nullptr && engine_.bindings.symCleanup == nullptr &&
              engine_.loadedModules.Count() == 0);
  EXPECT_EQ(GetModuleHandleW(L"version_sample.dll"), nullptr);
  EXPECT_TRUE(g_fake.logsDestroyed == 1 && ChannelLog::Instance() == nullptr);
}

// The stack trace section as a report has it when stack traces are switched on.
class AppliedStackTrace : public StackTraceSection {
  bool applies(const ReportInfo&, const ReportThreadInfo&) override { return true; }
};

#define QV_NAME(function) QV_NAME_TEXT(function)  // the width's own name of the function
#define QV_NAME_TEXT(function) #function
#define QV_BIND(slot, function)                \
  b.slot = reinterpret_cast<decltype(b.slot)>( \
      reinterpret_cast<void (*)()>(GetProcAddress(b.library, QV_NAME(function))))

// Only the entry points a walk needs: without symbol and line look-ups each frame is one line.
TEST_F(StackWalkTest, WithTheSystemsEngineTheFirstFrameOfAnAssertionsTraceIsTheCaller) {
  SymbolEngineBindings& b = engine_.bindings;
  b = SymbolEngineBindings();
  b.library = LoadLibraryW(L"dbghelp.dll");
  ASSERT_NE(b.library, nullptr);
  QV_BIND(stackWalk, StackWalk);
  QV_BIND(symFunctionTableAccess, SymFunctionTableAccess);
  QV_BIND(symInitialize, SymInitialize);
  QV_BIND(symCleanup, SymCleanup);
  QV_BIND(symLoadModule, SymLoadModule);
  AppliedStackTrace stackTrace;  // the only section whose lines start with an address
  AssertionReport report;
  report.thread.threadHandle = GetCurrentThread();
  void* returnAddress = nullptr;  // where this function returns to
  ASSERT_EQ(RtlCaptureStackBackTrace(1, 1, &returnAddress, nullptr), 1);
  AssertionResponse response;
  reportAssertion(report, response);
  unbindSymbolEngine();
  // This function's frame comes first, then its caller's, at the address this function
  // returns to.
  const std::string text = report.reportText.Chars();
  const size_t second = text.find('\n', text.find("\n0x") + 1) + 1;
  EXPECT_EQ(text.substr(second, Hex(0).size()), Hex(reinterpret_cast<uintptr_t>(returnAddress)))
      << text;
}

}  // namespace
}  // namespace quorvel
