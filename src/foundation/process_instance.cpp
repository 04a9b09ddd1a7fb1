#include "foundation/process_instance.h"

#include <cstring>

#include "foundation/format.h"
#include "foundation/path_strings.h"

namespace quorvel {

ProcessInstance::ProcessInstance() : mutex_(SharedString(), false, 0) {
  executableName_ = ExecutableFileName();
  RemoveExtension(executableName_);
  executableName_.MakeUnique();
  _strlwr(executableName_.Buffer());
  AppendUnsigned(instanceText_, mutex_.Create(0, executableName_));
}

}  // namespace quorvel
