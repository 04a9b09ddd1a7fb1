#include "patch/run_steps.h"

namespace quorvel {

HRESULT WaitForParentProcess(PatchRun& /*run*/) {
  return S_OK;
}

}  // namespace quorvel
