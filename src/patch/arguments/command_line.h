#pragma once

#include <list>

#include "foundation/char_buffer.h"
#include "foundation/dyn_array.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The run's arguments in command-line order; the argument parse consumes them from the front.
using ArgumentList = std::list<SharedWString>;

// Splits commandLine by the run's own rules: only the space separates, a double quote switches
// spaces between separating and ordinary and is dropped, and nothing escapes. The arguments are
// copied one after another into buffer, each ended by a zero character, and their starts are
// appended to starts. Logs "Argument List:" and one tab-indented line per argument. False, with
// the reason logged, for a null command line or an unclosed quote; false also when the scratch
// storage cannot grow, since a missing argument would shift every later one into the wrong
// field. After a failure buffer and starts hold partial results.
bool TokenizeCommandLine(const wchar_t* commandLine, CharBuffer& buffer,
                         DynArray<wchar_t*>& starts);

// Replaces the contents of arguments by the arguments of commandLine. False, logged, when the
// command line cannot be split; arguments is then left as it was.
bool BuildArgumentList(const wchar_t* commandLine, ArgumentList& arguments);

// Moves the first argument into destination. False when the list is empty (destination
// untouched) or when the argument moved was empty.
bool PopFront(ArgumentList& arguments, SharedWString& destination);

}  // namespace quorvel
