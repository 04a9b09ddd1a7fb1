#pragma once

#include <cstdarg>
#include <cstdint>

#include "foundation/format_check.h"
#include "foundation/shared_string.h"

namespace quorvel {

// Formats narrow text into buffer (capacity characters, terminator included) when it fits in
// capacity - 1 characters, else into heap with the system's narrow formatter (UTF-8 for wide
// arguments). Returns the text, which lives in buffer or in heap.
const char* FormatInline(char* buffer, uint32_t capacity, SharedString& heap, const char* format,
                         va_list args) QUORVEL_PRINTF_FORMAT(4, 0);

// A formatted narrow message held in the object itself when it has at most N - 1 characters;
// only a longer one takes heap memory, released with the object.
template <uint32_t N>
class FormattedText {
 public:
  explicit FormattedText(const char* format, ...) QUORVEL_PRINTF_FORMAT(2, 3) {
    va_list args;
    va_start(args, format);
    text_ = FormatInline(buffer_, N, heap_, format, args);
    va_end(args);
  }
  FormattedText(const char* format, va_list args) QUORVEL_PRINTF_FORMAT(2, 0) {
    text_ = FormatInline(buffer_, N, heap_, format, args);
  }
  FormattedText(const FormattedText&) = delete;
  FormattedText& operator=(const FormattedText&) = delete;

  const char* Text() const { return text_; }

 private:
  const char* text_ = nullptr;
  SharedString heap_;
  char buffer_[N];
};

}  // namespace quorvel
