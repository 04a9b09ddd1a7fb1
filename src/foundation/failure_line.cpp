#include "foundation/failure_line.h"

#include <cstring>

namespace quorvel {

SharedString FailurePattern(const char* head, FailureTail tail) {
  static const char* const kTails[] = {
      ", HResult 0x%08x, error %d %ls\n",
      ", HResult: 0x%08x, error: %d %ls\n",
      ", HResult: 0x%08x, error: %d %ls",
      ", HResult: 0x%08x, error %d %ls\n",
  };
  const char* const end = kTails[static_cast<int>(tail)];
  SharedString pattern(head);
  pattern.Append(end, static_cast<uint32_t>(std::strlen(end)));
  return pattern;
}

}  // namespace quorvel
