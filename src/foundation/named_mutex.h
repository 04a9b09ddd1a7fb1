#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"

namespace quorvel {

// How many numbers NamedMutex::Create tries before it gives up: a name that can never be
// created (taken by an object of another kind, or not accessible) must not spin for ever.
constexpr uint32_t kNamedMutexMaxTries = 256;

// A numbered, process-shared mutex named "<base>_<number>". The first number whose mutex this
// process creates is held until Close or destruction; holding it marks one running instance.
class NamedMutex {
 public:
  // Stores baseName; with createNow, claims a number at once as Create(instanceNumber, "") does.
  NamedMutex(const SharedString& baseName, bool createNow, uint32_t instanceNumber);
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  // Closes the mutex, then releases the names.
  ~NamedMutex();

  // Claims a number unless one is held already. A non-empty baseName replaces the stored one;
  // an empty stored base name becomes the executable's file name. Instance number 0 takes the
  // first free number from 1 on; a non-zero number that another process holds fails. Returns
  // the number held afterwards, 0 when none is held (nothing changes on failure).
  uint32_t Create(uint32_t instanceNumber, const SharedString& baseName);
  // Lets go of the mutex; the instance number becomes 0.
  void Close();

  uint32_t InstanceNumber() const { return instanceNumber_; }

 private:
  ScopedHandle handle_;
  SharedString baseName_;
  uint32_t instanceNumber_ = 0;
  SharedString fullName_;
};

// The file name of the process's executable, without its directory; empty when the system
// cannot name it.
SharedString ExecutableFileName();

}  // namespace quorvel
