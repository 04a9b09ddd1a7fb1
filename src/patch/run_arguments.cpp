#include "patch/run_steps.h"

namespace quorvel {

HRESULT ParseRunArguments(PatchRun& /*run*/, const wchar_t* /*commandLine*/) {
  return S_OK;
}

}  // namespace quorvel
