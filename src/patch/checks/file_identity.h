#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

// A file as the journal knows it: present or not, and if so its size and last write time (a
// folder: present, both all ones).
struct FileIdentity {
  bool present = false;
  uint64_t size = 0;
  uint64_t written = 0;
  bool operator==(const FileIdentity& other) const {
    return present == other.present && size == other.size && written == other.written;
  }
};

// The identity of what a listing or an attribute query shows: a file's size and last write
// time, or a folder's all ones.
inline FileIdentity IdentityFrom(DWORD attributes, DWORD sizeHigh, DWORD sizeLow,
                                 const FILETIME& written) {
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  FileIdentity identity;
  identity.present = true;
  identity.size = folder ? ~0ull : (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  identity.written =
      folder ? ~0ull
             : (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return identity;
}

// What the checks before a run found at a name's path in one run folder, from the folder
// listings they read anyway; unknown where a check ended before it could tell.
struct CheckedFile {
  bool known = false;
  FileIdentity identity;
};

}  // namespace quorvel
