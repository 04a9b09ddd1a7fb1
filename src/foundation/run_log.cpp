#include "foundation/run_log.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/format.h"

namespace quorvel {
namespace {

// Constructed empty while the library loads; DllMain sets it on process attach.
SharedWString g_logPath;

// Owns a runtime stream.
class StdioFile {
 public:
  explicit StdioFile(FILE* file) : file_(file) {}
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;
  ~StdioFile() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }
  FILE* Get() const { return file_; }

 private:
  FILE* file_;
};

}  // namespace

void RunLog::SetPath(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(g_logPath, format, args);
  va_end(args);
}

void RunLog::Write(const char* format, ...) {
  if (g_logPath.IsEmpty()) {
    return;
  }
  SharedString text;
  va_list args;
  va_start(args, format);
  FormatV(text, format, args);
  va_end(args);
  if (text.IsEmpty()) {
    return;
  }
  // Text mode turns each "\n" into CR LF; "a+" appends at the current end on every write.
  StdioFile file(_wfopen(g_logPath.Chars(), L"a+"));
  if (file.Get() == nullptr) {
    return;
  }
  std::fwrite(text.Chars(), 1, text.Length(), file.Get());
}

SharedWString RunLog::Path() {
  return g_logPath;
}

}  // namespace quorvel
