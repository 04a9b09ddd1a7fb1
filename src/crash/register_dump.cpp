#include "crash/register_dump.h"

#include "crash/cpu_context.h"
#include "foundation/format.h"

namespace quorvel {
namespace {

constexpr int kFirstWord = -8;
constexpr int kLastWord = 31;
constexpr int kWordsPerRow = 4;

bool IsReadable(const MEMORY_BASIC_INFORMATION& region) {
  if (region.State != MEM_COMMIT) {
    return false;
  }
  // A guard page must not be touched: reading it would take away the guard that lets the
  // thread's stack grow.
  return (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 && region.Protect != 0;
}

#if defined(_M_IX86) || defined(__i386__)

void AppendRegisters(SharedString& text, const CONTEXT& c) {
  AppendFormat(
      text,
      "\nCPU register values:\n  eip: 0x%08X\n  esp: 0x%08X\n  ebp: 0x%08X\n"
      "  edi: 0x%08X\n  esi: 0x%08X\n  ebx: 0x%08X\n  edx: 0x%08X\n  ecx: 0x%08X\n"
      "  eax: 0x%08X\n\nRaw stack",
      static_cast<unsigned>(c.Eip), static_cast<unsigned>(c.Esp), static_cast<unsigned>(c.Ebp),
      static_cast<unsigned>(c.Edi), static_cast<unsigned>(c.Esi), static_cast<unsigned>(c.Ebx),
      static_cast<unsigned>(c.Edx), static_cast<unsigned>(c.Ecx), static_cast<unsigned>(c.Eax));
}

void AppendRowStart(SharedString& text, char marker, uintptr_t address) {
  AppendFormat(text, "\n%c 0x%08X :", marker, static_cast<unsigned int>(address));
}

#elif defined(_M_X64) || defined(__x86_64__)

void AppendRegisters(SharedString& text, const CONTEXT& c) {
  AppendFormat(text,
               "\nCPU register values:\n  rip: 0x%016llX\n  rsp: 0x%016llX\n  rbp: 0x%016llX\n"
               "  rdi: 0x%016llX\n  rsi: 0x%016llX\n  rbx: 0x%016llX\n  rdx: 0x%016llX\n"
               "  rcx: 0x%016llX\n  rax: 0x%016llX\n\nRaw stack",
               c.Rip, c.Rsp, c.Rbp, c.Rdi, c.Rsi, c.Rbx, c.Rdx, c.Rcx, c.Rax);
}

void AppendRowStart(SharedString& text, char marker, uintptr_t address) {
  AppendFormat(text, "\n%c 0x%016llX :", marker, static_cast<unsigned long long>(address));
}

#endif

// Reads the 32-bit word at address through calls that fail instead of faulting; false when the
// memory is not readable.
bool ReadStackWord(uintptr_t address, uint32_t& word) {
  MEMORY_BASIC_INFORMATION region = {};
  const void* at = reinterpret_cast<const void*>(address);
  if (VirtualQuery(at, &region, sizeof(region)) == 0 || !IsReadable(region)) {
    return false;
  }
  // The region may change between the query and the read; the read fails rather than faults.
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), at, &word, sizeof(word), &read) &&
         read == sizeof(word);
}

}  // namespace

void AppendRegisterDump(SharedString& text, const CONTEXT& context) {
  AppendRegisters(text, context);
  const uintptr_t stackPointer = StackPointer(context);
  for (int i = kFirstWord; i <= kLastWord; ++i) {
    const uintptr_t address = stackPointer + static_cast<intptr_t>(i) * 4;
    if (i % kWordsPerRow == 0) {
      AppendRowStart(text, i == 0 ? '-' : ' ', address);
    }
    uint32_t word = 0;
    if (ReadStackWord(address, word)) {
      AppendFormat(text, " 0x%08X", word);
    } else {
      text.Append(" 0x????????", 11);
    }
  }
  text.Append('\n');
}

}  // namespace quorvel
