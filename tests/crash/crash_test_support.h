#pragma once

#include <windows.h>

#include <string>

#include "crash/channel_log.h"
#include "crash/report_section.h"
#include "crash/symbol_engine.h"

namespace quorvel::test {

// Gives the test a registry of its own, empty at the start, and puts the process's registry
// back at the end.
class ScopedReportRegistry {
 public:
  ScopedReportRegistry()
      : previous_(ReportSectionRegistry::Exchange(new ReportSectionRegistry::Sections())) {}
  ScopedReportRegistry(const ScopedReportRegistry&) = delete;
  ScopedReportRegistry& operator=(const ScopedReportRegistry&) = delete;
  ~ScopedReportRegistry() { delete ReportSectionRegistry::Exchange(previous_); }

 private:
  ReportSectionRegistry::Sections* previous_;
};

// A section with a fixed title and body that counts how often its body was asked for.
class FixedSection : public ReportSection {
 public:
  FixedSection(const char* title = "", const char* body = "") : title_(title), body_(body) {}
  SharedString content(const ReportInfo&, const ReportThreadInfo&, uint32_t) override {
    ++contentCalls;
    return SharedString(body_.c_str());
  }
  bool applies(const ReportInfo& info, const ReportThreadInfo& thread) override {
    return applying && ReportSection::applies(info, thread);
  }
  SharedString title() override { return SharedString(title_.c_str()); }

  bool applying = true;
  int contentCalls = 0;

 private:
  std::string title_;
  std::string body_;
};

// Starts the test with an empty symbol engine and restores the engine's state at the end.
class ScopedSymbolEngine {
 public:
  ScopedSymbolEngine() : saved_(SymbolEngine::Instance().bindings) {
    SymbolEngine& engine = SymbolEngine::Instance();
    engine.bindings = SymbolEngineBindings();
    engine.initialised = false;
    engine.loadedModules.Clear();
  }
  ScopedSymbolEngine(const ScopedSymbolEngine&) = delete;
  ScopedSymbolEngine& operator=(const ScopedSymbolEngine&) = delete;
  ~ScopedSymbolEngine() {
    SymbolEngine& engine = SymbolEngine::Instance();
    engine.bindings = saved_;
    engine.initialised = false;
    engine.loadedModules.Clear();
  }
  SymbolEngineBindings& Bindings() { return SymbolEngine::Instance().bindings; }

 private:
  SymbolEngineBindings saved_;
};

// A channel log that tells when it is destroyed.
class ObservedLog : public ChannelLog {
 public:
  explicit ObservedLog(bool* destroyed) : ChannelLog(2), destroyed_(destroyed) {}
  ~ObservedLog() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

// Sets a context's instruction pointer, under the name of the architecture the tests are built for.
inline void SetInstructionPointer(CONTEXT& context, uintptr_t address) {
#if defined(_M_IX86) || defined(__i386__)
  context.Eip = static_cast<DWORD>(address);
#else
  context.Rip = address;
#endif
}

}  // namespace quorvel::test
