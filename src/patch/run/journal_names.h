#pragma once

// The files a run keeps beside the game's and the backup's files, which no listed name may take.

#include "foundation/shared_string.h"

namespace quorvel {

constexpr wchar_t kJournalName[] = L"Quorvel.journal";
// The journal is written here first and renamed into place, so that it is never seen half
// written.
constexpr wchar_t kJournalDraftName[] = L"Quorvel.journal.new";
// A damaged journal is renamed to this, with -2, -3, ... when the name is taken.
constexpr wchar_t kJournalDamagedName[] = L"Quorvel.journal.damaged";
// In the backup folder: held by the run that uses it, from its checks to its end, so that games
// sharing one backup folder take turns; it names the application folder of the last run that
// used it ("<file index hex>\t<folder>\n"), whose files there an unfinished run still needs.
constexpr wchar_t kBackupLockName[] = L"Quorvel.journal.backup-lock";

// Whether a listed name would take one of the journal's own names in the application folder.
bool IsJournalName(const SharedWString& name);

}  // namespace quorvel
