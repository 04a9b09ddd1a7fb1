#pragma once

#include <windows.h>

#include "patch/run_journal.h"

namespace quorvel {

// Puts every file of a run that was cut short back as it was before that run: the old file in
// the game folder, the new one in the patch folder, a file new in that patch out of the game,
// and the folders that run emptied or created removed. Each step is logged, and recorded in the
// journal (in backupDirectory) before it happens, so that a restore cut short is finished by the
// next run too. Returns S_OK, or the error of the first file that could not be put back (the
// rest are left as they are) or of the journal that cannot be written.
HRESULT RestoreCutShortRun(const JournalContent& journal, const SharedWString& backupDirectory);

}  // namespace quorvel
