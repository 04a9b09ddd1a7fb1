#pragma once

// Marks a function of the reporting code's own call chain: reportAssertion, getReportText,
// buildReport, the stack trace section's content and walkStack. A trace taken without an
// exception skips exactly these five frames, so none may be merged into its caller; whether an
// optimiser would do so differs between compilers, widths and build types.
#if defined(_MSC_VER)
#define QUORVEL_OWN_FRAME __declspec(noinline)
#else
#define QUORVEL_OWN_FRAME __attribute__((noinline))
#endif
