#include "patch/run_steps.h"

namespace quorvel {

HRESULT PatchFiles(PatchRun& /*run*/) {
  return S_OK;
}

}  // namespace quorvel
