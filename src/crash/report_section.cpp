#include "crash/report_section.h"

#include <cstdlib>
#include <new>

namespace quorvel {
namespace {

ReportSectionRegistry::Sections* g_registry = nullptr;

void ReleaseRegistryAtExit() { ReportSectionRegistry::Release(); }

ReportSectionRegistry::Sections* CreateRegistry() {
  auto* registry = new (std::nothrow) ReportSectionRegistry::Sections();
  if (registry != nullptr) {
    // The first registration happens while the first built-in section is being constructed.
    // The runtime calls a function registered at that moment after that section's destructor
    // and before the destructors of everything constructed earlier: exactly the registry's
    // place in unload.
    std::atexit(ReleaseRegistryAtExit);
  }
  return registry;
}

}  // namespace

ReportSection::ReportSection() { Register(this); }

ReportSection::~ReportSection() { Unregister(this); }

bool ReportSection::applies(const ReportInfo& info, const ReportThreadInfo& /*thread*/) {
  return (info.flags & kReportBrief) == 0;
}

void ReportSection::Register(ReportSection* section) {
  if (g_registry != nullptr) {
    g_registry->Remove(section);
  } else {
    g_registry = CreateRegistry();
    if (g_registry == nullptr) {
      return;
    }
  }
  g_registry->Append(section);
}

void ReportSection::Unregister(ReportSection* section) {
  if (g_registry != nullptr) {
    g_registry->Remove(section);
  }
}

ReportSectionRegistry::Sections* ReportSectionRegistry::Get() { return g_registry; }

void ReportSectionRegistry::Release() {
  delete g_registry;
  g_registry = nullptr;
}

ReportSectionRegistry::Sections* ReportSectionRegistry::Exchange(Sections* registry) {
  Sections* previous = g_registry;
  g_registry = registry;
  return previous;
}

}  // namespace quorvel
