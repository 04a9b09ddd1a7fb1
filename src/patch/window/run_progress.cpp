#include "patch/window/run_progress.h"

namespace quorvel {
namespace {

class IgnoredProgress final : public RunProgress {};

// Constant-initialised and trivially destroyed: it takes no part in the order in which the
// library's static objects come and go.
IgnoredProgress g_ignoredProgress;

}  // namespace

RunProgress& NoRunProgress() { return g_ignoredProgress; }

}  // namespace quorvel
