#include "patch/run_steps.h"

namespace quorvel {

HRESULT RunPostPatchCommand(PatchRun& /*run*/) {
  return S_OK;
}

}  // namespace quorvel
