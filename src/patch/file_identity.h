#pragma once

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

// What the checks before a run found at a name's path in one run folder, from the folder
// listings they read anyway; unknown where a check ended before it could tell.
struct CheckedFile {
  bool known = false;
  FileIdentity identity;
};

}  // namespace quorvel
