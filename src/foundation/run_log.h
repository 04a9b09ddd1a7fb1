#pragma once

#include "foundation/format_check.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The process-wide text log of a patch run. A write is exactly the caller's formatted text (the
// caller supplies the line end); the file is opened, appended to and closed for every write, so
// it holds every message at any moment. Nothing is written while no path is set.
class RunLog {
 public:
  // Formats the wide pattern and makes it the log path.
  static void SetPath(const wchar_t* format, ...);
  // Formats the narrow pattern (%ls for wide text) and appends it. Characters that the ANSI
  // code page cannot hold are written in UTF-8 rather than lost. Reports nothing.
  static void Write(const char* format, ...) QUORVEL_PRINTF_FORMAT(1, 2);
  static SharedWString Path();
};

}  // namespace quorvel
