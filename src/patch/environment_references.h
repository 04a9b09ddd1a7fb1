#pragma once

#include "foundation/shared_string.h"

namespace quorvel {

// Expands %NAME% references from the process environment: an unset name gives the empty text,
// %% gives one percent sign, a lone trailing % disappears, and an unterminated reference takes
// the rest of the text as its name. An inserted value is scanned again, so a value may refer to
// other variables; a reference to a variable whose value is being expanded at that place is
// left as it stands, so values that refer to themselves or to each other still end.
SharedWString ExpandEnvironmentReferences(const SharedWString& text);

}  // namespace quorvel
