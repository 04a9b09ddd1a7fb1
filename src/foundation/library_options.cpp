#include "foundation/library_options.h"

#include <float.h>

namespace quorvel {

const uint32_t LibraryOptions = 0xFFFFFFFFu;

namespace {

// The exception-mask bits and the denormal-operand mask: the part of the control word that the
// switch may touch. The runtime accepts this group on both widths.
constexpr unsigned int kExceptionMaskGroup = _MCW_EM;
static_assert(kExceptionMaskGroup == 0x8001Fu, "the exception masks and the denormal bit");

}  // namespace

void SetFloatingPointTraps(bool enable, uint32_t mask) {
  const unsigned int word = _control87(0, 0);
  // An exception flag still pending when its mask is lifted would trap at the next floating-point
  // instruction, blaming code that did nothing wrong.
  _clearfp();
  if (enable) {
    _control87(word & ~mask, kExceptionMaskGroup);
  } else {
    _control87(word | mask, kExceptionMaskGroup);
  }
}

}  // namespace quorvel
