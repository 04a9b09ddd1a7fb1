#pragma once

#include "foundation/shared_string.h"

namespace quorvel {

// Expands %NAME% references from the process environment: an unset name gives the empty text,
// %% gives one percent sign, a lone trailing % disappears, and an unterminated reference takes
// the rest of the text as its name. An inserted value is scanned again, so a value may refer to
// other variables; a reference to a variable whose value is being expanded at that place is
// left as it stands, so values that refer to themselves or to each other still end.
SharedWString ExpandEnvironmentReferences(const SharedWString& text);

// Expands the references in a text of arguments, each in double quotes, as above, and makes
// each argument reach a program as written when the C runtime or CommandLineToArgvW splits
// the text: backslashes that end up before a double quote are doubled, and a double quote that
// a value brought in is escaped, so that it stays inside its argument.
SharedWString ExpandQuotedArguments(const SharedWString& arguments);

}  // namespace quorvel
