#pragma once

#include <windows.h>

namespace quorvel::test {

// Counts floating-point division-by-zero exceptions raised on one thread, through a vectored
// exception handler installed for its lifetime. Each observed exception is masked in the
// faulting context, so the division runs again and yields infinity. One observer at a time.
class DivideByZeroObserver {
 public:
  explicit DivideByZeroObserver(DWORD threadId);
  DivideByZeroObserver(const DivideByZeroObserver&) = delete;
  DivideByZeroObserver& operator=(const DivideByZeroObserver&) = delete;
  ~DivideByZeroObserver();
  int Count() const;

 private:
  void* handler_;
};

// 1.0 / 0.0 in double, evaluated at run time.
double DivideByZero();
// 1.0 / 0.0 in long double (on x86 the x87 unit), evaluated at run time.
long double DivideByZeroLong();

}  // namespace quorvel::test
