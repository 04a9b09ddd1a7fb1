#pragma once

#include <windows.h>

#include "foundation/shared_string.h"
#include "patch/run/patch_run.h"

namespace quorvel {

// The last step of a run: starts the post-patch command (normally the launcher).
HRESULT RunPostPatchCommand(PatchRun& run);

// The launcher's file name, looked for in the application folder (and fetched from the patch or
// backup folder) when the command line named no command that exists.
extern const wchar_t kDefaultLauncher[];

// True when some process that this process can open runs the executable at commandPath. The
// system names images without a drive, so a process counts when its path matches and the
// command's drive is the drive of the current directory.
bool IsLauncherRunning(const SharedWString& commandPath);

}  // namespace quorvel
