#include "patch/run/run_result.h"

#include <cstdlib>

#include "foundation/format.h"

namespace quorvel {

void PublishResult(HRESULT result) {
  SharedWString variable;
  Format(variable, L"QUORVEL_RESULT=0x%08x", static_cast<unsigned>(result));
  _wputenv(variable.Chars());
  // A launcher restarted by a failed run passes the failed name on to the next run; an empty
  // value removes the variable.
  _wputenv(L"QUORVEL_FILENAME=");
}

void PublishFileName(const SharedWString& name) {
  SharedWString variable;
  Format(variable, L"QUORVEL_FILENAME=%ls", name.Chars());
  _wputenv(variable.Chars());
}

}  // namespace quorvel
