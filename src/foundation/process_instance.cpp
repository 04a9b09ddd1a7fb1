#include "foundation/process_instance.h"

#include <cstring>

#include "files/path_strings.h"
#include "foundation/format.h"

namespace quorvel {

ProcessInstance::ProcessInstance() : mutex_(SharedString(), false, 0) {
  executableName_ = ExecutableFileName();
  RemoveExtension(executableName_);
  executableName_.MakeUnique();
  _strlwr(executableName_.Buffer());
  AppendUnsigned(instanceText_, mutex_.Create(0, executableName_));
}

}  // namespace quorvel
