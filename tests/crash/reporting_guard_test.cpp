#include "crash/reporting_guard.h"

#include <windows.h>

#include "crash/channel_log.h"
#include "crash/symbol_engine.h"
#include "crash_test_support.h"
#include "gtest/gtest.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

BOOL WINAPI NeverCleansUp(HANDLE) { return TRUE; }

TEST(ReportingGuardTest, UnloadUnbindsTheEngineAndReleasesTheChannelLog) {
  test::ScopedSymbolEngine engine;
  SymbolEngine::Instance().bindings.library =
      LoadLibraryW((test::ProgramFolder() + L"\\version_sample.dll").c_str());
  SymbolEngine::Instance().bindings.symCleanup = NeverCleansUp;
  ASSERT_TRUE(SymbolEngine::Instance().loadedModules.Append(0x1000));
  bool destroyed = false;
  ChannelLog::SetInstance(new test::ObservedLog(&destroyed));
  { ReportingGuard guard; }
  EXPECT_EQ(SymbolEngine::Instance().bindings.library, nullptr);
  EXPECT_EQ(SymbolEngine::Instance().bindings.symCleanup, nullptr);
  EXPECT_EQ(GetModuleHandleW(L"version_sample.dll"), nullptr);
  EXPECT_EQ(SymbolEngine::Instance().loadedModules.Count(), 0u);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(ChannelLog::Instance(), nullptr);
}

}  // namespace
}  // namespace quorvel
