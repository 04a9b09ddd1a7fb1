#include "patch/module_objects.h"

namespace quorvel {
namespace {

// Defined in one file so that their order is the order written here.
Semaphore g_processSemaphore(1, 1);

// The reporting library's objects take their place here, in this order: the version report
// section, the stack trace section, then the reporting guard.

// The shared empty string blocks are constant data, in place before any of these; the
// whitespace string and the run log's path are constructed in their own files.

ProcessInstance g_processInstance;

}  // namespace

const Semaphore& ModuleSemaphore() { return g_processSemaphore; }

const ProcessInstance& ModuleProcessInstance() { return g_processInstance; }

}  // namespace quorvel
