#pragma once

#include <cstdint>

#include "foundation/critical_section.h"
#include "foundation/named_mutex.h"
#include "foundation/shared_string.h"

namespace quorvel {

// Marks this process as one running instance of its executable while the library is loaded:
// it holds the mutex "<executable base name, lower case>_<n>" with the first free n from 1.
class ProcessInstance {
 public:
  // Claims the number; when none can be claimed the instance number stays 0.
  ProcessInstance();
  ProcessInstance(const ProcessInstance&) = delete;
  ProcessInstance& operator=(const ProcessInstance&) = delete;

  uint32_t InstanceNumber() const { return mutex_.InstanceNumber(); }

 private:
  CriticalSection section_;
  // The executable's file name without directory and extension, in lower case.
  SharedString executableName_;
  // The instance number in decimal.
  SharedString instanceText_;
  NamedMutex mutex_;
};

}  // namespace quorvel
