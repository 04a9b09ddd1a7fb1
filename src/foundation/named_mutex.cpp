#include "foundation/named_mutex.h"

#include <utility>

#include "foundation/format.h"
#include "foundation/path_strings.h"

namespace quorvel {

SharedString ExecutableFileName() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  SharedString name(path);
  FileNamePart(name);
  return name;
}

NamedMutex::NamedMutex(const SharedString& baseName, bool createNow, uint32_t instanceNumber)
    : baseName_(baseName) {
  if (createNow) {
    Create(instanceNumber, SharedString());
  }
}

NamedMutex::~NamedMutex() {
  Close();
  fullName_.Clear();
  baseName_.Clear();
}

uint32_t NamedMutex::Create(uint32_t instanceNumber, const SharedString& baseName) {
  if (handle_.IsValid()) {
    return instanceNumber_;
  }
  if (!baseName.IsEmpty()) {
    baseName_ = baseName;
  }
  if (baseName_.IsEmpty()) {
    baseName_ = ExecutableFileName();
  }
  uint32_t n = instanceNumber == 0 ? 1 : instanceNumber;
  SharedString name;
  for (uint32_t tries = 0; tries < kNamedMutexMaxTries; ++tries, ++n) {
    Format(name, "%s_%d", baseName_.Chars(), static_cast<int>(n));
    SetLastError(0);
    ScopedHandle mutex(CreateMutexA(nullptr, FALSE, name.Chars()));
    const DWORD error = GetLastError();
    if (!mutex.IsValid()) {
      continue;
    }
    if (error != ERROR_ALREADY_EXISTS) {
      handle_ = std::move(mutex);
      instanceNumber_ = n;
      fullName_ = name;
      break;
    }
    // Another process holds this number.
    if (instanceNumber != 0) {
      break;
    }
  }
  return instanceNumber_;
}

void NamedMutex::Close() {
  if (handle_.IsValid()) {
    handle_.Reset();
    instanceNumber_ = 0;
  }
}

}  // namespace quorvel
