#pragma once

#include <windows.h>

#include <memory>

#include "foundation/shared_string.h"
#include "patch/run/name_list.h"
#include "patch/texts/player_texts.h"
#include "patch/window/run_progress.h"

namespace quorvel {

class HeldFolders;
class ProgressWindowThread;
class RunPlan;

// The record of one patch run, owned by the entry point for the length of the call.
struct PatchRun {
  PatchRun();
  PatchRun(const PatchRun&) = delete;
  PatchRun& operator=(const PatchRun&) = delete;
  // Closes the progress window first (and waits for its thread), then releases the rest from
  // displayText back to patchDirectory.
  ~PatchRun();

  // Where the run reports its progress: the progress window while there is one, else nowhere.
  RunProgress& Progress() const;

  DWORD parentPid = 0;
  SharedWString patchDirectory;
  SharedWString applicationDirectory;
  SharedWString backupDirectory;
  NameList files;         // still to apply, in command-line order
  NameList appliedFiles;  // applied in this run, in the order applied
  SharedWString postPatchCommand;
  SharedWString postPatchArguments;
  std::unique_ptr<ProgressWindowThread> progressWindow;
  SharedWString displayText;
  // What the player reads: the module's texts in the player's language and the studio's own
  // (-texts); a quiet run (-quiet) shows no box and leaves telling the player to the launcher.
  PlayerTexts texts;
  bool quiet = false;
  // The folders held against a swap while the files move, or null.
  HeldFolders* heldFolders = nullptr;
  // The plan the checks built, for as long as the files move; null outside that.
  RunPlan* plan = nullptr;
};

}  // namespace quorvel
