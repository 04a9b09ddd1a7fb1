#include "crash/stack_walk.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "crash/cpu_context.h"
#include "crash/register_dump.h"
#include "crash/symbol_engine.h"
#include "foundation/dyn_array.h"
#include "foundation/format_check.h"

namespace quorvel {
namespace {

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(STACKFRAME) == 164 && sizeof(IMAGEHLP_MODULE) == 572 &&
                  sizeof(IMAGEHLP_SYMBOL) == 24 && sizeof(IMAGEHLP_LINE) == 20,
              "the engine's 32-bit records");
constexpr DWORD kMachineType = IMAGE_FILE_MACHINE_I386;
constexpr const char* kParamsFormat = "(params: %08x, %08x, %08x, %08x)";
using ParamWord = unsigned;
#elif defined(_M_X64) || defined(__x86_64__)
constexpr DWORD kMachineType = IMAGE_FILE_MACHINE_AMD64;
constexpr const char* kParamsFormat = "(params: %08llx, %08llx, %08llx, %08llx)";
using ParamWord = unsigned long long;
#endif

constexpr DWORD kLoadLineInformation = SYMOPT_LOAD_LINES;
constexpr uint32_t kMaxSymbolName = 260;
constexpr EngineAddress kLineSearchDistance = 100;

// Formats pieces one after another into a fixed buffer, cutting what does not fit while
// keeping room for the line's final "\n" and its terminator.
class LineWriter {
 public:
  LineWriter(char* buffer, uint32_t capacity)
      : buffer_(buffer), limit_(capacity >= 2 ? capacity - 2 : 0) {
    if (capacity != 0) {
      buffer_[0] = '\0';
    }
  }

  void Write(const char* format, ...) QUORVEL_PRINTF_FORMAT(2, 3) {
    const uint32_t room = limit_ - length_;
    if (room == 0) {
      return;
    }
    va_list args;
    va_start(args, format);
    // Returns -1 when the text does not fit, and then leaves the buffer unterminated.
    const int written = _vsnprintf(buffer_ + length_, room, format, args);
    va_end(args);
    length_ = (written < 0 || static_cast<uint32_t>(written) > room) ? limit_ : length_ + written;
    buffer_[length_] = '\0';
  }

  // Ends the line with "\n"; returns its length.
  uint32_t Finish() {
    if (limit_ == 0) {
      return 0;
    }
    buffer_[length_++] = '\n';
    buffer_[length_] = '\0';
    return length_;
  }

 private:
  char* buffer_;
  uint32_t limit_;
  uint32_t length_ = 0;
};

// The image name from the character after its last backslash.
const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash != nullptr ? slash + 1 : path;
}

// The source line of pc, searching back up to 99 bytes when pc itself has none.
bool FindLine(EngineAddress pc, IMAGEHLP_LINE& line, DWORD& displacement) {
  const HANDLE process = SymbolEngine::Instance().process;
  std::memset(&line, 0, sizeof(line));
  line.SizeOfStruct = sizeof(line);
  if (EngineSymGetLineFromAddr(process, pc, &displacement, &line)) {
    return true;
  }
  for (EngineAddress back = 1; back < kLineSearchDistance; ++back) {
    DWORD ignored = 0;
    if (EngineSymGetLineFromAddr(process, pc - back, &ignored, &line)) {
      displacement = static_cast<DWORD>(back);
      return true;
    }
  }
  return false;
}

void WriteParams(LineWriter& writer, const STACKFRAME& frame) {
  writer.Write(kParamsFormat, static_cast<ParamWord>(frame.Params[0]),
               static_cast<ParamWord>(frame.Params[1]), static_cast<ParamWord>(frame.Params[2]),
               static_cast<ParamWord>(frame.Params[3]));
}

// Ends the engine's part in one walk: modules loaded for it are unloaded and the engine is
// cleaned up.
void EndWalk() {
  SymbolEngine& engine = SymbolEngine::Instance();
  for (const ModuleBaseList::Node* node = engine.loadedModules.Head(); node != nullptr;
       node = node->next) {
    EngineSymUnloadModule(engine.process, node->base);
  }
  engine.loadedModules.Clear();
  if (engine.initialised) {
    EngineSymCleanup(engine.process);
    engine.initialised = false;
  }
}

void SetFlat(ADDRESS& address, uintptr_t offset) {
  address.Offset = offset;
  address.Mode = AddrModeFlat;
}

}  // namespace

