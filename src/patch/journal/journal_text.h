#pragma once

// The run journal's text, as its header describes it: written and parsed here only.

#include <cstddef>
#include <cstdint>

#include "foundation/shared_string.h"
#include "patch/checks/run_plan.h"
#include "patch/journal/journal_records.h"

namespace quorvel {

class FilePath;

constexpr wchar_t kJournalFirstLine[] = L"Quorvel run journal 2";

// Whether the run's folder is the folder the journal names: by its final path, or by its file
// index (0: unknown), which does not follow the drive letter it is reached through, where the
// journal's path still leads to that folder.
bool IsJournalFolder(const PlanFolder& folder, const SharedWString& journaled, uint64_t index);

// IsJournalFolder for the journal in the run's own application folder: a journal whose folders
// were reached through a drive letter that is gone since (the player removed it) names them at
// the same places below the folder that drive stood for, which the journal's application folder,
// holding the journal, shows.
bool IsRunJournalFolder(const PlanFolder& folder, const PlanFolder& application,
                        const SharedWString& journaledApplication, const SharedWString& journaled,
                        uint64_t index);

// Queries path: what stands there now. A folder, or a path that cannot be queried, is present
// with size and time all ones, which no file of a journal has.
FileIdentity IdentityOf(FilePath& path);
// Appends "-" or "<size hex>:<last write time hex>".
void AppendIdentity(SharedWString& text, const FileIdentity& identity);
// Parses the text after the byte order mark; false when it is not a whole journal: a header
// out of order, a count that does not fit the lines, a record for no listed file or of no known
// step, or anything after the closing record.
bool ParseJournal(const wchar_t* text, size_t length, JournalContent& content);

}  // namespace quorvel
