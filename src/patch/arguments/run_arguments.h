#pragma once

#include <windows.h>

#include "patch/arguments/command_line.h"
#include "patch/run/patch_run.h"

namespace quorvel {

// The first step of a run: reads the command line into run; E_INVALIDARG for a malformed or
// incomplete one. Before the process id, in any order and each once, stand the options -text
// <display text>, -texts <studio texts file> (ReadStudioTexts) and -quiet.
HRESULT ParseRunArguments(PatchRun& run, const wchar_t* commandLine);

// The two tails of the run's command line; ParseRunArguments calls them in this
// order after the three directories. Both log every failure and return E_INVALIDARG for it.

// Reads the file count and that many non-empty file names into run.files (emptied first); or,
// when the count's argument is "@" and a path, the names of that list file (ReadFileList).
HRESULT ParseFileList(PatchRun& run, ArgumentList& arguments);

// Reads the post-patch command and joins every remaining argument, each in double quotes, into
// run.postPatchArguments. When no file or folder of the command's name exists, that name
// becomes the first argument and the launcher's own executable, read from the parentPid
// process, the command; the command stays empty when the process cannot be asked.
HRESULT BuildPostPatchCommand(PatchRun& run, ArgumentList& arguments);

}  // namespace quorvel
