#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/dyn_array.h"
#include "foundation/shared_string.h"

namespace quorvel {

// Bits of ReportInfo::flags.
constexpr uint32_t kReportKeepsResponse = 0x1;  // the assertion handler leaves the response alone
constexpr uint32_t kReportBrief = 0x8;          // no header, no trailer, no base-class sections
constexpr uint32_t kReportSilent = 0x40;        // the assertion handler writes nothing

// The subject of one report.
struct ReportInfo {
  uint32_t flags = 0;
  // The exception being reported, or null for a report about a thread's current state.
  EXCEPTION_POINTERS* exceptionPointers = nullptr;
};

// The thread a report is about.
struct ReportThreadInfo {
  uint32_t threadId = 0;
  HANDLE threadHandle = nullptr;  // its context is read and its stack walked through this
  // The module whose version block is added when there are no exception pointers.
  HMODULE errorModule = nullptr;
};

// One self-registering part of a report. Constructing a section lists it in the process-wide
// registry (once, however often it registers); destroying it takes it out again. Sections are
// owned by whoever made them: the registry holds only their addresses.
class ReportSection {
 public:
  ReportSection();
  ReportSection(const ReportSection&) = delete;
  ReportSection& operator=(const ReportSection&) = delete;
  virtual ~ReportSection();

  // The body of the section. timeLimitMs bounds the work where it can take long (0: no limit).
  virtual SharedString content(const ReportInfo& info, const ReportThreadInfo& thread,
                               uint32_t timeLimitMs) = 0;
  // Whether the section is part of this report: by default, every report that is not brief.
  virtual bool applies(const ReportInfo& info, const ReportThreadInfo& thread);
  // The heading printed before the body.
  virtual SharedString title() = 0;

  // Lists section in the registry, creating the registry on first use; a section already
  // listed stays listed once. When the registry cannot be had or grow, it is not listed.
  static void Register(ReportSection* section);
  // Takes section out of the registry; nothing happens when it is not listed.
  static void Unregister(ReportSection* section);
};

// The process-wide list of report sections: null until the first section registers. At exit it
// is freed right after the destruction of the object whose construction created it (the first
// built-in section), so both built-in sections have left it before it goes.
class ReportSectionRegistry {
 public:
  using Sections = DynArray<ReportSection*>;

  // The registry, or null.
  static Sections* Get();
  // Frees the registry (its storage only when it owns it) and sets it back to null.
  static void Release();
  // Puts registry in place of the current one and hands that one back to the caller, who then
  // owns it; lets a caller build reports from sections of its own for a while.
  static Sections* Exchange(Sections* registry);
};

}  // namespace quorvel
