#include "files/input_file.h"

#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"

namespace quorvel {

HRESULT InputFileFailure(const char* what, const char* noun, const SharedWString& path,
                         DWORD error) {
  SharedWString text = SystemErrorText(error);
  if (text.IsEmpty() || text.Chars()[text.Length() - 1] != L'\n') {
    text.Append(L'\n');
  }
  QUORVEL_WRITE_FAILURE(RunLog::Write, QUORVEL_FAILURE_TAIL_COLONS_UNENDED, FailureResult(error),
                        error, text, "Could not %s the %s <%ls>", what, noun, path.Chars());
  return E_INVALIDARG;
}

HRESULT OpenInputFile(const SharedWString& path, const char* noun, ScopedFileHandle& file,
                      LARGE_INTEGER& length) {
  // No sharing for writers: the file cannot change while it is read, and one still being written
  // by its launcher is refused rather than read half.
  file.Reset(CreateFileW(path.Chars(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) {
    return InputFileFailure("open", noun, path, GetLastError());
  }
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
    RunLog::Write("Refusing the %s <%ls>: it is no file on disk\n", noun, path.Chars());
    return E_INVALIDARG;
  }
  if (!GetFileSizeEx(file.Get(), &length)) {
    return InputFileFailure("read", noun, path, GetLastError());
  }
  return S_OK;
}

}  // namespace quorvel