uint32_t formatFrame(char* line, uint32_t capacity, const STACKFRAME& frame) {
  const EngineAddress pc = frame.AddrPC.Offset;
  const HANDLE process = SymbolEngine::Instance().process;
  LineWriter writer(line, capacity);
  writer.Write("0x%p ", reinterpret_cast<void*>(static_cast<uintptr_t>(pc)));

  IMAGEHLP_MODULE module = {};
  module.SizeOfStruct = sizeof(module);
  if (EngineSymGetModuleInfo(process, pc, &module)) {
    // The engine's text is not trusted to be terminated.
    module.ImageName[sizeof(module.ImageName) - 1] = '\0';
    writer.Write("%s: ", BaseName(module.ImageName));
  } else {
    writer.Write("<unknown module>: ");
  }

  union {
    IMAGEHLP_SYMBOL record;
    char bytes[sizeof(IMAGEHLP_SYMBOL) + kMaxSymbolName + 1];
  } symbol;
  std::memset(&symbol, 0, sizeof(symbol));
  symbol.record.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL);
  symbol.record.Address = pc;
  symbol.record.MaxNameLength = kMaxSymbolName;
  EngineAddress displacement = 0;
  if (EngineSymGetSymFromAddr(process, pc, &displacement, &symbol.record)) {
    symbol.bytes[sizeof(symbol.bytes) - 1] = '\0';
    if (displacement == 0) {
      writer.Write("%s ", symbol.record.Name);
    } else {
      writer.Write("%s + %d bytes ", symbol.record.Name, static_cast<int>(displacement));
    }
    WriteParams(writer, frame);
    IMAGEHLP_LINE source;
    DWORD lineDisplacement = 0;
    if (FindLine(pc, source, lineDisplacement)) {
      writer.Write("\n\t\t%s, Line %d", source.FileName != nullptr ? source.FileName : "",
                   static_cast<int>(source.LineNumber));
      if (lineDisplacement != 0) {
        writer.Write(" + %d bytes", static_cast<int>(lineDisplacement));
      }
    }
  } else {
    writer.Write("<unknown symbol> ");
    WriteParams(writer, frame);
  }
  return writer.Finish();
}

void walkStack(EXCEPTION_POINTERS* exceptionPointers, SharedString& out, uint32_t maxChars,
               uint32_t skipFrames, uint32_t maxFrames, HANDLE threadHandle, uint32_t timeLimitMs) {
  SymbolEngine& engine = SymbolEngine::Instance();
  const HANDLE process = GetCurrentProcess();
  const DWORD start = GetTickCount();

  if (!engine.initialised) {
    EngineSymSetOptions(EngineSymGetOptions() | kLoadLineInformation);
    engine.process = process;
    if (!EngineSymInitialize(process, nullptr, FALSE)) {
      out.Append("(Symbol Engine Could Not Be Initialized!)\n");
      return;
    }
    engine.initialised = true;
  }

  CONTEXT context;
  const bool fromException =
      exceptionPointers != nullptr && exceptionPointers->ContextRecord != nullptr;
  if (fromException) {
    context = *exceptionPointers->ContextRecord;
  } else if (GetThreadId(threadHandle) == GetCurrentThreadId()) {
    // A running thread's context read by GetThreadContext is already stale when it arrives.
    // This frame's own context stays valid for the whole walk, which starts from here.
    RtlCaptureContext(&context);
  } else {
    std::memset(&context, 0, sizeof(context));
    context.ContextFlags = CONTEXT_FULL;
    // The engine stays initialised; the next walk finds it so and ends it.
    if (!GetThreadContext(threadHandle, &context)) {
      out.Append("Could not get context for the current thread!");
      return;
    }
  }

  STACKFRAME frame;
  std::memset(&frame, 0, sizeof(frame));
  SetFlat(frame.AddrPC, InstructionPointer(context));
  SetFlat(frame.AddrFrame, FramePointer(context));
  SetFlat(frame.AddrStack, StackPointer(context));

  SharedString registers;
  if (fromException) {
    AppendRegisterDump(registers, context);
  }

  DynArray<STACKFRAME> frames;
  for (uint32_t n = 0; n < maxFrames; ++n) {
    if (!EngineStackWalk(kMachineType, process, threadHandle, &frame, &context, nullptr,
                         EngineSymFunctionTableAccess, moduleBase, nullptr)) {
      break;
    }
    if (n < skipFrames) {
      continue;
    }
    if (frame.AddrPC.Offset != 0) {
      frames.Append(frame);  // a frame that cannot be stored is left out
    }
    if (timeLimitMs != 0 && GetTickCount() - start >= timeLimitMs) {
      break;
    }
  }

  uint32_t remaining = maxChars;
  char line[kFrameLineCapacity];
  for (uint32_t i = 0; i < frames.Count(); ++i) {
    const uint32_t length = formatFrame(line, kFrameLineCapacity, frames[i]);
    if (maxChars != 0 && remaining < length) {
      break;
    }
    if (!out.ReserveExtra(length)) {
      break;
    }
    remaining -= length;
    out.Append(line, length);
  }
  out.Append(registers);
  EndWalk();
}

}  // namespace quorvel
