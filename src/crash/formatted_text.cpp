#include "crash/formatted_text.h"

#include <cstdio>

#include "foundation/format.h"

namespace quorvel {

const char* FormatInline(char* buffer, uint32_t capacity, SharedString& heap, const char* format,
                         va_list args) {
  const uint32_t limit = capacity - 1;
  va_list inlineArgs;
  va_copy(inlineArgs, args);
  // -1 when the text does not fit (or the narrow runtime cannot print a wide argument); the
  // buffer is then not terminated.
  const int written = _vsnprintf(buffer, limit, format, inlineArgs);
  va_end(inlineArgs);
  if (written >= 0 && static_cast<uint32_t>(written) <= limit) {
    buffer[written] = '\0';
    return buffer;
  }
  buffer[0] = '\0';
  va_list heapArgs;
  va_copy(heapArgs, args);
  FormatNarrow(heap, format, heapArgs, CP_UTF8);
  va_end(heapArgs);
  return heap.Chars();
}

}  // namespace quorvel
