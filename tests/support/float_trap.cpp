#include "support/float_trap.h"

#include <atomic>

namespace quorvel::test {
namespace {

std::atomic<DWORD> g_watchedThread{0};
std::atomic<int> g_count{0};

// Masks division by zero and clears the exception flags in a saved floating-point state.
void MaskDivideByZero(CONTEXT* context) {
#if defined(_M_X64) || defined(__x86_64__)
  constexpr DWORD kSseZeroDivideMask = 0x200;
  constexpr DWORD kSseFlags = 0x3F;
  context->MxCsr = (context->MxCsr | kSseZeroDivideMask) & ~kSseFlags;
  context->FltSave.MxCsr = context->MxCsr;
  context->FltSave.ControlWord |= 0x4;
  context->FltSave.StatusWord &= static_cast<WORD>(~0x80BF);
#elif defined(_M_IX86) || defined(__i386__)
  context->FloatSave.ControlWord |= 0x4;
  context->FloatSave.StatusWord &= ~0x80BFu;
#endif
}

LONG CALLBACK Observe(EXCEPTION_POINTERS* info) {
  if (GetCurrentThreadId() != g_watchedThread.load() ||
      info->ExceptionRecord->ExceptionCode != EXCEPTION_FLT_DIVIDE_BY_ZERO) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ++g_count;
  MaskDivideByZero(info->ContextRecord);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

DivideByZeroObserver::DivideByZeroObserver(DWORD threadId) {
  g_count.store(0);
  g_watchedThread.store(threadId);
  handler_ = AddVectoredExceptionHandler(1, &Observe);
}

DivideByZeroObserver::~DivideByZeroObserver() {
  RemoveVectoredExceptionHandler(handler_);
  g_watchedThread.store(0);
}

int DivideByZeroObserver::Count() const { return g_count.load(); }

double DivideByZero() {
  volatile double one = 1.0;
  volatile double zero = 0.0;
  return one / zero;
}

long double DivideByZeroLong() {
  volatile long double one = 1.0L;
  volatile long double zero = 0.0L;
  return one / zero;
}

}  // namespace quorvel::test
