#pragma once

#include "foundation/process_instance.h"
#include "foundation/semaphore.h"

namespace quorvel {

// The module's process-wide objects, constructed while the library loads and destroyed in the
// reverse order when it unloads. Referring to either keeps them all in the linked module.
const Semaphore& ModuleSemaphore();
const ProcessInstance& ModuleProcessInstance();

}  // namespace quorvel
