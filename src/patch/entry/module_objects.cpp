#include "patch/entry/module_objects.h"

#include "crash/built_in_sections.h"
#include "crash/reporting_guard.h"

namespace quorvel {
namespace {

// Defined in one file so that their order is the order written here.
Semaphore g_processSemaphore(1, 1);

// The reporting library's built-in sections register themselves, the version report first; the
// first registration creates the report registry, which is freed after the version report section
// is destroyed. The guard goes before both sections at unload, unbinding the symbol engine.
BuiltInReportSections g_builtInReportSections;
ReportingGuard g_reportingGuard;

// The shared empty string blocks are constant data, in place before any of these; the
// whitespace string and the run log's path are constructed in their own files.

ProcessInstance g_processInstance;

}  // namespace

const Semaphore& ModuleSemaphore() { return g_processSemaphore; }

const ProcessInstance& ModuleProcessInstance() { return g_processInstance; }

}  // namespace quorvel
