#pragma once

#include <cstddef>
#include <string>

namespace quorvel::bench {

// CreateProcessW's limit for a command line, terminator included.
constexpr size_t kCommandLineLimit = 32767;

// The arguments that QuorvelW receives for a run of the first count patch names, as a launcher
// installed under Program Files writes them: display text, process id, the three folders, the
// count, the names and the launcher to restart.
std::wstring RunArguments(size_t count);
// The whole command line of the rundll32 process that the launcher starts for that run.
std::wstring HostCommandLine(size_t count);
// The largest count whose host command line stays within kCommandLineLimit.
size_t LargestPatchOnOneCommandLine();

}  // namespace quorvel::bench
