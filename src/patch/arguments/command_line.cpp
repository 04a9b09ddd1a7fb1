#include "patch/arguments/command_line.h"

#include <cwchar>

#include "foundation/run_log.h"

namespace quorvel {

bool TokenizeCommandLine(const wchar_t* commandLine, CharBuffer& buffer,
                         DynArray<wchar_t*>& starts) {
  if (commandLine == nullptr) {
    RunLog::Write("Error: No command line given\n");
    return false;
  }
  // Every argument of n characters uses at least n + 1 characters of the input (its own and
  // the space or end that closes it), so the copies with their terminators always fit.
  const uint64_t bytes = 2 * (static_cast<uint64_t>(std::wcslen(commandLine)) + 1);
  if (bytes > 0xFFFFFFFFu ||
      !buffer.Resize(static_cast<uint32_t>(bytes), CharBuffer::GrowByPolicy)) {
    return false;
  }
  wchar_t* out = static_cast<wchar_t*>(buffer.Data());
  wchar_t* argument = nullptr;
  bool quoted = false;
  for (const wchar_t* in = commandLine;; ++in) {
    const wchar_t c = *in;
    if (c == 0 || (c == L' ' && !quoted)) {
      if (argument != nullptr) {
        *out++ = 0;
        if (!starts.Append(argument)) {
          return false;
        }
        argument = nullptr;
      }
    } else if (c == L'"') {
      quoted = !quoted;
    } else {
      if (argument == nullptr) {
        argument = out;
      }
      *out++ = c;
    }
    if (c == 0) {
      break;
    }
  }
  if (quoted) {
    RunLog::Write("Error: Mismatched quote (\")\n");
    return false;
  }
  RunLog::Write("Argument List:\n");
  for (uint32_t i = 0; i < starts.Count(); ++i) {
    RunLog::Write("\t%ls\n", starts[i]);
  }
  return true;
}

bool BuildArgumentList(const wchar_t* commandLine, ArgumentList& arguments) {
  CharBuffer buffer;
  DynArray<wchar_t*> starts;
  if (!TokenizeCommandLine(commandLine, buffer, starts)) {
    RunLog::Write("Could not parse the command line to get the argument list\n");
    return false;
  }
  arguments.clear();
  for (uint32_t i = 0; i < starts.Count(); ++i) {
    arguments.emplace_back(starts[i]);
  }
  return true;
}

bool PopFront(ArgumentList& arguments, SharedWString& destination) {
  if (arguments.empty()) {
    return false;
  }
  destination = arguments.front();
  arguments.pop_front();
  return !destination.IsEmpty();
}

}  // namespace quorvel
