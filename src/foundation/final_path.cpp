#include "foundation/final_path.h"

#include <winternl.h>

#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "foundation/path_strings.h"

namespace quorvel {
namespace {

constexpr DWORD kFinalPathChars = 32768;  // one system path
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

// The handle's name as the object manager gives it, in the \\?\ form when it is a DOS path
// (\??\C:\...); false for a name in device form. Wine's GetFinalPathNameByHandleW reads this
// name into a buffer of about 260 characters and fails past it; the name itself has no limit.
bool DosObjectName(HANDLE handle, SharedWString& name) {
  SharedWString object;
  if (!VolumeNameOf(handle, object) || object.Length() < 4 ||
      wcsncmp(object.Chars(), L"\\??\\", 4) != 0) {
    return false;
  }
  name = L"\\\\?\\";
  name.Append(object.Chars() + 4, object.Length() - 4);
  return true;
}

}  // namespace

bool FinalPathOfHandle(HANDLE handle, SharedWString& final, DWORD& error) {
  // Most paths fit the small buffer; the log and the checks ask for one on every write and name.
  wchar_t small[MAX_PATH + 1];
  std::unique_ptr<wchar_t[]> large;
  wchar_t* buffer = small;
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  DWORD length = GetFinalPathNameByHandleW(handle, buffer, MAX_PATH + 1, flags);
  if (length > MAX_PATH && length < kFinalPathChars) {
    large.reset(new (std::nothrow) wchar_t[kFinalPathChars]);
    if (!large) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
    buffer = large.get();
    length = GetFinalPathNameByHandleW(handle, buffer, kFinalPathChars, flags);
  }
  SharedWString text;
  if (length == 0 || length >= kFinalPathChars || (buffer == small && length > MAX_PATH)) {
    error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    if (!DosObjectName(handle, text)) {
      return false;
    }
  } else {
    text = buffer;
  }
  if (wcsncmp(text.Chars(), L"\\\\?\\UNC\\", 8) == 0) {
    final = L"\\\\";
    final.Append(text.Mid(8, text.Length()));
  } else if (wcsncmp(text.Chars(), L"\\\\?\\", 4) == 0) {
    final = text.Mid(4, text.Length());
  } else {
    final = text;
  }
  NormalizePath(final);
  return true;
}

bool VolumeNameOf(HANDLE handle, SharedWString& name) {
  // The object's name costs a third less than FileNameInfo under Wine, which first fetches the
  // handle's descriptor from its server; the volume at its start also tells a link to a file on
  // another volume with the same path there. Most names fit the first buffer.
  std::vector<unsigned char> buffer(sizeof(UNICODE_STRING) + MAX_PATH * sizeof(wchar_t));
  for (int attempt = 0; attempt < 2; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = NtQueryObject(handle, ObjectNameInformation, buffer.data(),
                                          static_cast<ULONG>(buffer.size()), &needed);
    if (NT_SUCCESS(status)) {
      const UNICODE_STRING& object = *reinterpret_cast<const UNICODE_STRING*>(buffer.data());
      name.Clear();
      name.Append(object.Buffer, static_cast<uint32_t>(object.Length / sizeof(wchar_t)));
      return !name.IsEmpty();
    }
    if ((status != kStatusBufferOverflow && status != kStatusInfoLengthMismatch &&
         status != kStatusBufferTooSmall) ||
        needed <= buffer.size()) {
      return false;
    }
    buffer.resize(needed);
  }
  return false;
}

}  // namespace quorvel
