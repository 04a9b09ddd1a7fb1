#pragma once

#include <windows.h>

#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"
#include "patch/run/patch_run.h"

namespace quorvel {

// One run at a time on a game: a run holds this file in the application folder open without
// sharing from before its checks until its launcher has been started, and a second run on the
// same folder waits for it. A file inside the folder is the same file however the folder is
// spelt (another drive letter, a short name, a junction, other case), which a name made from
// the path's text would not be. Its holder removes it when done; one left by a killed run is
// taken over by the next. Its name begins with the journal's, so no listed name can take it.
constexpr wchar_t kGameLockName[] = L"Quorvel.journal.lock";

// How long a run waits for another run on the same game before it gives up.
constexpr DWORD kGameLockWaitMilliseconds = 30 * 60 * 1000;

// The result of a run that gave up waiting for another run on the same game.
constexpr HRESULT kGameLockTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

// Sets how long Take waits (tests wait less; the product never changes it). Returns the previous.
DWORD SetGameLockWait(DWORD milliseconds);

class GameLock {
 public:
  GameLock() = default;
  GameLock(const GameLock&) = delete;
  GameLock& operator=(const GameLock&) = delete;
  ~GameLock() { Release(); }

  // Takes the lock of the run's application folder, waiting while another run holds it (logged,
  // and told to the run's progress). S_OK once held, and also when it cannot be taken for
  // another reason (logged; a folder that the checks will refuse is left to them): the run then
  // goes on as it would have alone. kGameLockTimedOut when the other run held it past the limit,
  // with nothing changed.
  HRESULT Take(const PatchRun& run);
  // Removes the lock file (never through a link) and lets the next run on the game go on.
  void Release();

 private:
  ScopedFileHandle file_;
  bool verified_ = false;
};

}  // namespace quorvel
