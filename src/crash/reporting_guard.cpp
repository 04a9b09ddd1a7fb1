#include "crash/reporting_guard.h"

#include "crash/channel_log.h"
#include "crash/symbol_engine.h"

namespace quorvel {

ReportingGuard::~ReportingGuard() {
  unbindSymbolEngine();
  SymbolEngine::Instance().loadedModules.Clear();
  ChannelLog::ReleaseInstance();
}

}  // namespace quorvel
