#include "files/same_contents.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "foundation/path_strings.h"
#include "foundation/scoped_handle.h"

namespace quorvel {
namespace {

ScopedFileHandle OpenToRead(const SharedWString& path) {
  return ScopedFileHandle(CreateFileW(LongPathForm(path).Chars(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

}  // namespace

bool SameContents(const SharedWString& a, const SharedWString& b) {
  const ScopedFileHandle first = OpenToRead(a);
  const ScopedFileHandle second = OpenToRead(b);
  LARGE_INTEGER firstSize = {}, secondSize = {};
  if (!first.IsValid() || !second.IsValid() || !GetFileSizeEx(first.Get(), &firstSize) ||
      !GetFileSizeEx(second.Get(), &secondSize) || firstSize.QuadPart != secondSize.QuadPart) {
    return false;
  }
  constexpr DWORD kChunk = 1 << 16;
  const std::unique_ptr<char[]> buffers(new (std::nothrow) char[2 * kChunk]);
  if (!buffers) {
    return false;
  }
  for (LONGLONG left = firstSize.QuadPart; left > 0;) {
    const DWORD want = left < kChunk ? static_cast<DWORD>(left) : kChunk;
    DWORD gotFirst = 0, gotSecond = 0;
    if (!ReadFile(first.Get(), buffers.get(), want, &gotFirst, nullptr) ||
        !ReadFile(second.Get(), buffers.get() + kChunk, want, &gotSecond, nullptr) ||
        gotFirst != want || gotSecond != want ||
        std::memcmp(buffers.get(), buffers.get() + kChunk, want) != 0) {
      return false;
    }
    left -= want;
  }
  return true;
}

}  // namespace quorvel
